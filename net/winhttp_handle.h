// Owner of a WinHTTP session, connection or request handle.
#pragma once

#include "win/handles.h"

#include <winhttp.h>

struct WinHttpHandleTraits {
    using Value = HINTERNET;
    static Value empty() { return nullptr; }
    static void close(Value h) { WinHttpCloseHandle(h); }
};

using UniqueWinHttp = UniqueHandle<WinHttpHandleTraits>;
