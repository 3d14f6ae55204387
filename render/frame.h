// The frame painter: double buffer, chrome, decorative side panel and the page dispatch.
#pragma once

#include <windows.h>

#include <gdiplus.h>

inline constexpr int sidebarWidth = 230;
inline constexpr int contentLeft = 266;
inline constexpr int windowBackground = static_cast<int>(0xFF12141A);

// UI thread, inside WM_PAINT: paints the whole client area of window into dc.
void paintWindow(HWND window, HDC dc);

// Where a frame's side panel comes from: the copy kept from an earlier frame, or painted afresh
// (the same pixels, at several times the cost).
enum class PanelSource { Cached, Painted };

// Paints a frame of the given size into an off-screen bitmap and copies it to dc in one BitBlt,
// so the window never shows a half-drawn frame.
void paintBuffered(HDC dc, int width, int height, PanelSource panel = PanelSource::Cached);

// Paints the whole client area of the given size into a graphics on a DC (the off-screen buffer).
void paintFrame(Gdiplus::Graphics& graphics, int width, int height, PanelSource panel = PanelSource::Cached);

void paintSidebar(Gdiplus::Graphics& graphics, int height);
