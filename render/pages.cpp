#include "render/pages.h"

#include "i18n/language_table.h"
#include "render/frame.h"
#include "render/widgets.h"
#include "win/folders.h"

#include <algorithm>
#include <cmath>
#include <cwchar>

using namespace Gdiplus;

namespace {
void drawNextButton(const PageContext& page, const Font& font) {
    drawPrimaryButton(page.graphics, page.layout.primaryButton, stringsFor(setupState.language).btnNext, font,
                      setupState.primaryButton.hovered, accentColour, accentHoverColour);
}

void drawBackButton(const PageContext& page, const Font& font) {
    drawSecondaryButton(page.graphics, page.layout.backButton, stringsFor(setupState.language).btnBack, font,
                        setupState.backButton.hovered);
}

} // namespace

uint64_t freeBytesAt(const std::wstring& folder) {
    // The folder may not exist yet: the nearest one above it that does tells.
    for (std::wstring probe = folder; !probe.empty(); probe = parentFolder(probe)) {
        ULARGE_INTEGER available{};
        if (GetDiskFreeSpaceExW(probe.c_str(), &available, nullptr, nullptr))
            return available.QuadPart;
    }
    return 0;
}

void paintLanguagePage(const PageContext& page) {
    Graphics& g = page.graphics;
    const Font heading = makeFont(page.family, 10, false);
    const Font native = makeFont(page.family, 11, false);
    const Font english = makeFont(page.family, 9, false);
    const Font button = makeFont(page.family, 10, true);

    drawText(g, stringsFor(setupState.language).selectLanguageTitle, heading, secondaryTextColour,
             page.layout.heading);
    for (int i = 0; i < languageCount; ++i) {
        const LanguageItemLayout& item = page.layout.languageItems[i];
        const bool selected = setupState.language.load() == i;
        if (selected) {
            SolidBrush wash{Color(0x143B82F6)};
            fillRoundedRect(g, wash, item.row, 8);
            SolidBrush bar{Color(accentColour)};
            fillRoundedRect(g, bar, item.accentBar, 2);
        } else if (i == setupState.hoverLanguage) {
            SolidBrush wash{Color(0x0AFFFFFF)};
            fillRoundedRect(g, wash, item.row, 8);
        }
        const LocalizedStrings& own = stringsFor(i);
        drawText(g, own.nameNative, native, selected ? brightTextColour : secondaryTextColour,
                 item.nativeName);
        drawText(g, own.nameEnglish, english, mutedTextColour, item.englishName);
    }
    drawNextButton(page, button);
}

void paintOptionsPage(const PageContext& page) {
    Graphics& g = page.graphics;
    const LocalizedStrings& text = stringsFor(setupState.language);
    const Layout& layout = page.layout;
    const Font title = makeFont(page.family, 12, true);
    const Font small = makeFont(page.family, 9, false);
    const Font tiny = makeFont(page.family, 8, false);
    const Font button = makeFont(page.family, 10, true);

    drawText(g, text.installLocation, title, brightTextColour, layout.heading);
    drawText(g, text.selectFolderPrompt, small, secondaryTextColour, layout.folderPrompt);

    SolidBrush panel{Color(panelColour)};
    fillRoundedRect(g, panel, layout.folderBox, 6);
    {
        StringFormat format;
        format.SetAlignment(StringAlignmentNear);
        format.SetLineAlignment(StringAlignmentCenter);
        format.SetTrimming(StringTrimmingEllipsisPath);
        SolidBrush brush{Color(secondaryTextColour)};
        const std::wstring& folder = page.shared.installDir;
        g.DrawString(folder.c_str(), static_cast<INT>(folder.size()), &small, asRectF(layout.folderText),
                     &format, &brush);
    }
    {
        StringFormat format;
        format.SetAlignment(StringAlignmentNear);
        format.SetLineAlignment(StringAlignmentCenter);
        SolidBrush brush{Color(setupState.browseButton.hovered ? accentHoverColour : accentColour)};
        const std::wstring label = text.btnChange;
        g.DrawString(label.c_str(), static_cast<INT>(label.size()), &small, asRectF(layout.browseLink),
                     &format, &brush);
    }

    drawText(g, formatBytes(freeBytesAt(page.shared.installDir)) + L" Available", tiny, mutedTextColour,
             layout.freeSpace);

    SolidBrush labelBrush{Color(secondaryTextColour)};
    drawCheckbox(g, layout.desktopShortcut, setupState.createDesktopShortcut, text.optDesktopShortcut, small,
                 panel, labelBrush);
    drawCheckbox(g, layout.startMenuShortcut, setupState.createStartMenuShortcut, text.optStartMenuShortcut,
                 small, panel, labelBrush);
    drawBackButton(page, button);
    drawNextButton(page, button);
}

TermsScrollGeometry termsScrollGeometry(const Layout& layout, int contentHeight, int scroll) {
    TermsScrollGeometry geometry{};
    geometry.maxScroll = std::max(0, contentHeight - heightOf(layout.termsText));
    geometry.scroll = std::max(0, std::min(scroll, geometry.maxScroll));
    if (geometry.maxScroll > 0) {
        const int track = heightOf(layout.termsScrollTrack);
        geometry.thumbLength =
            std::max(20, static_cast<int>(static_cast<float>(heightOf(layout.termsBox)) /
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
    const Layout& layout = page.layout;
    const Font title = makeFont(page.family, 12, true);
    const Font body = makeFont(page.family, 8, false);
    const Font label = makeFont(page.family, 9, false);
    const Font button = makeFont(page.family, 10, true);
    const Font warning = makeFont(page.family, 8, false);

    drawText(g, text.termsTitle, title, brightTextColour, layout.heading);
    SolidBrush boxFill{Color(0xFF0E1016)};
    fillRoundedRect(g, boxFill, layout.termsBox, 6);
    Pen boxOutline{Color(0xFF2A2D36), 1.0f};
    strokeRoundedRect(g, boxOutline, layout.termsBox, 6);

    // CR LF ends each line; a lone CR would render as a missing glyph with some GDI+ builds.
    std::wstring terms = text.termsText;
    std::erase(terms, L'\r');
    const RECT& textBox = layout.termsText;
    const REAL textWidth = static_cast<REAL>(widthOf(textBox));
    RectF measured;
    g.MeasureString(terms.c_str(), static_cast<INT>(terms.size()), &body, RectF(0, 0, textWidth, 99999),
                    &measured);
    setupState.termsContentHeight = static_cast<int32_t>(measured.Height);
    const TermsScrollGeometry geometry =
        termsScrollGeometry(layout, setupState.termsContentHeight, setupState.termsScroll);
    setupState.termsScroll = geometry.scroll;

    Region savedClip;
    g.GetClip(&savedClip);
    g.SetClip(asRect(layout.termsClip), CombineModeReplace);
    SolidBrush bodyBrush{Color(secondaryTextColour)};
    g.DrawString(terms.c_str(), static_cast<INT>(terms.size()), &body,
                 RectF(static_cast<REAL>(textBox.left), static_cast<REAL>(textBox.top - geometry.scroll),
                       textWidth, 99999),
                 nullptr, &bodyBrush);
    g.SetClip(&savedClip, CombineModeReplace);

    if (geometry.maxScroll > 0) {
        const RECT& bar = layout.termsScrollTrack;
        SolidBrush track{Color(0x28FFFFFF)};
        fillRoundedRect(g, track, bar, 2);
        SolidBrush thumb{Color(0x64FFFFFF)};
        fillRoundedRect(g, thumb, bar.left, bar.top + geometry.thumbOffset, widthOf(bar),
                        geometry.thumbLength, 2);
    }

    SolidBrush panel{Color(panelColour)};
    SolidBrush labelBrush{Color(secondaryTextColour)};
    drawCheckbox(g, layout.termsAgree, setupState.termsAccepted, text.termsAgree, label, panel, labelBrush);
    if (!setupState.termsAccepted)
        drawText(g, text.termsMustAgree, warning, 0xB4C85050, layout.termsWarning);

    drawBackButton(page, button);
    if (setupState.termsAccepted)
        drawNextButton(page, button);
    else
        drawDisabledButton(g, layout.primaryButton, text.btnNext, button);
}

float easeProgress(float displayed, double target) {
    float eased = displayed + static_cast<float>(target - displayed) * 0.15f;
    if (std::fabs(target - eased) < 0.001)
        eased = static_cast<float>(target);
    return eased;
}

std::wstring remainingTimeText(double seconds, const wchar_t* remainingWord) {
    // A near-stalled download gives times beyond any int; past 99 hours the figure tells no more.
    constexpr double longest = 99 * 3600 + 59 * 60 + 59;
    if (!(seconds < longest)) // also NaN
        seconds = longest;
    seconds = std::max(seconds, 0.0);
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
    // Any rate beyond an exabyte a second is a miscount; the cast needs a value that fits.
    constexpr double fastest = 1e18;
    const double shown = speed > 0 ? std::min(speed, fastest) : 0.0;
    std::wstring text = formatBytes(static_cast<uint64_t>(shown)) + L"/s";
    if (total > downloaded && speed > 0)
        text +=
            L"  \u2022  " + remainingTimeText(static_cast<double>(total - downloaded) / speed, remainingWord);
    return text;
}

ActionButton actionButtonFor(SetupStatus status, const LocalizedStrings& text) {
    switch (status) {
    case SetupStatus::ReadyToInstall:
        return {text.btnInstall, accentColour, accentHoverColour};
    case SetupStatus::UpdateAvailable:
        return {text.btnUpdate, accentColour, accentHoverColour};
    case SetupStatus::UpToDate:
    case SetupStatus::Complete:
        return {text.btnLaunch, accentColour, accentHoverColour};
    case SetupStatus::Downloading:
        return {text.btnCancel, 0xFF4B5563, 0xFF6B7280};
    case SetupStatus::RestoreOffered:
        return {text.btnRestore, accentColour, accentHoverColour};
    default:
        return {text.btnRetry, 0xFFEF4444, 0xFFF87171};
    }
}

void paintProgressPage(const PageContext& page) {
    Graphics& g = page.graphics;
    const LocalizedStrings& text = stringsFor(setupState.language);
    const SharedSnapshot& shared = page.shared;
    const Layout& layout = page.layout;
    const Font regular = makeFont(page.family, 11, false);
    const Font small = makeFont(page.family, 9, false);
    const Font button = makeFont(page.family, 10, true);
    const Font large = makeFont(page.family, 13, true);
    const SetupStatus status = shared.status;
    const bool running = status == SetupStatus::Downloading || status == SetupStatus::Extracting ||
                         status == SetupStatus::Installing;

    if (status == SetupStatus::Checking) {
        drawText(g, shared.statusText, regular, secondaryTextColour, layout.statusLine);
        drawProgressBar(g, layout.progressBar, {true, 0.0f});
    } else if (running) {
        wchar_t percent[16];
        swprintf(percent, 16, L" (%.0f%%)", static_cast<double>(setupState.displayedProgress) * 100.0);
        drawText(g, shared.statusText + percent, regular, secondaryTextColour, layout.statusLine);
        setupState.displayedProgress = easeProgress(setupState.displayedProgress, setupState.progress.load());
        drawProgressBar(g, layout.progressBar, {false, setupState.displayedProgress});
        if (status == SetupStatus::Downloading) {
            const uint64_t downloaded = setupState.downloadedBytes.load();
            const uint64_t total = setupState.totalBytes.load();
            const double speed = setupState.downloadSpeed.load();
            std::wstring amount = formatBytes(downloaded);
            if (total != 0)
                amount += L" / " + formatBytes(total);
            drawText(g, amount, small, mutedTextColour, layout.transferLine);
            const std::wstring rate = downloadSpeedText(downloaded, total, speed, text.remainingWord);
            StringFormat format;
            format.SetAlignment(StringAlignmentFar);
            SolidBrush brush{Color(mutedTextColour)};
            g.DrawString(rate.c_str(), static_cast<INT>(rate.size()), &small, asRectF(layout.transferLine),
                         &format, &brush);
        }
    } else if (status == SetupStatus::Failed) {
        drawText(g, shared.errorText, regular, 0xFFEF4444, layout.statusLine);
    } else if (status == SetupStatus::RestoreOffered) {
        drawText(g, shared.statusText, large, 0xFFEF4444, layout.statusLine);
        drawText(g, text.restoreMessage, small, mutedTextColour, layout.versionLine);
    } else {
        drawText(g, shared.statusText, large,
                 status == SetupStatus::Complete ? 0xFF22C55E : secondaryTextColour, layout.statusLine);
        const std::wstring& version =
            shared.latestVersion.empty() ? shared.installedVersion : shared.latestVersion;
        if (!version.empty())
            drawText(g, L"v" + version, small, mutedTextColour, layout.versionLine);
    }

    if (IsRectEmpty(&layout.primaryButton))
        return;
    const ActionButton action = actionButtonFor(status, text);
    drawPrimaryButton(g, layout.primaryButton, action.label, button, setupState.primaryButton.hovered,
                      action.normal, action.hover);
}
