#include "app/main_window.h"
#include "i18n/language_table.h"
#include "render/frame.h"
#include "render/logo.h"
#include "render/pages.h"
#include "render/widgets.h"
#include "state/setup_state.h"
#include "tests/offscreen_target.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

using namespace Gdiplus;

namespace {
constexpr int W = 780;
constexpr int H = 500;

// GDI+ and the paint resources for the whole program, as the entry point holds them.
std::unique_ptr<GdiplusSession> gdiplus;
RenderResources resources;

class PaintEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        gdiplus = std::make_unique<GdiplusSession>();
        resources = loadRenderResources(GetModuleHandleW(nullptr));
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

// Folder of another run's frames that every frame must match pixel for pixel (the 144-DPI run
// compares with the 96-DPI one); null in the ordinary run.
const wchar_t* referenceFrames() {
    return _wgetenv(L"OSTREL_REFERENCE_FRAMES");
}

// Paints the current state as WM_PAINT does into a 780 x 500 target, keeps it as a PNG for people
// to look at, and compares it with the reference run's frame of the same name. Animated frames
// (the gliding segment follows the clock) are not compared.
struct Frame {
    explicit Frame(const wchar_t* name, bool animated = false) {
        const OffscreenTarget target(W, H);
        paintBuffered(target.dc.get(), W, H, resources);
        pixels = target.capture();
        Bitmap image(W, H, W * 4, PixelFormat32bppRGB, reinterpret_cast<BYTE*>(pixels.data()));
        savePng(image, name);
        if (referenceFrames() && !animated)
            expectSameAsReference(name);
    }
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y * W + x)]; }

    void expectSameAsReference(const std::wstring& name) const {
        Bitmap reference((std::wstring(referenceFrames()) + L"\\" + name + L".png").c_str());
        BitmapData data{};
        Rect all(0, 0, W, H);
        ASSERT_EQ(reference.LockBits(&all, ImageLockModeRead, PixelFormat32bppRGB, &data), Ok)
            << "no reference frame " << name;
        int differing = 0;
        for (int y = 0; y < H; ++y) {
            const auto* row =
                reinterpret_cast<const uint32_t*>(static_cast<const BYTE*>(data.Scan0) + y * data.Stride);
            for (int x = 0; x < W; ++x)
                differing += (row[x] & 0xFFFFFF) != (at(x, y) & 0xFFFFFF);
        }
        reference.UnlockBits(&data);
        EXPECT_EQ(differing, 0) << name << " differs from its reference";
    }

    std::vector<uint32_t> pixels;
};

void expectRect(const RECT& actual, LONG left, LONG top, LONG right, LONG bottom) {
    EXPECT_EQ(actual.left, left);
    EXPECT_EQ(actual.top, top);
    EXPECT_EQ(actual.right, right);
    EXPECT_EQ(actual.bottom, bottom);
}

class Render : public ::testing::Test {
  protected:
    void SetUp() override {
        setupState.language = 0;
        setupState.page = SetupPage::LanguagePage;
        setupState.hoverLanguage = -1;
        setupState.closeButton.hovered = false;
        setupState.primaryButton.hovered = false;
        setupState.termsAccepted = false;
        setupState.termsScroll = 0;
        setInstallDir(L"C:\\users\\root\\AppData\\Local\\Ostrel");
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
    const int width = 478;
    const int travel = width - width / 3;
    EXPECT_NEAR(indeterminateSegmentX(266, width, 0), 266 + travel / 2, 1);
    EXPECT_NEAR(indeterminateSegmentX(266, width, 500), 266 + travel, 1);
    EXPECT_NEAR(indeterminateSegmentX(266, width, 1000), 266 + travel / 2, 1);
    EXPECT_NEAR(indeterminateSegmentX(266, width, 1500), 266, 1);
    EXPECT_EQ(indeterminateSegmentX(266, width, 2500), indeterminateSegmentX(266, width, 500));
    EXPECT_EQ(determinateFillWidth(478, 0.0f), 0);
    EXPECT_EQ(determinateFillWidth(478, 1.0f), 478);
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
    EXPECT_EQ(downloadSpeedText(100, 0, 2048, L"left"), L"2.0 KB/s");
    EXPECT_EQ(downloadSpeedText(0, 1000, 0, L"left"), L"0 B/s");
    EXPECT_EQ(downloadSpeedText(0, 1'048'576, 1'048'576, L"left"), L"1.0 MB/s  \u2022  1s left");
}

TEST(WidgetArithmetic, TermsScrollIsClampedAndTheThumbStaysInItsTrack) {
    const TermsScrollGeometry shortText = termsScrollGeometry(500, 200, 500);
    EXPECT_EQ(shortText.boxHeight, 248);
    EXPECT_EQ(shortText.maxScroll, 0);
    EXPECT_EQ(shortText.scroll, 0);
    EXPECT_EQ(shortText.thumbLength, 0);

    const TermsScrollGeometry longText = termsScrollGeometry(500, 2000, 100000);
    EXPECT_EQ(longText.maxScroll, 2000 - 248 + 16);
    EXPECT_EQ(longText.scroll, longText.maxScroll);
    EXPECT_GE(longText.thumbLength, 20);
    EXPECT_EQ(100 + longText.thumbOffset + longText.thumbLength, 100 + 248 - 8);
    EXPECT_EQ(termsScrollGeometry(500, 2000, -40).scroll, 0);

    const TermsScrollGeometry low = termsScrollGeometry(300, 100000, 10);
    EXPECT_EQ(low.boxHeight, 80);
    EXPECT_EQ(low.thumbLength, 20);
}

TEST_F(Render, LanguagePageLaysOutItsItemsAndShowsTheSelection) {
    setupState.language = 2;
    setupState.closeButton.hovered = true;
    Frame frame(L"language-page");
    for (int i = 0; i < 5; ++i)
        expectRect(setupState.languageItemRects[i], 266, 110 + 53 * i, 744, 158 + 53 * i);
    expectRect(setupState.primaryButton.rect, 604, 440, 744, 480);
    expectRect(setupState.closeButton.rect, 736, 0, 780, 44);
    expectRect(setupState.minimizeButton.rect, 692, 0, 736, 44);
    EXPECT_EQ(frame.at(500, 60), 0xFF12141Au);
    EXPECT_EQ(frame.at(267, 118 + 53 * 2 + 16), 0xFF3B82F6u) << "accent bar of the selected item";
    EXPECT_EQ(frame.at(740, 4), 0xFFE81123u) << "hovered close button";
    EXPECT_EQ(frame.at(610, 444), 0xFF3B82F6u) << "NEXT";
}

TEST_F(Render, OptionsPageInEveryLanguage) {
    setupState.page = SetupPage::OptionsPage;
    // On a drive that does not exist, so the free space shows 0 B in every run and the frames compare.
    setInstallDir(L"Q:\\Users\\Someone\\AppData\\Local\\A very long folder name\\that keeps going\\and "
                  L"going\\and going further still\\deeper and deeper\\Ostrel");
    for (int32_t id = 0; id < languageCount; ++id) {
        setupState.language = id;
        Frame frame((L"options-page-" + std::wstring(languageCode(id))).c_str());
        expectRect(setupState.browseButton.rect, 674, 139, 744, 181);
        expectRect(setupState.desktopShortcutBox.rect, 266, 213, 744, 231);
        expectRect(setupState.startMenuShortcutBox.rect, 266, 237, 744, 255);
        expectRect(setupState.backButton.rect, 266, 440, 406, 480);
        EXPECT_EQ(frame.at(270, 160), 0xFF22252Eu) << "folder box";
    }
}

TEST_F(Render, TermsPageDisablesNextUntilAccepted) {
    setupState.page = SetupPage::TermsPage;
    for (int32_t id : {0, 1, 2, 3, 4}) {
        setupState.language = id;
        setupState.termsScroll = 100000;
        Frame frame((L"terms-page-" + std::wstring(languageCode(id))).c_str());
        EXPECT_GT(setupState.termsContentHeight, 248);
        EXPECT_EQ(setupState.termsScroll, setupState.termsContentHeight - 248 + 16) << "clamped to the end";
        expectRect(setupState.termsAgreeBox.rect, 266, 358, 744, 376);
        expectRect(setupState.primaryButton.rect, 604, 440, 744, 480);
        const Color disabled(frame.at(610, 470));
        EXPECT_LT(disabled.GetBlue(), 0x60) << "NEXT is grey, not blue";
    }
    setupState.language = 0;
    setupState.termsAccepted = true;
    Frame accepted(L"terms-page-accepted");
    EXPECT_EQ(accepted.at(610, 470), 0xFF3B82F6u);
}

TEST_F(Render, ProgressPageInEveryStatus) {
    const LocalizedStrings& text = stringsFor(0);
    show(SetupStatus::Checking, text.statusChecking);
    Frame(L"progress-0-checking", true);

    show(SetupStatus::ReadyToInstall, L"Ready to install Ostrel - v1.3.0 (12.5 MB)");
    Frame ready(L"progress-1-ready");
    expectRect(setupState.primaryButton.rect, 604, 440, 744, 480);
    EXPECT_EQ(ready.at(610, 444), 0xFF3B82F6u);

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
    expectRect(setupState.primaryButton.rect, 266, 440, 406, 480);
    const Color filled(downloading.at(300, 148));
    const Color unfilled(downloading.at(700, 148));
    EXPECT_GT(filled.GetBlue(), 0xE0) << "the fill covers the first half";
    EXPECT_EQ(unfilled.GetValue(), 0xFF2A2D36u) << "the track shows beyond it";

    show(SetupStatus::Extracting, text.statusExtracting);
    Frame(L"progress-5-extracting");
    show(SetupStatus::Installing, text.statusInstalling);
    Frame(L"progress-6-installing");

    show(SetupStatus::Complete, text.statusComplete);
    Frame complete(L"progress-7-complete");
    bool green = false;
    for (int x = 266; x < 500 && !green; ++x)
        for (int y = 104; y < 126 && !green; ++y)
            green = complete.at(x, y) == 0xFF22C55Eu;
    EXPECT_TRUE(green) << "the Complete line is green";

    show(SetupStatus::Failed, L"", text.errConnect);
    Frame failed(L"progress-8-failed");
    EXPECT_EQ(failed.at(610, 444), 0xFFEF4444u) << "RETRY is red";

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
    const auto isWhite = [](const Frame& frame, int x, int y) { return frame.at(x, y) == 0xFFFFFFFFu; };
    // Design point (x, y) lands at (30 + 0.3142 x, 285.24 + 0.3142 y).
    for (bool withIcon : {true, false}) {
        std::unique_ptr<Bitmap> icon;
        if (!withIcon)
            icon = std::move(resources.appIcon);
        Frame frame(withIcon ? L"sidebar" : L"sidebar-no-icon");
        EXPECT_TRUE(isWhite(frame, 107, 273)) << "stem of the T";
        EXPECT_TRUE(isWhite(frame, 33, 270)) << "left side of the O";
        EXPECT_FALSE(isWhite(frame, 45, 270)) << "the O is a ring";
        EXPECT_FALSE(isWhite(frame, 115, 288)) << "nothing below the baseline";
        EXPECT_EQ(frame.at(115, 222) != frame.at(60, 222), withIcon) << "the icon, on a row the ribbons miss";
        if (!withIcon)
            resources.appIcon = std::move(icon);
    }
}

TEST_F(Render, TheCachedPanelHasThePixelsOfAFreshOne) {
    const auto expectSamePixels = [](int height, const char* when) {
        const OffscreenTarget cached(W, height);
        const OffscreenTarget painted(W, height);
        paintBuffered(cached.dc.get(), W, height, resources, PanelSource::Cached);
        paintBuffered(painted.dc.get(), W, height, resources, PanelSource::Painted);
        const std::vector<uint32_t> a = cached.capture();
        const std::vector<uint32_t> b = painted.capture();
        int differing = 0;
        for (size_t i = 0; i < a.size(); ++i)
            differing += a[i] != b[i];
        EXPECT_EQ(differing, 0) << when;
    };
    expectSamePixels(H, "first frame");
    expectSamePixels(H, "from the copy");
    expectSamePixels(460, "after the height changed");
    std::unique_ptr<Bitmap> icon = std::move(resources.appIcon);
    expectSamePixels(H, "after the icon went");
    resources.appIcon = std::move(icon);
    expectSamePixels(H, "after the icon came back");
}

// Only in the scaled prefix, whose entry names its DPI; the frames above then prove, pixel for
// pixel against the 96-DPI run, that nothing grew.
TEST(HighDpi, ThePrefixIsScaledAndTheTextIsNot) {
    const char* expected = std::getenv("OSTREL_EXPECT_DPI");
    if (!expected)
        GTEST_SKIP() << "run in the scaled prefix only";
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    ASSERT_EQ(dpi, std::atoi(expected));
    ASSERT_NE(referenceFrames(), nullptr);

    OffscreenTarget target(W, H);
    Graphics graphics(target.dc.get());
    EXPECT_EQ(graphics.GetDpiX(), static_cast<REAL>(dpi));
    FontFamily family(L"Segoe UI");
    const Font ours = makeFont(family, 11, false);
    const Font inPoints(&family, 11, FontStyleRegular, UnitPoint);
    const wchar_t* label = L"Downloading... (50%)";
    RectF oursBox, pointsBox;
    graphics.MeasureString(label, -1, &ours, PointF(0, 0), &oursBox);
    graphics.MeasureString(label, -1, &inPoints, PointF(0, 0), &pointsBox);
    // What the frames would show with fonts in points: text scaled, boxes not.
    EXPECT_NEAR(pointsBox.Width / oursBox.Width, static_cast<float>(dpi) / 96.0f, 0.05f);
}
