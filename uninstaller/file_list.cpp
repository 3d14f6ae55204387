#include "uninstaller/file_list.h"

#include "uninstaller/paths.h"
#include "win/product_names.h"
#include "win/relative_path.h"
#include "win/text.h"

#include <set>

FileList parseFileList(std::string_view utf8) {
    if (utf8.starts_with("\xEF\xBB\xBF"))
        utf8.remove_prefix(3);
    FileList list;
    std::set<std::wstring> seen;
    while (!utf8.empty()) {
        const size_t end = utf8.find('\n');
        std::string_view line = utf8.substr(0, end);
        utf8 = end == std::string_view::npos ? std::string_view() : utf8.substr(end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos)
            continue;
        if (!isValidUtf8(line)) {
            list.rejected.push_back(fromUtf8(line));
            continue;
        }
        std::wstring path = fromUtf8(line);
        for (wchar_t& c : path)
            if (c == L'/')
                c = L'\\';
        if (!isSafeRelativePath(path)) {
            list.rejected.push_back(std::move(path));
            continue;
        }
        if (seen.insert(pathKey(path)).second)
            list.entries.push_back(std::move(path));
    }
    return list;
}

std::vector<std::wstring> defaultProductFiles() {
    return {productExeName, serviceExeName, uninstallerName};
}

std::vector<std::wstring> withInstallerFiles(std::vector<std::wstring> entries) {
    for (const wchar_t* own : {uninstallerName, fileListName}) {
        bool listed = false;
        for (const std::wstring& entry : entries)
            listed = listed || samePath(entry, own);
        if (!listed)
            entries.emplace_back(own);
    }
    return entries;
}
