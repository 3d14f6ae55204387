// Writes the layout of every page and status of the setup's window as JSON, for the end-to-end
// tour's click points and pixel probes: {"width", "height", "layouts": [{"page", "status",
// "rects": {name: [left, top, right, bottom] or null when the page does not show it}}]}.
// Usage: layout_table <file.json>
#include "app/main_window.h"
#include "render/layout.h"
#include "tests/support/layout_rects.h"

#include <cstdio>
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
    if (argc != 2) {
        std::fputs("usage: layout_table <file.json>\n", stderr);
        return 2;
    }
    std::ofstream out{std::filesystem::path(argv[1])};
    out << "{\"width\": " << windowWidth << ", \"height\": " << windowHeight << ", \"layouts\": [";
    const char* separator = "\n";
    for (SetupPage page : allPages)
        for (SetupStatus status : allStatuses) {
            out << separator << "{\"page\": \"" << pageNames[static_cast<int>(page)] << "\", \"status\": \""
                << statusNames[static_cast<int>(status)] << "\", \"rects\": {";
            writeRects(out, layoutFor({page, status, windowWidth, windowHeight}));
            out << "}}";
            separator = ",\n";
        }
    out << "\n]}\n";
    out.close();
    return out ? 0 : 1;
}
