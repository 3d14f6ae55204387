#pragma once

#include <windows.h>

#include <gdiplus.h>

Gdiplus::GraphicsPath* buildLogoPath();
