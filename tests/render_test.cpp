#include "app/main_window.h"
#include "app/window_input.h"
#include "i18n/language_table.h"
#include "render/frame.h"
#include "render/logo.h"
#include "render/pages.h"
#include "render/palette.h"
#include "render/widgets.h"
#include "state/setup_state.h"
#include "tests/offscreen_target.h"
#include "tests/support/layout_points.h"
#include "tests/support/state_print.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <vector>

using namespace Gdiplus;

namespace {
constexpr int W = windowWidth;
constexpr uint32_t background = 0xFF12141Au;
constexpr uint32_t accent = 0xFF3B82F6u;
constexpr uint32_t mutedText = 0xFF6B7280u;
constexpr uint32_t focusRingColour = 0xFF60A5FAu;

// The prefix's DPI as a window's scale: 1 in the ordinary prefix.
float screenScale() {
    return static_cast<float>(GetDpiForSystem()) / 96.0f;
}

// GDI+ and the paint resources for the whole program, as the entry point holds them.
std::unique_ptr<GdiplusSession> gdiplus;
RenderResources resources;

class PaintEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        gdiplus = std::make_unique<GdiplusSession>();
        resources = loadRenderResources(GetModuleHandleW(nullptr));
        setupState.scale = screenScale();
    }
    void TearDown() override {
        resources = {};
        gdiplus.reset();
    }
};
const auto* const paintEnvironment = ::testing::AddGlobalTestEnvironment(new PaintEnvironment);

bool pngEncoder(CLSID& clsid) {
    UINT count = 0, size = 0;
    GetImageEncodersSize(&count, &size);
    std::unique_ptr<BYTE[]> buffer(new BYTE[size]);
    auto* codecs = reinterpret_cast<ImageCodecInfo*>(buffer.get());
    GetImageEncoders(count, size, codecs);
    for (UINT i = 0; i < count; ++i)
        if (std::wstring(codecs[i].MimeType) == L"image/png") {
            clsid = codecs[i].Clsid;
            return true;
        }
    return false;
}

void savePng(Bitmap& bitmap, const wchar_t* name) {
    std::filesystem::create_directories(L"render");
    CLSID png;
    if (pngEncoder(png))
        bitmap.Save((std::wstring(L"render\\") + name + L".png").c_str(), &png, nullptr);
}

// Folder of another run's frames that every frame must match: pixel for pixel at the same size,
// within a tolerance for anti-aliased edges once scaled to this run's size (the 144- and 192-DPI
// runs compare with the 96-DPI one); null in the ordinary run.
const wchar_t* referenceFrames() {
    return _wgetenv(L"OSTREL_REFERENCE_FRAMES");
}

// A scaled frame keeps its twin's pixels but where edges and glyphs fall on other pixels: no more
// than this share of its pixels may differ by more than differenceFloor in a channel.
constexpr double scaledTwinTolerance = 0.05;
constexpr int differenceFloor = 96;
// Text and glyphs too small or too large for their boxes hardly change that share: in each
// element's rectangle the ink (what stands out from the rectangle's commonest colour) must be the
// twin's times the area's scale, within these factors. Thin and faint strokes that anti-aliasing
// keeps under the floor at 96 DPI come out whole when scaled (up to 1.8 times the ink measured);
// text left at its 96-DPI size at 192 DPI has a quarter to a half.
constexpr double leastInk = 0.6;
constexpr double mostInk = 2.0;

bool differs(uint32_t a, uint32_t b, int floor) {
    for (int shift : {0, 8, 16})
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > floor)
            return true;
    return false;
}

uint32_t commonestColour(const std::vector<uint32_t>& image, int width, const RECT& rect) {
    std::map<uint32_t, int> counts;
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x)
            ++counts[image[static_cast<size_t>(y * width + x)]];
    return std::max_element(counts.begin(), counts.end(),
                            [](const auto& a, const auto& b) { return a.second < b.second; })
        ->first;
}

int inkIn(const std::vector<uint32_t>& image, int width, const RECT& rect, uint32_t ground) {
    int ink = 0;
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x)
            ink += differs(image[static_cast<size_t>(y * width + x)], ground, differenceFloor);
    return ink;
}

// Paints the current state as WM_PAINT does into a target of the window's size at its scale, keeps
// it as a PNG for people to look at, and compares it with the reference run's frame of the same
// name. Animated frames (the gliding segment follows the clock) are not compared.
struct Frame {
    explicit Frame(const wchar_t* name, bool animated = false)
        : width(scaledWindowWidth()), height(scaledWindowHeight()) {
        const OffscreenTarget target(width, height);
        paintBuffered(target.dc.get(), width, height, resources);
        pixels = target.capture();
        Bitmap image(width, height, width * 4, PixelFormat32bppRGB, reinterpret_cast<BYTE*>(pixels.data()));
        savePng(image, name);
        if (referenceFrames() && !animated)
            expectLikeReference(name);
    }
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y * width + x)]; }
    uint32_t at(POINT point) const { return at(point.x, point.y); }
    bool anyIn(const RECT& box, uint32_t colour) const {
        for (int y = box.top; y < box.bottom; ++y)
            for (int x = box.left; x < box.right; ++x)
                if (at(x, y) == colour)
                    return true;
        return false;
    }

    void expectLikeReference(const std::wstring& name) const {
        Bitmap stored((std::wstring(referenceFrames()) + L"\\" + name + L".png").c_str());
        ASSERT_EQ(stored.GetLastStatus(), Ok) << "no reference frame " << name;
        const bool sameSize = static_cast<int>(stored.GetWidth()) == width;
        // The twin at this run's size, as a person would compare them side by side.
        Bitmap reference(width, height, PixelFormat32bppRGB);
        {
            Graphics graphics(&reference);
            graphics.SetInterpolationMode(sameSize ? InterpolationModeNearestNeighbor
                                                   : InterpolationModeHighQualityBicubic);
            graphics.SetPixelOffsetMode(PixelOffsetModeHalf);
            graphics.DrawImage(&stored, Rect(0, 0, width, height));
        }
        BitmapData data{};
        Rect all(0, 0, width, height);
        ASSERT_EQ(reference.LockBits(&all, ImageLockModeRead, PixelFormat32bppRGB, &data), Ok);
        int differing = 0;
        for (int y = 0; y < height; ++y) {
            const auto* row =
                reinterpret_cast<const uint32_t*>(static_cast<const BYTE*>(data.Scan0) + y * data.Stride);
            for (int x = 0; x < width; ++x) {
                differing += differs(row[x], at(x, y), sameSize ? 0 : differenceFloor);
            }
        }
        reference.UnlockBits(&data);
        if (sameSize) {
            EXPECT_EQ(differing, 0) << name << " differs from its reference";
            return;
        }
        const double share = static_cast<double>(differing) / (static_cast<double>(width) * height);
        std::printf("%ls: %.2f %% of the pixels differ from the scaled twin\n", name.c_str(), share * 100.0);
        EXPECT_LE(share, scaledTwinTolerance) << name << " is not its reference scaled";
        // The ink of each element's rectangle in the twin as painted, times the area's scale.
        BitmapData original{};
        Rect stillSize(0, 0, static_cast<INT>(stored.GetWidth()), static_cast<INT>(stored.GetHeight()));
        ASSERT_EQ(stored.LockBits(&stillSize, ImageLockModeRead, PixelFormat32bppRGB, &original), Ok);
        std::vector<uint32_t> unscaled(static_cast<size_t>(stillSize.Width) * stillSize.Height);
        for (int y = 0; y < stillSize.Height; ++y)
            for (int x = 0; x < stillSize.Width; ++x)
                unscaled[static_cast<size_t>(y * stillSize.Width + x)] =
                    reinterpret_cast<const uint32_t*>(static_cast<const BYTE*>(original.Scan0) +
                                                      y * original.Stride)[x] |
                    0xFF000000u;
        stored.UnlockBits(&original);
        const float scale = static_cast<float>(width) / static_cast<float>(stillSize.Width);
        const auto logical = [&](LONG pixels) {
            return scaledPixels(static_cast<float>(pixels), 1.0f / scale);
        };
        for (const PageElement& element : currentPageModel(takeSharedSnapshot(), width, height).elements) {
            const RECT& r = element.rect;
            const RECT small{logical(r.left), logical(r.top), logical(r.right), logical(r.bottom)};
            const double twinInk =
                inkIn(unscaled, stillSize.Width, small, commonestColour(unscaled, stillSize.Width, small)) *
                static_cast<double>(scale * scale);
            const double ink = inkIn(pixels, width, r, commonestColour(pixels, width, r));
            if (twinInk < 50)
                continue; // too little to tell
            EXPECT_TRUE(ink >= twinInk * leastInk && ink <= twinInk * mostInk)
                << name << ": " << ink << " pixels of ink in " << element.text.substr(0, 20) << ", the twin "
                << twinInk;
        }
    }

    int width;
    int height;
    std::vector<uint32_t> pixels;
};

// Inside a button clear of its label and of its corners and border at any scale.
POINT insideButton(const RECT& rect) {
    return {rect.left + widthOf(rect) / 8, centreOf(rect).y};
}

// The layout the frame was painted with.
Layout shownLayout() {
    return windowLayout(setupState.page, setupState.status.load());
}

// Between the left edge of a box and where its text starts, halfway down: only the box's fill.
POINT insideMargin(const RECT& box, const RECT& text) {
    return {(box.left + text.left) / 2, (text.top + text.bottom) / 2};
}

class Render : public ::testing::Test {
  protected:
    void SetUp() override {
        setupState.language = 0;
        setupState.page = SetupPage::LanguagePage;
        setupState.hoverLanguage = -1;
        clearHover(setupState);
        setupState.termsAccepted = false;
        setupState.termsScroll = 0;
        setupState.focus = FocusItem::None;
        setupState.focusCues = false;
        setInstallDir(L"C:\\users\\root\\AppData\\Local\\Ostrel");
        setShortcutMissing(false);
    }
    static void show(SetupStatus status, const std::wstring& statusText,
                     const std::wstring& errorText = L"") {
        setupState.page = SetupPage::ProgressPage;
        std::lock_guard lock(setupState.sharedMutex);
        setupState.status = status;
        setupState.statusText = statusText;
        setupState.errorText = errorText;
        setupState.latestVersion = L"1.3.0";
        setupState.installedVersion = L"1.2.0";
    }
};
} // namespace

TEST(WidgetArithmetic, FormatBytesPicksTheUnitFromTheCount) {
    EXPECT_EQ(formatBytes(0), L"0 B");
    EXPECT_EQ(formatBytes(1023), L"1023 B");
    EXPECT_EQ(formatBytes(1024), L"1.0 KB");
    EXPECT_EQ(formatBytes(1048575), L"1024.0 KB");
    EXPECT_EQ(formatBytes(1048576), L"1.0 MB");
    EXPECT_EQ(formatBytes(5'000'000'000ull), L"4.66 GB");
    EXPECT_EQ(formatBytes(~0ull), L"17179869184.00 GB");
}

TEST(FreeSpace, AsksTheNearestFolderThatExists) {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const uint64_t there = freeBytesAt(temp);
    EXPECT_GT(there, 0u);
    const uint64_t notYet = freeBytesAt(std::wstring(temp) + L"not-created-yet\\Ostrel");
    EXPECT_GT(notYet, 0u) << "a folder the install has still to create";
    EXPECT_NEAR(static_cast<double>(notYet), static_cast<double>(there), 64.0 * 1024 * 1024);
    EXPECT_EQ(freeBytesAt(L"Q:\\Ostrel"), 0u) << "no such drive";
}

TEST(WidgetArithmetic, IndeterminateSegmentGlidesAcrossTheTrack) {
    const RECT bar = windowLayout(SetupPage::ProgressPage).progressBar;
    const int x = bar.left;
    const int width = widthOf(bar);
    const int travel = width - width / 3;
    EXPECT_NEAR(indeterminateSegmentX(x, width, 0), x + travel / 2, 1);
    EXPECT_NEAR(indeterminateSegmentX(x, width, 500), x + travel, 1);
    EXPECT_NEAR(indeterminateSegmentX(x, width, 1000), x + travel / 2, 1);
    EXPECT_NEAR(indeterminateSegmentX(x, width, 1500), x, 1);
    EXPECT_EQ(indeterminateSegmentX(x, width, 2500), indeterminateSegmentX(x, width, 500));
    EXPECT_EQ(determinateFillWidth(width, 0.0f), 0);
    EXPECT_EQ(determinateFillWidth(width, 1.0f), width);
}

TEST(WidgetArithmetic, EasingCoversFifteenPercentAndSnaps) {
    float shown = 0.0f;
    shown = easeProgress(shown, 1.0);
    EXPECT_FLOAT_EQ(shown, 0.15f);
    shown = easeProgress(shown, 1.0);
    EXPECT_NEAR(shown, 0.2775f, 1e-6);
    EXPECT_FLOAT_EQ(easeProgress(0.9995f, 1.0), 1.0f);
    int frames = 0;
    for (shown = 0.0f; shown != 1.0f && frames < 200; ++frames)
        shown = easeProgress(shown, 1.0);
    EXPECT_LT(frames, 60);
}

TEST(WidgetArithmetic, RemainingTimeTexts) {
    EXPECT_EQ(remainingTimeText(59.6, L"remaining"), L"60s remaining");
    EXPECT_EQ(remainingTimeText(125, L"remaining"), L"2m 5s remaining");
    // Near-stalled and miscounted rates stay defined.
    EXPECT_EQ(remainingTimeText(1e300, L"left"), L"5999m 59s left");
    EXPECT_EQ(remainingTimeText(std::numeric_limits<double>::quiet_NaN(), L"left"), L"5999m 59s left");
    EXPECT_EQ(downloadSpeedText(0, UINT64_MAX, 1e-300, L"left"), L"0 B/s  \u2022  5999m 59s left");
    EXPECT_EQ(downloadSpeedText(0, 1, 1e300, L"left").substr(0, 3), L"931");
    EXPECT_EQ(downloadSpeedText(100, 0, 2048, L"left"), L"2.0 KB/s");
    EXPECT_EQ(downloadSpeedText(0, 1000, 0, L"left"), L"0 B/s");
    EXPECT_EQ(downloadSpeedText(0, 1'048'576, 1'048'576, L"left"), L"1.0 MB/s  \u2022  1s left");
}

TEST(WidgetArithmetic, TermsScrollIsClampedAndTheThumbStaysInItsTrack) {
    const Layout layout = windowLayout(SetupPage::TermsPage);
    const int view = heightOf(layout.termsText);
    const TermsScrollGeometry shortText = termsScrollGeometry(layout, view - 1, 500);
    EXPECT_EQ(shortText.maxScroll, 0);
    EXPECT_EQ(shortText.scroll, 0);
    EXPECT_EQ(shortText.thumbLength, 0);

    const TermsScrollGeometry longText = termsScrollGeometry(layout, 2000, 100000);
    EXPECT_EQ(longText.maxScroll, 2000 - view) << "the last line stops at the text's end";
    EXPECT_EQ(longText.scroll, longText.maxScroll);
    EXPECT_GE(longText.thumbLength, 20);
    EXPECT_EQ(longText.thumbOffset + longText.thumbLength, heightOf(layout.termsScrollTrack));
    EXPECT_EQ(termsScrollGeometry(layout, 2000, -40).scroll, 0);

    const TermsScrollGeometry low =
        termsScrollGeometry(layoutFor({SetupPage::TermsPage, SetupStatus::Checking, W, 300}), 100000, 10);
    EXPECT_EQ(low.thumbLength, 20) << "never shorter than that";
}

TEST_F(Render, LanguagePageLaysOutItsItemsAndShowsTheSelection) {
    setupState.language = 2;
    hoverFlag(setupState, FocusItem::Close) = true;
    Frame frame(L"language-page");
    const Layout layout = shownLayout();
    for (int i = 0; i < languageCount; ++i)
        EXPECT_EQ(frame.at(centreOf(layout.languageItems[i].accentBar)) == accent, i == 2)
            << "accent bar of the selected item only, item " << i;
    EXPECT_EQ(frame.at(centreOf(layout.heading).x, (layout.titleBar.bottom + layout.heading.top) / 2),
              background);
    EXPECT_EQ(frame.at(nearCorner(layout.closeButton)), 0xFFE81123u) << "hovered close button";
    EXPECT_NE(frame.at(nearCorner(layout.minimizeButton)), 0xFFE81123u);
    EXPECT_EQ(frame.at(nearCorner(layout.primaryButton)), accent) << "NEXT";
}

TEST_F(Render, OptionsPageInEveryLanguage) {
    setupState.page = SetupPage::OptionsPage;
    // On a drive that does not exist, so the free space shows 0 B in every run and the frames compare.
    setInstallDir(L"Q:\\Users\\Someone\\AppData\\Local\\A very long folder name\\that keeps going\\and "
                  L"going\\and going further still\\deeper and deeper\\Ostrel");
    const Layout layout = shownLayout();
    for (int32_t id = 0; id < languageCount; ++id) {
        setupState.language = id;
        Frame frame((L"options-page-" + std::wstring(languageCode(id))).c_str());
        EXPECT_EQ(frame.at(insideMargin(layout.folderBox, layout.folderText)), 0xFF22252Eu) << "folder box";
        EXPECT_TRUE(frame.anyIn(layout.desktopShortcut.box, 0xFF22252Eu)) << "desktop shortcut box";
        EXPECT_TRUE(frame.anyIn(layout.startMenuShortcut.box, 0xFF22252Eu)) << "Start-menu shortcut box";
        EXPECT_FALSE(frame.anyIn(layout.backButton, accent)) << "BACK is not a primary button";
        EXPECT_EQ(frame.at(nearCorner(layout.primaryButton)), accent) << "NEXT";
    }
}

TEST_F(Render, TermsPageDisablesNextUntilAccepted) {
    setupState.page = SetupPage::TermsPage;
    const Layout layout = shownLayout();
    const uint32_t boxFill = 0xFF0E1016u;
    for (int32_t id : {0, 1, 2, 3, 4}) {
        setupState.language = id;
        setupState.termsScroll = 100000;
        Frame frame((L"terms-page-" + std::wstring(languageCode(id))).c_str());
        const TermsScrollGeometry terms =
            currentPageModel(takeSharedSnapshot(), frame.width, frame.height).terms;
        EXPECT_GT(termsTextHeight(layout, id), heightOf(layout.termsText));
        EXPECT_EQ(terms.scroll, termsTextHeight(layout, id) - heightOf(layout.termsText))
            << "clamped to the end";
        EXPECT_EQ(setupState.termsScroll, 100000) << "painting leaves the state alone";
        EXPECT_EQ(frame.at(insideMargin(layout.termsBox, layout.termsText)), boxFill);
        const RECT& track = layout.termsScrollTrack;
        EXPECT_NE(frame.at(centreOf(track).x, track.bottom - 3), boxFill) << "the thumb at the track's end";
        EXPECT_TRUE(frame.anyIn(layout.termsAgree.box, 0xFF22252Eu)) << "the agree box";
        const Color disabled(frame.at(nearCorner(layout.primaryButton)));
        EXPECT_LT(disabled.GetBlue(), 0x60) << "NEXT is grey, not blue";
    }
    setupState.language = 0;
    setupState.termsAccepted = true;
    Frame accepted(L"terms-page-accepted");
    EXPECT_EQ(accepted.at(nearCorner(layout.primaryButton)), accent);
}

TEST_F(Render, ProgressPageInEveryStatus) {
    const LocalizedStrings& text = stringsFor(0);
    show(SetupStatus::Checking, text.statusChecking);
    Frame(L"progress-0-checking", true);

    show(SetupStatus::ReadyToInstall, L"Ready to install Ostrel - v1.3.0 (12.5 MB)");
    Frame ready(L"progress-1-ready");
    const RECT atRight = shownLayout().primaryButton;
    EXPECT_EQ(ready.at(nearCorner(atRight)), accent);

    show(SetupStatus::UpdateAvailable, L"A new update is available: v1.2.0 \u2192 v1.3.0");
    Frame(L"progress-2-update");
    show(SetupStatus::UpToDate, text.statusUpToDate);
    Frame(L"progress-3-uptodate");

    show(SetupStatus::Downloading, text.statusDownloading);
    setupState.progress = 0.5;
    setupState.displayedProgress = 0.5f;
    setupState.downloadedBytes = 6'553'600;
    setupState.totalBytes = 13'107'200;
    setupState.downloadSpeed = 1'258'291.0;
    Frame downloading(L"progress-4-downloading");
    const Layout layout = shownLayout();
    EXPECT_EQ(downloading.at(nearCorner(layout.primaryButton)), 0xFF4B5563u) << "CANCEL";
    EXPECT_EQ(downloading.at(nearCorner(atRight)), background) << "nothing where INSTALL was";
    const RECT& bar = layout.progressBar;
    const Color filled(downloading.at(bar.left + widthOf(bar) / 8, centreOf(bar).y));
    const Color unfilled(downloading.at(bar.right - widthOf(bar) / 8, centreOf(bar).y));
    EXPECT_GT(filled.GetBlue(), 0xE0) << "the fill covers the first half";
    EXPECT_EQ(unfilled.GetValue(), 0xFF2A2D36u) << "the track shows beyond it";

    show(SetupStatus::Extracting, text.statusExtracting);
    Frame extracting(L"progress-5-extracting");
    EXPECT_EQ(extracting.at(nearCorner(atRight)), background) << "no button while unpacking";
    show(SetupStatus::Installing, text.statusInstalling);
    Frame(L"progress-6-installing");

    show(SetupStatus::Complete, text.statusComplete);
    Frame complete(L"progress-7-complete");
    EXPECT_TRUE(complete.anyIn(shownLayout().statusLine, 0xFF22C55Eu)) << "the Complete line is green";

    show(SetupStatus::Failed, L"", text.errConnect);
    Frame failed(L"progress-8-failed");
    EXPECT_EQ(failed.at(nearCorner(shownLayout().primaryButton)), 0xFFEF4444u) << "RETRY is red";

    setupState.language = 4;
    const LocalizedStrings& russian = stringsFor(4);
    show(SetupStatus::Downloading, russian.statusDownloading);
    Frame(L"progress-4-downloading-ru");
    show(SetupStatus::Failed, L"", russian.errDownload);
    Frame(L"progress-8-failed-ru");
}

TEST(Logo, FillsItsDesignBoxAndKeepsItsCountersOpen) {
    std::unique_ptr<GraphicsPath> logo(buildLogoPath());
    RectF bounds;
    ASSERT_EQ(logo->GetBounds(&bounds), Ok);
    EXPECT_NEAR(bounds.X, 1.07f, 0.01f);
    EXPECT_NEAR(bounds.GetRight(), 542.16f, 0.01f);
    EXPECT_NEAR(bounds.Y, -95.41f, 0.01f);
    EXPECT_NEAR(bounds.GetBottom(), 0.0f, 0.01f);

    EXPECT_TRUE(logo->IsVisible(8.0f, -47.7f)) << "left side of the O";
    EXPECT_FALSE(logo->IsVisible(48.8f, -47.7f)) << "inside the O";
    EXPECT_FALSE(logo->IsVisible(340.0f, -68.0f)) << "inside the bowl of the R";
    EXPECT_TRUE(logo->IsVisible(247.7f, -40.0f)) << "stem of the T";
    EXPECT_FALSE(logo->IsVisible(105.0f, -47.7f)) << "between O and S";

    // Large, for a person to judge the letters.
    Bitmap preview(1120, 240, PixelFormat32bppARGB);
    {
        Graphics graphics(&preview);
        graphics.SetSmoothingMode(SmoothingModeHighQuality);
        graphics.Clear(Color(0xFF02061E));
        Matrix placement(2, 0, 0, 2, 16, 215);
        logo->Transform(&placement);
        SolidBrush white{Color(0xFFFFFFFF)};
        graphics.FillPath(&white, logo.get());
    }
    savePng(preview, L"logo");
}

TEST_F(Render, LogoSitsUnderTheIconWithOrWithoutIt) {
    const SidePanelLayout panel = sidePanelLayout(scaledWindowHeight(), setupState.scale);
    // A point of the wordmark's design (as in the test above) in the frame.
    const auto placed = [&](float x, float y) {
        return POINT{static_cast<LONG>(panel.logoLeft + panel.logoScale * x),
                     static_cast<LONG>(panel.logoBaseline + panel.logoScale * y)};
    };
    const POINT icon = centreOf(panel.appIcon);
    const POINT besideIcon{panel.appIcon.left / 2, icon.y};
    for (bool withIcon : {true, false}) {
        std::unique_ptr<Bitmap> iconBitmap;
        if (!withIcon)
            iconBitmap = std::move(resources.appIcon);
        Frame frame(withIcon ? L"sidebar" : L"sidebar-no-icon");
        const auto isWhite = [&](POINT point) { return frame.at(point) == 0xFFFFFFFFu; };
        EXPECT_TRUE(isWhite(placed(247.7f, -40.0f))) << "stem of the T";
        EXPECT_TRUE(isWhite(placed(8.0f, -47.7f))) << "left side of the O";
        EXPECT_FALSE(isWhite(placed(48.8f, -47.7f))) << "the O is a ring";
        EXPECT_FALSE(isWhite(placed(247.7f, 10.0f))) << "nothing below the baseline";
        EXPECT_EQ(frame.at(icon) != frame.at(besideIcon), withIcon) << "the icon, on a row the ribbons miss";
        if (!withIcon)
            resources.appIcon = std::move(iconBitmap);
    }
}

TEST_F(Render, TheCachedPanelHasThePixelsOfAFreshOne) {
    const int width = scaledWindowWidth();
    const int H = scaledWindowHeight();
    const auto expectSamePixels = [&](int height, const char* when) {
        const OffscreenTarget cached(width, height);
        const OffscreenTarget painted(width, height);
        paintBuffered(cached.dc.get(), width, height, resources, PanelSource::Cached);
        paintBuffered(painted.dc.get(), width, height, resources, PanelSource::Painted);
        const std::vector<uint32_t> a = cached.capture();
        const std::vector<uint32_t> b = painted.capture();
        int differing = 0;
        for (size_t i = 0; i < a.size(); ++i)
            differing += a[i] != b[i];
        EXPECT_EQ(differing, 0) << when;
    };
    expectSamePixels(H, "first frame");
    expectSamePixels(H, "from the copy");
    expectSamePixels(scaledPixels(460, setupState.scale), "after the height changed");
    const float scale = setupState.scale;
    setupState.scale = scale * 2;
    expectSamePixels(H * 2, "after the scale changed");
    setupState.scale = scale;
    resources.palette = paletteFor(true, currentSystemColours());
    expectSamePixels(H, "in high contrast");
    resources.palette = paletteFor(false, {});
    expectSamePixels(H, "after high contrast");
    std::unique_ptr<Bitmap> icon = std::move(resources.appIcon);
    expectSamePixels(H, "after the icon went");
    resources.appIcon = std::move(icon);
    expectSamePixels(H, "after the icon came back");
}

TEST_F(Render, CompleteWithAShortcutMissingSaysSoInAMutedLineReadersGetToo) {
    // The scaled runs' ink measure is too coarse for the long CJK lines at 9 points.
    if (screenScale() != 1.0f)
        GTEST_SKIP() << "checked at 96 DPI";
    for (int32_t language : {0, 1, 2, 3, 4}) {
        setupState.language = language;
        show(SetupStatus::Complete, stringsFor(language).statusComplete);
        const std::wstring code = languageCode(language);
        const Frame plain((L"progress-7-complete-" + code).c_str());
        const PageModel model = currentPageModel(takeSharedSnapshot(), plain.width, plain.height);
        setShortcutMissing(true);
        const Frame missing((L"progress-7-complete-no-shortcut-" + code).c_str());
        const PageModel withNotice = currentPageModel(takeSharedSnapshot(), plain.width, plain.height);
        setShortcutMissing(false);

        const PageElement* notice = findElement(withNotice, ElementId::ShortcutNotice);
        ASSERT_NE(notice, nullptr);
        EXPECT_EQ(findElement(model, ElementId::ShortcutNotice), nullptr);
        EXPECT_EQ(notice->kind, ElementKind::Text);
        EXPECT_EQ(notice->text, stringsFor(language).shortcutFailed);
        EXPECT_FALSE(notice->states.focusable);
        EXPECT_FALSE(plain.anyIn(notice->rect, mutedText));
        EXPECT_TRUE(missing.anyIn(notice->rect, mutedText)) << "language " << language;
        // Everything else is the frame without the line.
        int differing = 0;
        for (int y = 0; y < plain.height; ++y)
            for (int x = 0; x < plain.width; ++x) {
                const POINT point{x, y};
                if (!PtInRect(&notice->rect, point))
                    differing += plain.at(x, y) != missing.at(x, y);
            }
        EXPECT_EQ(differing, 0) << "language " << language;
    }
}

TEST_F(Render, FocusRingShowsOnlyOnceAKeyHasBeenUsed) {
    // The terms page: the options page's free space can change between two runs.
    setupState.page = SetupPage::TermsPage;
    setupState.focus = FocusItem::Back;
    setupState.focusCues = false;
    const Layout layout = shownLayout();
    const RECT& back = layout.backButton;
    Frame hidden(L"focus-hidden");
    EXPECT_NE(hidden.at(back.left + 3, back.top), focusRingColour);
    setupState.focusCues = true;
    Frame shown(L"focus-back");
    for (const POINT point :
         {POINT{back.left, back.top}, POINT{back.right - 1, back.bottom - 1},
          POINT{back.left + 1, centreOf(back).y}, POINT{centreOf(back).x, back.bottom - 2}})
        EXPECT_EQ(shown.at(point), focusRingColour) << point.x << "," << point.y;
    EXPECT_NE(shown.at(back.left + scaledPixels(focusRingWidth, setupState.scale), centreOf(back).y),
              focusRingColour)
        << "two units wide";
}

TEST_F(Render, EveryFocusableElementIsPaintedOnEveryPageAndStatus) {
    for (SetupPage page : allPages)
        for (SetupStatus status : allStatuses)
            for (bool accepted : {false, true}) {
                show(status, L"Status");
                setupState.page = page;
                setupState.termsAccepted = accepted;
                const int width = scaledWindowWidth();
                const int height = scaledWindowHeight();
                const OffscreenTarget target(width, height);
                paintBuffered(target.dc.get(), width, height, resources);
                const std::vector<uint32_t> pixels = target.capture();
                const PageModel model = currentPageModel(takeSharedSnapshot(), width, height);
                for (const PageElement& element : model.elements) {
                    if (!element.states.focusable)
                        continue;
                    bool painted = false;
                    for (int y = element.rect.top; y < element.rect.bottom && !painted; ++y)
                        for (int x = element.rect.left; x < element.rect.right && !painted; ++x)
                            painted = pixels[static_cast<size_t>(y * width + x)] != background;
                    EXPECT_TRUE(painted) << page << "/" << status << ": " << element.text;
                }
            }
}

// Only in the scaled prefixes, whose entries name their DPI: the frames above are then compared with
// their 96-DPI twins.
TEST(HighDpi, TheWindowIsItsLogicalSizeAtTheMonitorsDpi) {
    const char* expected = std::getenv("OSTREL_EXPECT_DPI");
    if (!expected)
        GTEST_SKIP() << "run in the scaled prefixes only";
    const UINT dpi = static_cast<UINT>(std::atoi(expected));
    ASSERT_EQ(GetDpiForSystem(), dpi);
    ASSERT_NE(referenceFrames(), nullptr);

    RenderResources windowResources;
    HWND window = createMainWindow(GetModuleHandleW(nullptr), windowResources);
    ASSERT_NE(window, nullptr) << "error " << GetLastError();
    EXPECT_EQ(GetDpiForWindow(window), dpi);
    RECT bounds{};
    GetWindowRect(window, &bounds);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const float full = static_cast<float>(dpi) / 96.0f;
    if (scaledPixels(windowHeight, full) <= heightOf(monitor.rcWork)) {
        EXPECT_EQ(widthOf(bounds), scaledPixels(windowWidth, full)) << "1170 at 144 DPI";
        EXPECT_EQ(heightOf(bounds), scaledPixels(windowHeight, full)) << "750 at 144 DPI";
        EXPECT_EQ(setupState.scale, full);
    } else {
        // 1560 x 1000 does not fit the test display's 768 rows: all of its height, no more.
        EXPECT_EQ(heightOf(bounds), heightOf(monitor.rcWork));
        EXPECT_LT(widthOf(bounds), scaledPixels(windowWidth, full));
        EXPECT_LT(setupState.scale, full);
    }
    EXPECT_EQ(bounds.left - monitor.rcMonitor.left, (widthOf(monitor.rcMonitor) - widthOf(bounds)) / 2);

    // What hit tests and screen readers get is the painted layout at the window's scale.
    const PageModel model = windowPageModel(window);
    const Layout logical = layoutFor({SetupPage::LanguagePage, SetupStatus::Checking, W, windowHeight});
    const PageElement* next = findElement(model, ElementId::Primary);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->rect.right,
              scaledPixels(static_cast<float>(logical.primaryButton.right), setupState.scale));
    EXPECT_EQ(next->rect.bottom,
              scaledPixels(static_cast<float>(logical.primaryButton.bottom), setupState.scale));
    EXPECT_EQ(elementAt(model, centreOf(next->rect)), next);
    DestroyWindow(window);
    setupState.scale = screenScale();
}

namespace {
// The system colours of Windows' two high-contrast schemes, as GetSysColor hands them over.
const SystemColours blackScheme{RGB(0, 0, 0), RGB(255, 255, 255), RGB(26, 235, 255), RGB(0, 0, 0),
                                RGB(0, 0, 0), RGB(255, 255, 255), RGB(255, 255, 0),  RGB(63, 242, 63)};
const SystemColours whiteScheme{RGB(255, 255, 255), RGB(0, 0, 0), RGB(55, 0, 110), RGB(255, 255, 255),
                                RGB(255, 255, 255), RGB(0, 0, 0), RGB(0, 0, 159),  RGB(96, 0, 0)};

uint32_t argb(COLORREF colour) {
    return Color::MakeARGB(0xFF, GetRValue(colour), GetGValue(colour), GetBValue(colour));
}

// The setup's own colours that mean something: none of them may show in high contrast.
std::vector<uint32_t> ownSignalColours() {
    const Palette dark = paletteFor(false, {});
    return {dark.accentButton.fill,  dark.accentButton.hoverFill,
            dark.dangerButton.fill,  dark.dangerButton.hoverFill,
            dark.neutralButton.fill, dark.success,
            dark.close.hoverFill,    dark.focusRing};
}
} // namespace

TEST(HighContrast, ThePaletteTakesTheSystemColoursOnlyWhileItIsOn) {
    for (const SystemColours& scheme : {blackScheme, whiteScheme}) {
        const Palette contrast = paletteFor(true, scheme);
        EXPECT_TRUE(contrast.highContrast);
        EXPECT_EQ(contrast.background, argb(scheme.window));
        for (uint32_t text : {contrast.brightText, contrast.secondaryText, contrast.mutedText, contrast.logo,
                              contrast.failure, contrast.success, contrast.warning})
            EXPECT_EQ(text, argb(scheme.windowText));
        EXPECT_EQ(contrast.selectedWash, argb(scheme.highlight));
        EXPECT_EQ(contrast.selectedText, argb(scheme.highlightText));
        EXPECT_EQ(contrast.accentButton.fill, argb(scheme.highlight));
        EXPECT_EQ(contrast.accentButton.text, argb(scheme.highlightText));
        EXPECT_EQ(contrast.dangerButton.fill, argb(scheme.highlight)) << "RETRY is the main action, not red";
        EXPECT_EQ(contrast.secondaryButton.fill, argb(scheme.buttonFace));
        EXPECT_EQ(contrast.secondaryButton.text, argb(scheme.buttonText));
        EXPECT_NE(contrast.secondaryButton.border, 0u) << "a button shows its edge";
        EXPECT_EQ(contrast.link, argb(scheme.hotLight));
        EXPECT_EQ(contrast.disabledButton.text, argb(scheme.grayText));
        EXPECT_EQ(contrast.panelTop, contrast.panelBottom) << "no gradient";
        EXPECT_EQ(contrast.progressFill, contrast.progressFillEnd);
    }
    const Palette darkOverBlack = paletteFor(false, blackScheme);
    const Palette darkOverWhite = paletteFor(false, whiteScheme);
    EXPECT_FALSE(darkOverBlack.highContrast);
    EXPECT_EQ(darkOverBlack.background, background) << "off, the system's colours change nothing";
    EXPECT_EQ(darkOverWhite.background, background);
    EXPECT_EQ(darkOverWhite.accentButton.fill, accent);
}

// Only in the prefixes that carry a high-contrast scheme: Wine reports high contrast as off, so the
// palette is made from the prefix's colours as the window makes it when Windows says it is on.
TEST_F(Render, HighContrastFramesShowTheSystemColoursOnly) {
    const char* scheme = std::getenv("OSTREL_EXPECT_SCHEME");
    if (!scheme)
        GTEST_SKIP() << "run in the prefixes with a high-contrast scheme only";
    const std::string name = scheme;
    const SystemColours system = currentSystemColours();
    ASSERT_EQ(system.window, (name == "black" ? blackScheme : whiteScheme).window) << "the prefix's scheme";
    ASSERT_EQ(system.highlight, (name == "black" ? blackScheme : whiteScheme).highlight);
    resources.palette = paletteFor(true, system);
    const uint32_t window = argb(system.window), text = argb(system.windowText),
                   face = argb(system.buttonFace), highlight = argb(system.highlight);
    const std::vector<uint32_t> signals = ownSignalColours();
    const auto frame = [&](const std::string& page) -> std::unique_ptr<Frame> {
        auto shown = std::make_unique<Frame>(std::wstring(L"hc-" + std::wstring(name.begin(), name.end()) +
                                                          L"-" + std::wstring(page.begin(), page.end()))
                                                 .c_str(),
                                             true);
        const Layout layout = shownLayout();
        int signalled = 0;
        for (int y = 0; y < shown->height; ++y)
            for (int x = 0; x < shown->width; ++x)
                // The icon is a picture, not a colour of ours.
                if (!PtInRect(&layout.sidePanel.appIcon, POINT{x, y}))
                    signalled += std::count(signals.begin(), signals.end(), shown->at(x, y)) > 0;
        EXPECT_EQ(signalled, 0) << page << ": pixels in an accent, danger or success colour";
        const RECT& panel = layout.sidePanel.panel;
        EXPECT_EQ(shown->at(panel.left + 4, panel.top + 4), window) << page << ": no ribbons";
        EXPECT_EQ(shown->at(panel.left + 4, panel.bottom - 4), window) << page;
        return shown;
    };

    setupState.language = 1;
    auto languages = frame("language");
    const Layout languageLayout = shownLayout();
    const RECT& selected = languageLayout.languageItems[1].row;
    EXPECT_EQ(languages->at(selected.right - 8, centreOf(selected).y), highlight) << "the selected language";
    EXPECT_EQ(languages->at(insideButton(languageLayout.primaryButton)), highlight) << "NEXT";
    EXPECT_TRUE(languages->anyIn(languageLayout.heading, text));

    setupState.language = 0;
    setupState.page = SetupPage::OptionsPage;
    setInstallDir(L"Q:\\Ostrel");
    auto options = frame("options");
    const Layout optionsLayout = shownLayout();
    EXPECT_EQ(options->at(insideButton(optionsLayout.backButton)), face) << "BACK";
    EXPECT_TRUE(options->anyIn(optionsLayout.browseLink, argb(system.hotLight))) << "the link";
    EXPECT_EQ(options->at(insideMargin(optionsLayout.folderBox, optionsLayout.folderText)), window);

    setupState.page = SetupPage::TermsPage;
    auto terms = frame("terms");
    const RECT& next = shownLayout().primaryButton;
    EXPECT_EQ(terms->at(insideButton(next)), face) << "NEXT cannot be pressed";
    EXPECT_TRUE(terms->anyIn(next, argb(system.grayText)));

    show(SetupStatus::Downloading, L"Downloading...");
    setupState.displayedProgress = 0.5f;
    auto downloading = frame("downloading");
    const RECT& bar = shownLayout().progressBar;
    EXPECT_EQ(downloading->at(bar.left + widthOf(bar) / 4, centreOf(bar).y), highlight) << "the share done";
    EXPECT_EQ(downloading->at(insideButton(shownLayout().primaryButton)), face) << "CANCEL";

    show(SetupStatus::Failed, L"", L"Unable to connect to the server.");
    auto failed = frame("failed");
    EXPECT_EQ(failed->at(insideButton(shownLayout().primaryButton)), highlight) << "RETRY";
    EXPECT_TRUE(failed->anyIn(shownLayout().statusLine, text));
    show(SetupStatus::Complete, L"Installation complete!");
    frame("complete");
    resources.palette = paletteFor(false, {});
}
