// The frame painter: double buffer, chrome, decorative side panel and the page dispatch.
#pragma once

#include "render/palette.h"
#include "win/handles.h"

#include <windows.h>

#include <gdiplus.h>

#include <memory>

inline constexpr int appIconResource = 101;

// Starts GDI+ for the lifetime of the object.
class GdiplusSession {
  public:
    GdiplusSession();
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;
    ~GdiplusSession();

  private:
    ULONG_PTR token_ = 0;
};

// The side panel as painted for one height, scale, colours, logo and icon.
struct SidebarCache {
    UniqueGdiObject bitmap;
    int height = 0;
    float scale = 0.0f;
    Gdiplus::ARGB background = 0;
    Gdiplus::ARGB logoColour = 0;
    const void* logo = nullptr;
    const void* icon = nullptr;
};

// What painting keeps for the whole run; UI thread only. Owned by the entry point and released
// before GdiplusShutdown.
struct RenderResources {
    std::unique_ptr<Gdiplus::GraphicsPath> logoPath;
    std::unique_ptr<Gdiplus::Bitmap> appIcon;
    // The setup's own colours, or the system's in high contrast (WM_SETTINGCHANGE switches them).
    Palette palette = paletteFor(false, {});
    // The panel never changes while the timer repaints 60 times a second: painted once, then copied.
    SidebarCache sidebarCache;
};

// The wordmark's path and icon 101 of the module at 256 x 256 (null when it cannot be loaded).
// GDI+ must be started.
RenderResources loadRenderResources(HINSTANCE instance);

// UI thread, inside WM_PAINT: paints the whole client area of window into dc at the window's scale
// (setupState.scale).
void paintWindow(HWND window, HDC dc, RenderResources& resources);

// Where a frame's side panel comes from: the copy kept from an earlier frame, or painted afresh
// (the same pixels, at several times the cost).
enum class PanelSource { Cached, Painted };

// Paints a frame of the given size into an off-screen bitmap and copies it to dc in one BitBlt,
// so the window never shows a half-drawn frame.
void paintBuffered(HDC dc, int width, int height, RenderResources& resources,
                   PanelSource panel = PanelSource::Cached);

// Paints the whole client area of the given size into a graphics on a DC (the off-screen buffer).
void paintFrame(Gdiplus::Graphics& graphics, int width, int height, RenderResources& resources,
                PanelSource panel = PanelSource::Cached);

void paintSidebar(Gdiplus::Graphics& graphics, int height, float scale, const RenderResources& resources);
