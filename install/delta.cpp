#include "install/delta.h"

#include "install/manifest.h"
#include "net/sha256.h"
#include "win/folders.h"
#include "win/relative_path.h"

#include <windows.h>

#include <map>
#include <set>

namespace {
bool sameFacts(const FileFacts& facts, const ManifestEntry& entry) {
    return facts.size == entry.size && facts.sha256 == entry.sha256;
}

bool isDeltaOwnFile(const std::wstring& path) {
    return upperCaseKey(path) == upperCaseKey(manifestName) ||
           upperCaseKey(path) == upperCaseKey(removedListName);
}
} // namespace

std::wstring checkStagedDelta(const StagedDelta& staged, const FileReader& readFile, DeltaPlan& plan) {
    plan = {};
    if (sha256Of(staged.manifest) != staged.manifestSha256)
        return L"its manifest is not the one its row names";
    std::vector<ManifestEntry> entries;
    std::wstring problem;
    if (!parseManifest(staged.manifest, entries, problem))
        return L"its manifest is unreadable: " + problem;
    std::vector<std::wstring> removed;
    if (!parsePathList(staged.removedList, removed, problem))
        return L"its list of files to remove is unreadable: " + problem;

    std::map<std::wstring, const ManifestEntry*> byKey;
    for (const ManifestEntry& entry : entries)
        byKey[upperCaseKey(entry.path)] = &entry;
    for (const std::wstring& path : removed)
        if (byKey.contains(upperCaseKey(path)) || isDeltaOwnFile(path))
            return path + L" is both installed and removed";
    std::set<std::wstring> stagedKeys;
    for (const std::wstring& path : staged.stagedFiles) {
        if (isDeltaOwnFile(path))
            continue;
        if (!byKey.contains(upperCaseKey(path)))
            return path + L" is in the delta but not in its manifest";
        stagedKeys.insert(upperCaseKey(path));
    }

    for (const ManifestEntry& entry : entries) {
        FileFacts facts;
        if (stagedKeys.contains(upperCaseKey(entry.path))) {
            if (!readFile(joinPath(staged.stagingFolder, entry.path), facts) || !sameFacts(facts, entry))
                return entry.path + L" in the delta differs from its manifest";
            plan.placed.push_back(entry.path);
        } else if (!readFile(joinPath(staged.installFolder, entry.path), facts) || !sameFacts(facts, entry)) {
            return entry.path + L" is not installed as the release has it";
        }
    }
    plan.placed.push_back(manifestName);
    plan.removed = removed;
    return {};
}

bool readFileFacts(const std::wstring& path, FileFacts& facts) {
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes) ||
        (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    facts.size = (static_cast<uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
    facts.sha256 = sha256File(path);
    return !facts.sha256.empty();
}

std::wstring sha256Of(const std::string& bytes) {
    Sha256 running = startSha256();
    if (!addToSha256(running, bytes.data(), bytes.size()))
        return {};
    return sha256Hex(running);
}
