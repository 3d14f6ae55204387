// Owners, by path, of what an install run makes in the temporary folder: the downloaded package and
// the folder it is unpacked into. Each is deleted when its owner lets go of it, on every path.
#pragma once

#include "win/folders.h"
#include "win/handles.h"

#include <windows.h>

#include <string>

struct TemporaryFileTraits {
    using Value = std::wstring;
    static Value empty() { return {}; }
    static void close(const Value& path) { DeleteFileW(path.c_str()); }
};

// What cannot be removed stays; an owner's destructor must not throw.
struct TemporaryFolderTraits {
    using Value = std::wstring;
    static Value empty() { return {}; }
    static void close(const Value& path) {
        try {
            removeTree(path);
        } catch (...) {
        }
    }
};

using UniqueTemporaryFile = UniqueHandle<TemporaryFileTraits>;
using UniqueTemporaryFolder = UniqueHandle<TemporaryFolderTraits>;
