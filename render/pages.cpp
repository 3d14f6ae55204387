#include "render/pages.h"

#include "i18n/language_table.h"
#include "render/frame.h"
#include "render/widgets.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <filesystem>

using namespace Gdiplus;

namespace {
int contentWidthOf(const PageContext& page) {
    return page.width - 302;
}

RECT bottomRightButton(const PageContext& page) {
    return {page.width - 176, page.height - 60, page.width - 36, page.height - 20};
}
RECT bottomLeftButton(const PageContext& page) {
    return {266, page.height - 60, 406, page.height - 20};
}

void drawNextButton(const PageContext& page, const Font& font) {
    setupState.primaryButton.rect = bottomRightButton(page);
    drawPrimaryButton(page.graphics, setupState.primaryButton.rect, stringsFor(setupState.language).btnNext,
                      font, setupState.primaryButton.hovered, accentColour, accentHoverColour);
}

void drawBackButton(const PageContext& page, const Font& font) {
    setupState.backButton.rect = bottomLeftButton(page);
    drawSecondaryButton(page.graphics, setupState.backButton.rect, stringsFor(setupState.language).btnBack,
                        font, setupState.backButton.hovered);
}

} // namespace

uint64_t freeBytesAt(const std::wstring& folder) {
    std::filesystem::path probe(folder);
    for (;;) {
        ULARGE_INTEGER available{};
        if (GetDiskFreeSpaceExW(probe.c_str(), &available, nullptr, nullptr))
            return available.QuadPart;
        if (!probe.has_relative_path())
            return 0;
        probe = probe.parent_path();
    }
}

void paintLanguagePage(const PageContext& page) {
    Graphics& g = page.graphics;
    const int contentWidth = contentWidthOf(page);
    const Font heading = makeFont(page.family, 10, false);
    const Font native = makeFont(page.family, 11, false);
    const Font english = makeFont(page.family, 9, false);
    const Font button = makeFont(page.family, 10, true);

    drawText(g, stringsFor(setupState.language).selectLanguageTitle, heading, secondaryTextColour, 266, 74);
    for (int i = 0; i < languageCount; ++i) {
        const int y = 118 + 53 * i;
        setupState.languageItemRects[i] = {266, y - 8, page.width - 36, y + 40};
        const bool selected = setupState.language.load() == i;
        if (selected) {
            SolidBrush wash{Color(0x143B82F6)};
            fillRoundedRect(g, wash, 266, y - 8, contentWidth, 48, 8);
            SolidBrush bar{Color(accentColour)};
            fillRoundedRect(g, bar, 266, y, 3, 32, 2);
        } else if (i == setupState.hoverLanguage) {
            SolidBrush wash{Color(0x0AFFFFFF)};
            fillRoundedRect(g, wash, 266, y - 8, contentWidth, 48, 8);
        }
        const LocalizedStrings& own = stringsFor(i);
        drawText(g, own.nameNative, native, selected ? brightTextColour : secondaryTextColour, 286,
                 static_cast<float>(y));
        drawText(g, own.nameEnglish, english, mutedTextColour, 286, static_cast<float>(y + 20));
    }
    drawNextButton(page, button);
}

void paintOptionsPage(const PageContext& page) {
    Graphics& g = page.graphics;
    const LocalizedStrings& text = stringsFor(setupState.language);
    const int contentWidth = contentWidthOf(page);
    const Font title = makeFont(page.family, 12, true);
    const Font small = makeFont(page.family, 9, false);
    const Font tiny = makeFont(page.family, 8, false);
    const Font button = makeFont(page.family, 10, true);

    drawText(g, text.installLocation, title, brightTextColour, 266, 74);
    drawText(g, text.selectFolderPrompt, small, secondaryTextColour, 266, 102);

    const int boxWidth = contentWidth - 86;
    SolidBrush panel{Color(panelColour)};
    fillRoundedRect(g, panel, 266, 139, boxWidth, 42, 6);
    {
        StringFormat format;
        format.SetAlignment(StringAlignmentNear);
        format.SetLineAlignment(StringAlignmentCenter);
        format.SetTrimming(StringTrimmingEllipsisPath);
        SolidBrush brush{Color(secondaryTextColour)};
        const std::wstring& folder = page.shared.installDir;
        g.DrawString(folder.c_str(), static_cast<INT>(folder.size()), &small,
                     RectF(280, 139, static_cast<REAL>(boxWidth - 28), 42), &format, &brush);
    }

    const int linkX = 266 + boxWidth + 16;
    setupState.browseButton.rect = {linkX, 139, linkX + 70, 181};
    {
        StringFormat format;
        format.SetAlignment(StringAlignmentNear);
        format.SetLineAlignment(StringAlignmentCenter);
        SolidBrush brush{Color(setupState.browseButton.hovered ? accentHoverColour : accentColour)};
        const std::wstring label = text.btnChange;
        g.DrawString(label.c_str(), static_cast<INT>(label.size()), &small,
                     RectF(static_cast<REAL>(linkX), 139, 70, 42), &format, &brush);
    }

    drawText(g, formatBytes(freeBytesAt(page.shared.installDir)) + L" Available", tiny, mutedTextColour, 266,
             189);

    SolidBrush labelBrush{Color(secondaryTextColour)};
    setupState.desktopShortcutBox.rect =
        drawCheckbox(g, 266, 213, setupState.createDesktopShortcut, text.optDesktopShortcut, small, panel,
                     labelBrush, 16, contentWidth);
    setupState.startMenuShortcutBox.rect =
        drawCheckbox(g, 266, 237, setupState.createStartMenuShortcut, text.optStartMenuShortcut, small, panel,
                     labelBrush, 16, contentWidth);
    drawBackButton(page, button);
    drawNextButton(page, button);
}

TermsScrollGeometry termsScrollGeometry(int windowHeight, int contentHeight, int scroll) {
    TermsScrollGeometry geometry{};
    geometry.boxHeight = std::max(windowHeight - 252, 80);
    geometry.maxScroll = std::max(0, contentHeight - geometry.boxHeight + 16);
    geometry.scroll = std::max(0, std::min(scroll, geometry.maxScroll));
    if (geometry.maxScroll > 0) {
        const int track = geometry.boxHeight - 8;
        geometry.thumbLength =
            std::max(20, static_cast<int>(static_cast<float>(geometry.boxHeight) /
                                          static_cast<float>(contentHeight) * static_cast<float>(track)));
        geometry.thumbOffset =
            static_cast<int>(static_cast<float>(geometry.scroll) / static_cast<float>(geometry.maxScroll) *
                             static_cast<float>(track - geometry.thumbLength));
    }
    return geometry;
}

void paintTermsPage(const PageContext& page) {
    Graphics& g = page.graphics;
    const LocalizedStrings& text = stringsFor(setupState.language);
    const int contentWidth = contentWidthOf(page);
    const Font title = makeFont(page.family, 12, true);
    const Font body = makeFont(page.family, 8, false);
    const Font label = makeFont(page.family, 9, false);
    const Font button = makeFont(page.family, 10, true);
    const Font warning = makeFont(page.family, 8, false);

    drawText(g, text.termsTitle, title, brightTextColour, 266, 64);
    const int boxHeight = std::max(page.height - 252, 80);
    SolidBrush boxFill{Color(0xFF0E1016)};
    fillRoundedRect(g, boxFill, 266, 96, contentWidth, boxHeight, 6);
    Pen boxOutline{Color(0xFF2A2D36), 1.0f};
    strokeRoundedRect(g, boxOutline, 266, 96, contentWidth, boxHeight, 6);

    // CR LF ends each line; a lone CR would render as a missing glyph with some GDI+ builds.
    std::wstring terms = text.termsText;
    std::erase(terms, L'\r');
    RectF measured;
    g.MeasureString(terms.c_str(), static_cast<INT>(terms.size()), &body,
                    RectF(0, 0, static_cast<REAL>(contentWidth - 24), 99999), &measured);
    setupState.termsContentHeight = static_cast<int32_t>(measured.Height);
    const TermsScrollGeometry geometry =
        termsScrollGeometry(page.height, setupState.termsContentHeight, setupState.termsScroll);
    setupState.termsScroll = geometry.scroll;

    Region savedClip;
    g.GetClip(&savedClip);
    g.SetClip(Rect(268, 98, contentWidth - 4, boxHeight - 4), CombineModeReplace);
    SolidBrush bodyBrush{Color(secondaryTextColour)};
    g.DrawString(
        terms.c_str(), static_cast<INT>(terms.size()), &body,
        RectF(278, static_cast<REAL>(104 - geometry.scroll), static_cast<REAL>(contentWidth - 24), 99999),
        nullptr, &bodyBrush);
    g.SetClip(&savedClip, CombineModeReplace);

    if (geometry.maxScroll > 0) {
        const int barX = 266 + contentWidth - 8;
        SolidBrush track{Color(0x28FFFFFF)};
        fillRoundedRect(g, track, barX, 100, 4, boxHeight - 8, 2);
        SolidBrush thumb{Color(0x64FFFFFF)};
        fillRoundedRect(g, thumb, barX, 100 + geometry.thumbOffset, 4, geometry.thumbLength, 2);
    }

    const int y = boxHeight + 110;
    SolidBrush panel{Color(panelColour)};
    SolidBrush labelBrush{Color(secondaryTextColour)};
    setupState.termsAgreeBox.rect = drawCheckbox(g, 266, y, setupState.termsAccepted, text.termsAgree, label,
                                                 panel, labelBrush, 16, contentWidth);
    if (!setupState.termsAccepted)
        drawText(g, text.termsMustAgree, warning, 0xB4C85050, 290, static_cast<float>(y + 18));

    drawBackButton(page, button);
    if (setupState.termsAccepted) {
        drawNextButton(page, button);
    } else {
        setupState.primaryButton.rect = bottomRightButton(page);
        drawDisabledButton(g, page.width - 176, page.height - 60, text.btnNext, button);
    }
}

float easeProgress(float displayed, double target) {
    float eased = displayed + static_cast<float>(target - displayed) * 0.15f;
    if (std::fabs(target - eased) < 0.001)
        eased = static_cast<float>(target);
    return eased;
}

std::wstring remainingTimeText(double seconds, const wchar_t* remainingWord) {
    wchar_t text[64];
    if (seconds < 60)
        swprintf(text, 64, L"%.0fs %ls", seconds, remainingWord);
    else
        swprintf(text, 64, L"%dm %ds %ls", static_cast<int>(seconds / 60), static_cast<int>(seconds) % 60,
                 remainingWord);
    return text;
}

std::wstring downloadSpeedText(uint64_t downloaded, uint64_t total, double speed,
                               const wchar_t* remainingWord) {
    std::wstring text = formatBytes(static_cast<uint64_t>(speed)) + L"/s";
    if (total > downloaded && speed > 0)
        text +=
            L"  \u2022  " + remainingTimeText(static_cast<double>(total - downloaded) / speed, remainingWord);
    return text;
}

namespace {
struct ActionButton {
    const wchar_t* label;
    ARGB normal;
    ARGB hover;
    bool atLeft;
};

bool actionButtonFor(SetupStatus status, const LocalizedStrings& text, ActionButton& button) {
    switch (status) {
    case SetupStatus::ReadyToInstall:
        button = {text.btnInstall, accentColour, accentHoverColour, false};
        return true;
    case SetupStatus::UpdateAvailable:
        button = {text.btnUpdate, accentColour, accentHoverColour, false};
        return true;
    case SetupStatus::UpToDate:
    case SetupStatus::Complete:
        button = {text.btnLaunch, accentColour, accentHoverColour, false};
        return true;
    case SetupStatus::Downloading:
        button = {text.btnCancel, 0xFF4B5563, 0xFF6B7280, true};
        return true;
    case SetupStatus::Failed:
        button = {text.btnRetry, 0xFFEF4444, 0xFFF87171, false};
        return true;
    default:
        return false;
    }
}
} // namespace

void paintProgressPage(const PageContext& page) {
    Graphics& g = page.graphics;
    const LocalizedStrings& text = stringsFor(setupState.language);
    const SharedSnapshot& shared = page.shared;
    const int contentWidth = contentWidthOf(page);
    const Font regular = makeFont(page.family, 11, false);
    const Font small = makeFont(page.family, 9, false);
    const Font button = makeFont(page.family, 10, true);
    const Font large = makeFont(page.family, 13, true);
    const SetupStatus status = shared.status;
    const bool running = status == SetupStatus::Downloading || status == SetupStatus::Extracting ||
                         status == SetupStatus::Installing;

    if (status == SetupStatus::Checking) {
        drawText(g, shared.statusText, regular, secondaryTextColour, 266, 104);
        drawProgressBar(g, 266, 144, contentWidth, {true, 0.0f});
    } else if (running) {
        wchar_t percent[16];
        swprintf(percent, 16, L" (%.0f%%)", static_cast<double>(setupState.displayedProgress) * 100.0);
        drawText(g, shared.statusText + percent, regular, secondaryTextColour, 266, 104);
        setupState.displayedProgress = easeProgress(setupState.displayedProgress, setupState.progress.load());
        drawProgressBar(g, 266, 144, contentWidth, {false, setupState.displayedProgress});
        if (status == SetupStatus::Downloading) {
            const uint64_t downloaded = setupState.downloadedBytes.load();
            const uint64_t total = setupState.totalBytes.load();
            const double speed = setupState.downloadSpeed.load();
            std::wstring amount = formatBytes(downloaded);
            if (total != 0)
                amount += L" / " + formatBytes(total);
            drawText(g, amount, small, mutedTextColour, 266, 162);
            const std::wstring rate = downloadSpeedText(downloaded, total, speed, text.remainingWord);
            StringFormat format;
            format.SetAlignment(StringAlignmentFar);
            SolidBrush brush{Color(mutedTextColour)};
            g.DrawString(rate.c_str(), static_cast<INT>(rate.size()), &small,
                         RectF(266, 162, static_cast<REAL>(contentWidth), 16), &format, &brush);
        }
    } else if (status == SetupStatus::Failed) {
        drawText(g, shared.errorText, regular, 0xFFEF4444, 266, 104);
    } else {
        drawText(g, shared.statusText, large,
                 status == SetupStatus::Complete ? 0xFF22C55E : secondaryTextColour, 266, 104);
        const std::wstring& version =
            shared.latestVersion.empty() ? shared.installedVersion : shared.latestVersion;
        if (!version.empty())
            drawText(g, L"v" + version, small, mutedTextColour, 266, 132);
    }

    ActionButton action{};
    if (!actionButtonFor(status, text, action))
        return;
    const int x = action.atLeft ? 266 : page.width - 176;
    setupState.primaryButton.rect = {x, page.height - 60, x + 140, page.height - 20};
    drawPrimaryButton(g, setupState.primaryButton.rect, action.label, button,
                      setupState.primaryButton.hovered, action.normal, action.hover);
}
