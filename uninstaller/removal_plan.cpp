#include "uninstaller/removal_plan.h"

#include "uninstaller/file_list.h"
#include "uninstaller/paths.h"
#include "win/product_names.h"

#include <algorithm>
#include <map>
#include <set>

namespace {

size_t depth(const std::wstring& relative) {
    return static_cast<size_t>(std::ranges::count(relative, L'\\'));
}

bool isLastFile(const std::wstring& relative) {
    return samePath(relative, uninstallerName) || samePath(relative, fileListName);
}

} // namespace

RemovalPlan planRemoval(const std::vector<std::wstring>& listed, const EntryProbe& probe) {
    RemovalPlan plan;
    std::map<std::wstring, EntryKind> kinds; // by pathKey: each folder is probed once
    const auto kindOf = [&](const std::wstring& relative) {
        const std::wstring key = pathKey(relative);
        auto found = kinds.find(key);
        if (found == kinds.end())
            found = kinds.emplace(key, probe(relative)).first;
        return found->second;
    };
    std::set<std::wstring> plannedFolders;
    std::set<std::wstring> plannedFiles;

    for (const std::wstring& entry : listed) {
        if (!plannedFiles.insert(pathKey(entry)).second)
            continue;
        std::vector<std::wstring> folders;
        bool reachable = true;
        bool behindLink = false;
        for (size_t slash = entry.find(L'\\'); slash != std::wstring::npos;
             slash = entry.find(L'\\', slash + 1)) {
            const std::wstring folder = entry.substr(0, slash);
            const EntryKind kind = kindOf(folder);
            if (kind != EntryKind::Folder) {
                reachable = false;
                behindLink = kind == EntryKind::Link;
                break;
            }
            folders.push_back(folder);
        }
        for (const std::wstring& folder : folders)
            if (plannedFolders.insert(pathKey(folder)).second)
                plan.folders.push_back(folder);
        if (behindLink) {
            plan.skipped.push_back(entry);
            continue;
        }
        if (!reachable)
            continue;
        switch (kindOf(entry)) {
        case EntryKind::Missing:
            break;
        case EntryKind::File:
            (isLastFile(entry) ? plan.lastFiles : plan.files).push_back(entry);
            break;
        case EntryKind::Folder:
        case EntryKind::Link:
            plan.skipped.push_back(entry);
            break;
        }
    }
    std::ranges::stable_sort(
        plan.folders, [](const std::wstring& a, const std::wstring& b) { return depth(a) > depth(b); });
    return plan;
}

bool planFindsFiles(const RemovalPlan& plan, const std::wstring& exceptRelative) {
    if (!plan.files.empty())
        return true;
    return std::ranges::any_of(plan.lastFiles,
                               [&](const std::wstring& file) { return !samePath(file, exceptRelative); });
}
