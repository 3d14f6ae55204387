#include "uninstaller/shortcuts.h"

#include "win/com.h"
#include "win/folders.h"
#include "win/handles.h"
#include "win/paths.h"
#include "win/product_names.h"

#include <shlobj.h>
#include <shobjidl.h>

ShortcutLocations productShortcutLocations() {
    ShortcutLocations locations;
    const std::wstring desktop = knownFolderPath(CSIDL_DESKTOP);
    if (!desktop.empty())
        locations.links.push_back(joinPath(desktop, shortcutFileName));
    const std::wstring programs = knownFolderPath(CSIDL_PROGRAMS);
    if (!programs.empty()) {
        locations.startMenuFolder = joinPath(programs, startMenuFolderName);
        locations.links.push_back(joinPath(locations.startMenuFolder, shortcutFileName));
    }
    return locations;
}

std::wstring readShortcutTarget(const std::wstring& linkPath) {
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.putVoid())))
        return {};
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.putVoid())) ||
        FAILED(file->Load(linkPath.c_str(), STGM_READ)))
        return {};
    // The stored target as it is (resolving could search the disk for a moved one). The item
    // list keeps every character of the name; GetPath may give it in the ANSI code page.
    wchar_t target[MAX_PATH] = {};
    UniqueCoTaskMem<ITEMIDLIST_ABSOLUTE> items;
    if (SUCCEEDED(link->GetIDList(items.put())) && items && SHGetPathFromIDListW(items.get(), target))
        return target;
    if (link->GetPath(target, MAX_PATH, nullptr, 0) != S_OK)
        return {};
    return target;
}
