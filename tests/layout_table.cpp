// Writes the layout of every page and status of the setup's window as JSON, for the end-to-end
// tour's click points and pixel probes: {"width", "height", "scale", "layouts": [{"page", "status",
// "rects": {name: [left, top, right, bottom] or null when the page does not show it}}]}, in pixels
// of a window at the DPI (96 unless given).
// Usage: layout_table <file.json> [dpi]
#include "app/main_window.h"
#include "render/layout.h"
#include "tests/support/layout_rects.h"

#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>

namespace {
// By the enumerations' values.
const char* const pageNames[] = {"language", "options", "terms", "progress"};
const char* const statusNames[] = {"checking",    "readyToInstall", "updateAvailable", "upToDate",
                                   "downloading", "extracting",     "installing",      "complete",
                                   "failed",      "restoreOffered"};

void writeRects(std::ostream& out, const Layout& layout) {
    const char* separator = "";
    for (const NamedRect& named : namedRects(layout)) {
        out << separator << "\"" << named.name << "\": ";
        const RECT& r = named.rect;
        if (IsRectEmpty(&r))
            out << "null";
        else
            out << "[" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "]";
        separator = ", ";
    }
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2 && argc != 3) {
        std::fputs("usage: layout_table <file.json> [dpi]\n", stderr);
        return 2;
    }
    const float scale = argc == 3 ? static_cast<float>(std::wcstol(argv[2], nullptr, 10)) / 96.0f : 1.0f;
    if (!(scale >= 1.0f)) {
        std::fputs("layout_table: the DPI is 96 or more\n", stderr);
        return 2;
    }
    const int width = scaledPixels(windowWidth, scale);
    const int height = scaledPixels(windowHeight, scale);
    std::ofstream out{std::filesystem::path(argv[1])};
    out << "{\"width\": " << width << ", \"height\": " << height << ", \"scale\": " << scale
        << ", \"layouts\": [";
    const char* separator = "\n";
    for (SetupPage page : allPages)
        for (SetupStatus status : allStatuses) {
            out << separator << "{\"page\": \"" << pageNames[static_cast<int>(page)] << "\", \"status\": \""
                << statusNames[static_cast<int>(status)] << "\", \"rects\": {";
            writeRects(out, layoutFor({page, status, width, height, scale}));
            out << "}}";
            separator = ",\n";
        }
    out << "\n]}\n";
    out.close();
    return out ? 0 : 1;
}
