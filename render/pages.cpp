#include "render/pages.h"

#include "i18n/language_table.h"
#include "render/frame.h"
#include "render/widgets.h"
#include "win/folders.h"
#include "win/handles.h"

#include <algorithm>
#include <cmath>
#include <cwchar>

using namespace Gdiplus;

namespace {
constexpr float termsPoints = 8.0f;
constexpr REAL unboundedHeight = 99999;

// The terms as drawn: CR LF ends each line, and a lone CR would render as a missing glyph with some
// GDI+ builds.
std::wstring termsForDrawing(const std::wstring& text) {
    std::wstring terms = text;
    std::erase(terms, L'\r');
    return terms;
}

// NEXT, BACK or the progress page's action, as the element's states have it.
void drawButton(const PageContext& page, ElementId id, const Font& font,
                ButtonTone tone = ButtonTone::Accent) {
    const PageElement* button = findElement(page.model, id);
    if (!button)
        return;
    if (id == ElementId::Back) {
        drawSecondaryButton(page.graphics, button->rect, button->text, font, button->states.hovered);
    } else if (!button->states.enabled) {
        drawDisabledButton(page.graphics, button->rect, button->text, font);
    } else {
        const ButtonColours colours = buttonColours(tone);
        drawPrimaryButton(page.graphics, button->rect, button->text, font, button->states.hovered,
                          colours.normal, colours.hover);
    }
}

void drawCheckboxElement(const PageContext& page, ElementId id, const CheckboxLayout& layout,
                         const Font& font, const Brush& boxBrush, const Brush& labelBrush) {
    if (const PageElement* box = findElement(page.model, id))
        drawCheckbox(page.graphics, layout, box->states.checked, box->text, font, boxBrush, labelBrush);
}

void drawElementText(const PageContext& page, ElementId id, const Font& font, ARGB colour) {
    if (const PageElement* text = findElement(page.model, id))
        drawText(page.graphics, text->text, font, colour, text->rect);
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

int termsTextHeight(const Layout& layout, int32_t language) {
    // Keys and the wheel ask on every press; the text changes only with the language and the width.
    static struct {
        int32_t language = -1;
        int width = -1;
        int height = 0;
    } measured;
    const int width = widthOf(layout.termsText);
    if (measured.language == language && measured.width == width)
        return measured.height;
    const UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    if (!dc)
        return 0;
    Graphics graphics(dc.get());
    graphics.SetTextRenderingHint(TextRenderingHintClearTypeGridFit);
    const FontFamily family(L"Segoe UI");
    const Font body = makeFont(family, termsPoints, false);
    const std::wstring terms = termsForDrawing(stringsFor(language).termsText);
    RectF box;
    if (graphics.MeasureString(terms.c_str(), static_cast<INT>(terms.size()), &body,
                               RectF(0, 0, static_cast<REAL>(width), unboundedHeight), &box) != Ok)
        return 0;
    measured = {language, width, static_cast<int>(box.Height)};
    return measured.height;
}

void paintLanguagePage(const PageContext& page) {
    Graphics& g = page.graphics;
    const Font heading = makeFont(page.family, 10, false);
    const Font native = makeFont(page.family, 11, false);
    const Font english = makeFont(page.family, 9, false);
    const Font button = makeFont(page.family, 10, true);

    drawElementText(page, ElementId::Heading, heading, secondaryTextColour);
    for (const PageElement& item : page.model.elements) {
        if (item.id != ElementId::LanguageItem)
            continue;
        const LanguageItemLayout& rows = page.model.layout.languageItems[item.language];
        const bool selected = item.states.selected;
        if (selected) {
            SolidBrush wash{Color(0x143B82F6)};
            fillRoundedRect(g, wash, rows.row, 8);
            SolidBrush bar{Color(accentColour)};
            fillRoundedRect(g, bar, rows.accentBar, 2);
        } else if (item.states.hovered) {
            SolidBrush wash{Color(0x0AFFFFFF)};
            fillRoundedRect(g, wash, rows.row, 8);
        }
        drawText(g, item.text, native, selected ? brightTextColour : secondaryTextColour, rows.nativeName);
        drawText(g, stringsFor(item.language).nameEnglish, english, mutedTextColour, rows.englishName);
    }
    drawButton(page, ElementId::Primary, button);
}

void paintOptionsPage(const PageContext& page) {
    Graphics& g = page.graphics;
    const Layout& layout = page.model.layout;
    const Font title = makeFont(page.family, 12, true);
    const Font small = makeFont(page.family, 9, false);
    const Font tiny = makeFont(page.family, 8, false);
    const Font button = makeFont(page.family, 10, true);

    drawElementText(page, ElementId::Heading, title, brightTextColour);
    drawText(g, stringsFor(page.model.language).selectFolderPrompt, small, secondaryTextColour,
             layout.folderPrompt);

    SolidBrush panel{Color(panelColour)};
    fillRoundedRect(g, panel, layout.folderBox, 6);
    const PageElement* folder = findElement(page.model, ElementId::FolderPath);
    const std::wstring path = folder ? folder->text : std::wstring();
    {
        StringFormat format;
        format.SetAlignment(StringAlignmentNear);
        format.SetLineAlignment(StringAlignmentCenter);
        format.SetTrimming(StringTrimmingEllipsisPath);
        SolidBrush brush{Color(secondaryTextColour)};
        g.DrawString(path.c_str(), static_cast<INT>(path.size()), &small, asRectF(layout.folderText), &format,
                     &brush);
    }
    if (const PageElement* browse = findElement(page.model, ElementId::Browse)) {
        StringFormat format;
        format.SetAlignment(StringAlignmentNear);
        format.SetLineAlignment(StringAlignmentCenter);
        SolidBrush brush{Color(browse->states.hovered ? accentHoverColour : accentColour)};
        g.DrawString(browse->text.c_str(), static_cast<INT>(browse->text.size()), &small,
                     asRectF(browse->rect), &format, &brush);
    }

    drawText(g, formatBytes(freeBytesAt(path)) + L" Available", tiny, mutedTextColour, layout.freeSpace);

    SolidBrush labelBrush{Color(secondaryTextColour)};
    drawCheckboxElement(page, ElementId::DesktopShortcut, layout.desktopShortcut, small, panel, labelBrush);
    drawCheckboxElement(page, ElementId::StartMenuShortcut, layout.startMenuShortcut, small, panel,
                        labelBrush);
    drawButton(page, ElementId::Back, button);
    drawButton(page, ElementId::Primary, button);
}

void paintTermsPage(const PageContext& page) {
    Graphics& g = page.graphics;
    const Layout& layout = page.model.layout;
    const Font title = makeFont(page.family, 12, true);
    const Font body = makeFont(page.family, termsPoints, false);
    const Font label = makeFont(page.family, 9, false);
    const Font button = makeFont(page.family, 10, true);
    const Font warning = makeFont(page.family, 8, false);

    const PageElement* document = findElement(page.model, ElementId::TermsText);
    if (document)
        drawText(g, document->text, title, brightTextColour, layout.heading);
    SolidBrush boxFill{Color(0xFF0E1016)};
    fillRoundedRect(g, boxFill, layout.termsBox, 6);
    Pen boxOutline{Color(0xFF2A2D36), 1.0f};
    strokeRoundedRect(g, boxOutline, layout.termsBox, 6);

    const std::wstring terms = termsForDrawing(document ? document->value : std::wstring());
    const RECT& textBox = layout.termsText;
    const TermsScrollGeometry& geometry = page.model.terms;
    Region savedClip;
    g.GetClip(&savedClip);
    g.SetClip(asRect(layout.termsClip), CombineModeReplace);
    SolidBrush bodyBrush{Color(secondaryTextColour)};
    g.DrawString(terms.c_str(), static_cast<INT>(terms.size()), &body,
                 RectF(static_cast<REAL>(textBox.left), static_cast<REAL>(textBox.top - geometry.scroll),
                       static_cast<REAL>(widthOf(textBox)), unboundedHeight),
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
    drawCheckboxElement(page, ElementId::TermsAgree, layout.termsAgree, label, panel, labelBrush);
    drawElementText(page, ElementId::TermsWarning, warning, 0xB4C85050);
    drawButton(page, ElementId::Back, button);
    drawButton(page, ElementId::Primary, button);
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

ButtonColours buttonColours(ButtonTone tone) {
    switch (tone) {
    case ButtonTone::Neutral:
        return {0xFF4B5563, 0xFF6B7280};
    case ButtonTone::Danger:
        return {0xFFEF4444, 0xFFF87171};
    default:
        return {accentColour, accentHoverColour};
    }
}

namespace {
void drawTransferLine(const PageContext& page, const Font& font) {
    Graphics& g = page.graphics;
    const RECT& line = page.model.layout.transferLine;
    const uint64_t downloaded = setupState.downloadedBytes.load();
    const uint64_t total = setupState.totalBytes.load();
    const double speed = setupState.downloadSpeed.load();
    std::wstring amount = formatBytes(downloaded);
    if (total != 0)
        amount += L" / " + formatBytes(total);
    drawText(g, amount, font, mutedTextColour, line);
    const std::wstring rate =
        downloadSpeedText(downloaded, total, speed, stringsFor(page.model.language).remainingWord);
    StringFormat format;
    format.SetAlignment(StringAlignmentFar);
    SolidBrush brush{Color(mutedTextColour)};
    g.DrawString(rate.c_str(), static_cast<INT>(rate.size()), &font, asRectF(line), &format, &brush);
}
} // namespace

void paintProgressPage(const PageContext& page) {
    Graphics& g = page.graphics;
    const PageModel& model = page.model;
    const Layout& layout = model.layout;
    const Font regular = makeFont(page.family, 11, false);
    const Font small = makeFont(page.family, 9, false);
    const Font button = makeFont(page.family, 10, true);
    const Font large = makeFont(page.family, 13, true);
    const SetupStatus status = model.status;
    const PageElement* statusLine = findElement(model, ElementId::StatusLine);
    const std::wstring statusText = statusLine ? statusLine->text : std::wstring();

    if (status == SetupStatus::Checking) {
        drawText(g, statusText, regular, secondaryTextColour, layout.statusLine);
        drawProgressBar(g, layout.progressBar, {true, 0.0f});
    } else if (isRunning(status)) {
        wchar_t percent[16];
        swprintf(percent, 16, L" (%.0f%%)", static_cast<double>(model.progress) * 100.0);
        drawText(g, statusText + percent, regular, secondaryTextColour, layout.statusLine);
        drawProgressBar(g, layout.progressBar, {false, model.progress});
        if (status == SetupStatus::Downloading)
            drawTransferLine(page, small);
    } else if (status == SetupStatus::Failed) {
        drawText(g, statusText, regular, 0xFFEF4444, layout.statusLine);
    } else if (status == SetupStatus::RestoreOffered) {
        drawText(g, statusText, large, 0xFFEF4444, layout.statusLine);
        drawText(g, stringsFor(model.language).restoreMessage, small, mutedTextColour, layout.versionLine);
    } else {
        drawText(g, statusText, large, status == SetupStatus::Complete ? 0xFF22C55E : secondaryTextColour,
                 layout.statusLine);
        const SharedSnapshot& shared = page.shared;
        const std::wstring& version =
            shared.latestVersion.empty() ? shared.installedVersion : shared.latestVersion;
        if (!version.empty())
            drawText(g, L"v" + version, small, mutedTextColour, layout.versionLine);
        if (const PageElement* notice = findElement(model, ElementId::ShortcutNotice))
            drawText(g, notice->text, small, mutedTextColour, notice->rect);
    }
    drawButton(page, ElementId::Primary, button, progressButtonFor(status).tone);
}
