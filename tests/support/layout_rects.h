// Every rectangle of a layout with a name, for the layout tests and the table the tour reads.
#pragma once

#include "render/layout.h"

#include <string>
#include <vector>

struct NamedRect {
    std::string name;
    RECT rect;
};

inline std::vector<NamedRect> namedRects(const Layout& layout) {
    std::vector<NamedRect> rects = {
        {"window", layout.window},
        {"sidePanel", layout.sidePanel.panel},
        {"appIcon", layout.sidePanel.appIcon},
        {"titleBar", layout.titleBar},
        {"windowTitle", layout.windowTitle},
        {"closeButton", layout.closeButton},
        {"minimizeButton", layout.minimizeButton},
        {"heading", layout.heading},
        {"primaryButton", layout.primaryButton},
        {"backButton", layout.backButton},
        {"folderPrompt", layout.folderPrompt},
        {"folderBox", layout.folderBox},
        {"folderText", layout.folderText},
        {"browseLink", layout.browseLink},
        {"freeSpace", layout.freeSpace},
        {"termsBox", layout.termsBox},
        {"termsClip", layout.termsClip},
        {"termsText", layout.termsText},
        {"termsScrollTrack", layout.termsScrollTrack},
        {"termsWarning", layout.termsWarning},
        {"statusLine", layout.statusLine},
        {"versionLine", layout.versionLine},
        {"progressBar", layout.progressBar},
        {"transferLine", layout.transferLine},
    };
    const auto addCheckbox = [&](const std::string& name, const CheckboxLayout& checkbox) {
        rects.push_back({name + ".row", checkbox.row});
        rects.push_back({name + ".box", checkbox.box});
        rects.push_back({name + ".label", checkbox.label});
    };
    addCheckbox("desktopShortcut", layout.desktopShortcut);
    addCheckbox("startMenuShortcut", layout.startMenuShortcut);
    addCheckbox("termsAgree", layout.termsAgree);
    for (int i = 0; i < languageCount; ++i) {
        const std::string name = "languageItems." + std::to_string(i);
        const LanguageItemLayout& item = layout.languageItems[i];
        rects.push_back({name + ".row", item.row});
        rects.push_back({name + ".accentBar", item.accentBar});
        rects.push_back({name + ".nativeName", item.nativeName});
        rects.push_back({name + ".englishName", item.englishName});
    }
    return rects;
}
