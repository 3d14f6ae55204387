// Times what WM_PAINT costs on the progress page during a download, where the 16 ms timer repaints
// continuously: paintBuffered into a 780 x 500 target, frame after frame, with the counters moving.
// The same with the side panel painted afresh in every frame instead of copied, and the panel
// alone. Prints key=value lines.
// Usage: frame_bench [frames (500)] [dpi (96): the window's size and scale]
#include "app/main_window.h"
#include "i18n/language_table.h"
#include "render/frame.h"
#include "render/layout.h"
#include "render/logo.h"
#include "state/setup_state.h"
#include "tests/offscreen_target.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

namespace {
LARGE_INTEGER now() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value;
}

double millisecondsSince(LARGE_INTEGER start) {
    LARGE_INTEGER end = now();
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

void printFigures(const char* name, std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    const double median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2.0;
    std::printf("%s_median_ms=%.3f\n%s_min_ms=%.3f\n%s_max_ms=%.3f\n", name, median, name, samples.front(),
                name, samples.back());
}

// Mid-download: 6.2 of 12.5 MB at 1.2 MB/s, the fraction creeping on with every frame.
void showDownload(int frame) {
    setupState.page = SetupPage::ProgressPage;
    const uint64_t total = 13'107'200;
    const uint64_t downloaded = 6'553'600 + static_cast<uint64_t>(frame) * 2'048;
    setupState.totalBytes = total;
    setupState.downloadedBytes = downloaded;
    setupState.progress = static_cast<double>(downloaded) / static_cast<double>(total);
    setupState.downloadSpeed = 1'258'291.0;
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    const int frames = argc > 1 ? std::max(1, static_cast<int>(std::wcstol(argv[1], nullptr, 10))) : 500;
    const long dpi = argc > 2 ? std::max(96L, std::wcstol(argv[2], nullptr, 10)) : 96;
    setupState.scale = static_cast<float>(dpi) / 96.0f;
    const int width = scaledPixels(windowWidth, setupState.scale);
    const int height = scaledPixels(windowHeight, setupState.scale);
    const GdiplusSession gdiplus;
    RenderResources resources = loadRenderResources(GetModuleHandleW(nullptr));
    {
        std::lock_guard lock(setupState.sharedMutex);
        setupState.status = SetupStatus::Downloading;
        setupState.statusText = stringsFor(0).statusDownloading;
    }
    showDownload(0);
    setupState.displayedProgress = static_cast<float>(setupState.progress.load());

    OffscreenTarget target(width, height);
    for (int i = 0; i < 10; ++i) // fonts, glyph caches
        paintBuffered(target.dc.get(), width, height, resources);
    const auto timeFrames = [&](PanelSource panel) {
        std::vector<double> times;
        for (int i = 0; i < frames; ++i) {
            showDownload(i);
            const LARGE_INTEGER start = now();
            paintBuffered(target.dc.get(), width, height, resources, panel);
            GdiFlush();
            times.push_back(millisecondsSince(start));
        }
        return times;
    };
    const std::vector<double> frameTimes = timeFrames(PanelSource::Cached);
    const std::vector<double> uncachedTimes = timeFrames(PanelSource::Painted);

    std::vector<double> panelTimes;
    {
        Gdiplus::Graphics graphics(target.dc.get());
        graphics.SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);
        for (int i = 0; i < frames; ++i) {
            const LARGE_INTEGER start = now();
            paintSidebar(graphics, height, setupState.scale, resources);
            graphics.Flush(Gdiplus::FlushIntentionSync);
            panelTimes.push_back(millisecondsSince(start));
        }
    }
    std::printf("frames=%d\nwidth=%d\nheight=%d\n", frames, width, height);
    printFigures("frame", frameTimes);
    printFigures("uncached", uncachedTimes);
    printFigures("panel", panelTimes);
    return 0;
}
