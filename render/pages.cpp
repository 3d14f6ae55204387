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

float scaleOf(const PageContext& page) {
    return page.model.layout.scale;
}

Font pageFont(const PageContext& page, float points, bool bold = false) {
    return makeFont(page.family, points, bold, scaleOf(page));
}

// A corner radius in logical units, in pixels.
int radius(const PageContext& page, int units) {
    return scaledPixels(static_cast<float>(units), scaleOf(page));
}

// NEXT, BACK or the progress page's action, as the element's states have it.
void drawPageButton(const PageContext& page, ElementId id, const Font& font,
                    ButtonTone tone = ButtonTone::Accent) {
    const PageElement* button = findElement(page.model, id);
    if (!button)
        return;
    // The greyed NEXT is rounder than the buttons that can be pressed.
    const bool disabled = id != ElementId::Back && !button->states.enabled;
    const ButtonLook& look = id == ElementId::Back ? page.palette.secondaryButton
                             : disabled            ? page.palette.disabledButton
                                                   : buttonLook(page.palette, tone);
    drawButton(page.graphics, button->rect, button->text, font, button->states.hovered, look,
               radius(page, disabled ? 8 : 3), scaleOf(page));
}

void drawCheckboxElement(const PageContext& page, ElementId id, const CheckboxLayout& layout,
                         const Font& font) {
    if (const PageElement* box = findElement(page.model, id))
        drawCheckbox(page.graphics, layout, box->states.checked, box->text, font, page.palette,
                     scaleOf(page));
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
        float scale = 0.0f;
        int height = 0;
    } measured;
    const int width = widthOf(layout.termsText);
    if (measured.language == language && measured.width == width && measured.scale == layout.scale)
        return measured.height;
    const UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    if (!dc)
        return 0;
    Graphics graphics(dc.get());
    graphics.SetTextRenderingHint(TextRenderingHintClearTypeGridFit);
    const FontFamily family(L"Segoe UI");
    const Font body = makeFont(family, termsPoints, false, layout.scale);
    const std::wstring terms = termsForDrawing(stringsFor(language).termsText);
    RectF box;
    if (graphics.MeasureString(terms.c_str(), static_cast<INT>(terms.size()), &body,
                               RectF(0, 0, static_cast<REAL>(width), unboundedHeight), &box) != Ok)
        return 0;
    measured = {language, width, layout.scale, static_cast<int>(box.Height)};
    return measured.height;
}

void paintLanguagePage(const PageContext& page) {
    Graphics& g = page.graphics;
    const Palette& colours = page.palette;
    const Font heading = pageFont(page, 10);
    const Font native = pageFont(page, 11);
    const Font english = pageFont(page, 9);
    const Font button = pageFont(page, 10, true);

    drawElementText(page, ElementId::Heading, heading, colours.secondaryText);
    for (const PageElement& item : page.model.elements) {
        if (item.id != ElementId::LanguageItem)
            continue;
        const LanguageItemLayout& rows = page.model.layout.languageItems[item.language];
        const bool selected = item.states.selected;
        if (selected) {
            SolidBrush wash{Color(colours.selectedWash)};
            fillRoundedRect(g, wash, rows.row, radius(page, 8));
            SolidBrush bar{Color(colours.selectedBar)};
            fillRoundedRect(g, bar, rows.accentBar, radius(page, 2));
        } else if (item.states.hovered && colours.hoverWash != 0) {
            SolidBrush wash{Color(colours.hoverWash)};
            fillRoundedRect(g, wash, rows.row, radius(page, 8));
        }
        drawText(g, item.text, native, selected ? colours.selectedText : colours.secondaryText,
                 rows.nativeName);
        drawText(g, stringsFor(item.language).nameEnglish, english,
                 selected ? colours.selectedMutedText : colours.mutedText, rows.englishName);
    }
    drawPageButton(page, ElementId::Primary, button);
}

void paintOptionsPage(const PageContext& page) {
    Graphics& g = page.graphics;
    const Layout& layout = page.model.layout;
    const Palette& colours = page.palette;
    const Font title = pageFont(page, 12, true);
    const Font small = pageFont(page, 9);
    const Font tiny = pageFont(page, 8);
    const Font button = pageFont(page, 10, true);

    drawElementText(page, ElementId::Heading, title, colours.brightText);
    drawText(g, stringsFor(page.model.language).selectFolderPrompt, small, colours.secondaryText,
             layout.folderPrompt);

    SolidBrush panel{Color(colours.field)};
    fillRoundedRect(g, panel, layout.folderBox, radius(page, 6));
    if (colours.highContrast) {
        Pen border{Color(colours.fieldBorder), lineWidth(scaleOf(page))};
        strokeRoundedRect(g, border, layout.folderBox, radius(page, 6));
    }
    const PageElement* folder = findElement(page.model, ElementId::FolderPath);
    const std::wstring path = folder ? folder->text : std::wstring();
    {
        StringFormat format;
        format.SetAlignment(StringAlignmentNear);
        format.SetLineAlignment(StringAlignmentCenter);
        format.SetTrimming(StringTrimmingEllipsisPath);
        SolidBrush brush{Color(colours.secondaryText)};
        g.DrawString(path.c_str(), static_cast<INT>(path.size()), &small, asRectF(layout.folderText), &format,
                     &brush);
    }
    if (const PageElement* browse = findElement(page.model, ElementId::Browse)) {
        StringFormat format;
        format.SetAlignment(StringAlignmentNear);
        format.SetLineAlignment(StringAlignmentCenter);
        SolidBrush brush{Color(browse->states.hovered ? colours.linkHover : colours.link)};
        g.DrawString(browse->text.c_str(), static_cast<INT>(browse->text.size()), &small,
                     asRectF(browse->rect), &format, &brush);
    }

    drawText(g, formatBytes(freeBytesAt(path)) + L" Available", tiny, colours.mutedText, layout.freeSpace);

    drawCheckboxElement(page, ElementId::DesktopShortcut, layout.desktopShortcut, small);
    drawCheckboxElement(page, ElementId::StartMenuShortcut, layout.startMenuShortcut, small);
    drawPageButton(page, ElementId::Back, button);
    drawPageButton(page, ElementId::Primary, button);
}

void paintTermsPage(const PageContext& page) {
    Graphics& g = page.graphics;
    const Layout& layout = page.model.layout;
    const Palette& colours = page.palette;
    const Font title = pageFont(page, 12, true);
    const Font body = pageFont(page, termsPoints);
    const Font label = pageFont(page, 9);
    const Font button = pageFont(page, 10, true);
    const Font warning = pageFont(page, 8);

    const PageElement* document = findElement(page.model, ElementId::TermsText);
    if (document)
        drawText(g, document->text, title, colours.brightText, layout.heading);
    SolidBrush boxFill{Color(colours.termsField)};
    fillRoundedRect(g, boxFill, layout.termsBox, radius(page, 6));
    Pen boxOutline{Color(colours.line), lineWidth(scaleOf(page))};
    strokeRoundedRect(g, boxOutline, layout.termsBox, radius(page, 6));

    const std::wstring terms = termsForDrawing(document ? document->value : std::wstring());
    const RECT& textBox = layout.termsText;
    const TermsScrollGeometry& geometry = page.model.terms;
    Region savedClip;
    g.GetClip(&savedClip);
    g.SetClip(asRect(layout.termsClip), CombineModeReplace);
    SolidBrush bodyBrush{Color(colours.secondaryText)};
    g.DrawString(terms.c_str(), static_cast<INT>(terms.size()), &body,
                 RectF(static_cast<REAL>(textBox.left), static_cast<REAL>(textBox.top - geometry.scroll),
                       static_cast<REAL>(widthOf(textBox)), unboundedHeight),
                 nullptr, &bodyBrush);
    g.SetClip(&savedClip, CombineModeReplace);

    if (geometry.maxScroll > 0) {
        const RECT& bar = layout.termsScrollTrack;
        SolidBrush track{Color(colours.scrollTrack)};
        fillRoundedRect(g, track, bar, radius(page, 2));
        SolidBrush thumb{Color(colours.scrollThumb)};
        fillRoundedRect(g, thumb, bar.left, bar.top + geometry.thumbOffset, widthOf(bar),
                        geometry.thumbLength, radius(page, 2));
    }

    drawCheckboxElement(page, ElementId::TermsAgree, layout.termsAgree, label);
    drawElementText(page, ElementId::TermsWarning, warning, colours.warning);
    drawPageButton(page, ElementId::Back, button);
    drawPageButton(page, ElementId::Primary, button);
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

const ButtonLook& buttonLook(const Palette& palette, ButtonTone tone) {
    switch (tone) {
    case ButtonTone::Neutral:
        return palette.neutralButton;
    case ButtonTone::Danger:
        return palette.dangerButton;
    default:
        return palette.accentButton;
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
    drawText(g, amount, font, page.palette.mutedText, line);
    const std::wstring rate =
        downloadSpeedText(downloaded, total, speed, stringsFor(page.model.language).remainingWord);
    StringFormat format;
    format.SetAlignment(StringAlignmentFar);
    SolidBrush brush{Color(page.palette.mutedText)};
    g.DrawString(rate.c_str(), static_cast<INT>(rate.size()), &font, asRectF(line), &format, &brush);
}
} // namespace

void paintProgressPage(const PageContext& page) {
    Graphics& g = page.graphics;
    const PageModel& model = page.model;
    const Layout& layout = model.layout;
    const Palette& colours = page.palette;
    const Font regular = pageFont(page, 11);
    const Font small = pageFont(page, 9);
    const Font button = pageFont(page, 10, true);
    const Font large = pageFont(page, 13, true);
    const SetupStatus status = model.status;
    const PageElement* statusLine = findElement(model, ElementId::StatusLine);
    const std::wstring statusText = statusLine ? statusLine->text : std::wstring();

    if (status == SetupStatus::Checking) {
        drawText(g, statusText, regular, colours.secondaryText, layout.statusLine);
        drawProgressBar(g, layout.progressBar, {true, 0.0f}, colours, scaleOf(page));
    } else if (isRunning(status)) {
        wchar_t percent[16];
        swprintf(percent, 16, L" (%.0f%%)", static_cast<double>(model.progress) * 100.0);
        drawText(g, statusText + percent, regular, colours.secondaryText, layout.statusLine);
        drawProgressBar(g, layout.progressBar, {false, model.progress}, colours, scaleOf(page));
        if (status == SetupStatus::Downloading)
            drawTransferLine(page, small);
    } else if (status == SetupStatus::Failed) {
        drawText(g, statusText, regular, colours.failure, layout.statusLine);
    } else if (status == SetupStatus::RestoreOffered) {
        drawText(g, statusText, large, colours.failure, layout.statusLine);
        drawText(g, stringsFor(model.language).restoreMessage, small, colours.mutedText, layout.versionLine);
    } else {
        drawText(g, statusText, large,
                 status == SetupStatus::Complete ? colours.success : colours.secondaryText,
                 layout.statusLine);
        const SharedSnapshot& shared = page.shared;
        const std::wstring& version =
            shared.latestVersion.empty() ? shared.installedVersion : shared.latestVersion;
        if (!version.empty())
            drawText(g, L"v" + version, small, colours.mutedText, layout.versionLine);
        if (const PageElement* notice = findElement(model, ElementId::ShortcutNotice))
            drawText(g, notice->text, small, colours.mutedText, notice->rect);
    }
    drawPageButton(page, ElementId::Primary, button, progressButtonFor(status).tone);
}
