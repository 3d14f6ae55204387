#pragma once
#include <gdiplus.h>
#include <windows.h>
Gdiplus::GraphicsPath* buildLogoPath();
