// A 32-bit top-down DIB selected into a memory DC: stands in for the window's paint DC, so tests
// and benchmarks paint through paintBuffered exactly as WM_PAINT does.
#pragma once

#include "app/handles.h"

#include <windows.h>

#include <cstdint>

struct OffscreenTarget {
    OffscreenTarget(int width, int height) : width(width), height(height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        HDC screen = GetDC(nullptr);
        dc.reset(CreateCompatibleDC(screen));
        void* bits = nullptr;
        dib.reset(CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        ReleaseDC(nullptr, screen);
        pixels = static_cast<uint32_t*>(bits);
        previous = SelectObject(dc.get(), dib.get());
    }
    OffscreenTarget(const OffscreenTarget&) = delete;
    OffscreenTarget& operator=(const OffscreenTarget&) = delete;
    ~OffscreenTarget() { SelectObject(dc.get(), previous); }

    // Opaque ARGB of a pixel; GDI leaves the DIB's alpha byte undefined.
    uint32_t at(int x, int y) const {
        GdiFlush();
        return 0xFF000000u | pixels[y * width + x];
    }

    int width;
    int height;
    UniqueMemoryDc dc;
    UniqueGdiObject dib;
    uint32_t* pixels = nullptr;
    HGDIOBJ previous = nullptr;
};
