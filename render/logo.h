#pragma once

#include <windows.h>

#include <gdiplus.h>

// The wordmark outline in its design space (baseline y = 0, letters up to y = -95.41); the caller
// owns the path.
Gdiplus::GraphicsPath* buildLogoPath();
