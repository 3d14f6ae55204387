// A memory DC holding a screen-compatible bitmap: stands in for the window's paint DC, so tests and
// benchmarks paint through paintBuffered exactly as WM_PAINT does. (A 32-bit DIB section would not
// do: GDI+ draws everything on such a DC through its slower alpha-blending path.)
#pragma once

#include "win/handles.h"

#include <windows.h>

#include <cstdint>
#include <vector>

struct OffscreenTarget {
    OffscreenTarget(int width, int height) : width(width), height(height) {
        HDC screen = GetDC(nullptr);
        dc.reset(CreateCompatibleDC(screen));
        bitmap.reset(CreateCompatibleBitmap(screen, width, height));
        ReleaseDC(nullptr, screen);
        previous = SelectObject(dc.get(), bitmap.get());
    }
    OffscreenTarget(const OffscreenTarget&) = delete;
    OffscreenTarget& operator=(const OffscreenTarget&) = delete;
    ~OffscreenTarget() { SelectObject(dc.get(), previous); }

    // The pixels as opaque ARGB, top row first.
    std::vector<uint32_t> capture() const {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        std::vector<uint32_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
        GdiFlush();
        SelectObject(dc.get(), previous);
        GetDIBits(dc.get(), static_cast<HBITMAP>(bitmap.get()), 0, static_cast<UINT>(height), pixels.data(),
                  &info, DIB_RGB_COLORS);
        SelectObject(dc.get(), bitmap.get());
        for (uint32_t& pixel : pixels)
            pixel |= 0xFF000000u;
        return pixels;
    }

    int width;
    int height;
    UniqueMemoryDc dc;
    UniqueGdiObject bitmap;
    HGDIOBJ previous = nullptr;
};
