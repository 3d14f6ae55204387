// The frame painter: double buffer, chrome, decorative side panel and the page dispatch.
#pragma once

#include <windows.h>

#include <gdiplus.h>

inline constexpr int sidebarWidth = 230;
inline constexpr int contentLeft = 266;
inline constexpr int windowBackground = static_cast<int>(0xFF12141A);

// UI thread, inside WM_PAINT: paints the whole client area of window into dc.
void paintWindow(HWND window, HDC dc);

// Paints a frame of the given size into an off-screen bitmap and copies it to dc in one BitBlt,
// so the window never shows a half-drawn frame.
void paintBuffered(HDC dc, int width, int height);

// Paints the whole client area of the given size into a graphics (the off-screen buffer).
void paintFrame(Gdiplus::Graphics& graphics, int width, int height);

void paintSidebar(Gdiplus::Graphics& graphics, int height);
