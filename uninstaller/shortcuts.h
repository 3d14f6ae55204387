// The product's two shortcuts as the setup places them, and what a link file points at.
#pragma once

#include <string>
#include <vector>

struct ShortcutLocations {
    std::vector<std::wstring> links; // desktop link, Start-menu link (those the shell can name)
    std::wstring startMenuFolder;    // "" when the programs folder is unknown
};

// Where the setup puts the links (CSIDL_DESKTOP, and CSIDL_PROGRAMS + "\Ostrel").
ShortcutLocations productShortcutLocations();

// The target path stored in a link file, without resolving it; "" when the file is no link
// or cannot be read. COM must be initialised on the calling thread.
std::wstring readShortcutTarget(const std::wstring& linkPath);
