#include "app/main_window.h"
#include "app/single_instance.h"
#include "app/unattended.h"
#include "i18n/language_table.h"
#include "render/page_model.h"
#include "state/setup_state.h"
#include "test_build_dir.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include <knownfolders.h>
#include <shlobj.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace {
namespace fs = std::filesystem;

// Answers the first message box with this title, as a user would, from another thread.
void pressOkOn(const wchar_t* title, bool& seen) {
    for (int i = 0; i < 500; ++i, Sleep(20))
        if (HWND box = FindWindowW(L"#32770", title)) {
            seen = true;
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return;
        }
}

BOOL CALLBACK countSetupWindow(HWND window, LPARAM count) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (wcscmp(name, windowClassName) == 0)
        ++*reinterpret_cast<int*>(count);
    return TRUE;
}
} // namespace

TEST(MainWindow, WithoutAWindowTheSetupSaysSoAndEnds) {
    bool seen = false;
    std::thread answer(pressOkOn, windowTitle, std::ref(seen));
    EXPECT_EQ(runMainWindow(nullptr), 1);
    answer.join();
    EXPECT_TRUE(seen) << "a message box told the user";
}

TEST(SingleInstance, ASecondSetupBringsTheFirstForwardAndEnds) {
    const InstanceClaim claim = claimSingleInstance();
    ASSERT_TRUE(claim.first);
    EXPECT_FALSE(claimSingleInstance().first) << "the session already has its setup";
    RenderResources resources;
    HWND window = createMainWindow(GetModuleHandleW(nullptr), resources);
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_MINIMIZE);

    std::wstring commandLine = L"OstrelSetup.exe";
    const std::wstring program = std::wstring(testBuildDir) + L"\\OstrelSetup.exe";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    ASSERT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &created));
    const UniqueKernelHandle process(created.hProcess);
    const UniqueKernelHandle thread(created.hThread);
    // Our window answers the second setup's requests while we wait for it.
    DWORD waited = WAIT_TIMEOUT;
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         waited == WAIT_TIMEOUT && std::chrono::steady_clock::now() < end;) {
        waited = MsgWaitForMultipleObjects(1, &created.hProcess, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        if (waited == WAIT_OBJECT_0 + 1)
            waited = WAIT_TIMEOUT;
    }
    int windows = 0;
    EnumWindows(countSetupWindow, reinterpret_cast<LPARAM>(&windows));
    if (waited != WAIT_OBJECT_0)
        TerminateProcess(process.get(), 1);
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "the second setup ended by itself";
    DWORD exitCode = 1;
    GetExitCodeProcess(process.get(), &exitCode);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(windows, 1) << "no second window";
    EXPECT_FALSE(IsIconic(window)) << "the first setup's window was restored";
    DestroyWindow(window);
}

TEST(MainWindow, SizedForTheMonitorsDpiAndCentredOnIt) {
    const RECT screen{0, 0, 1366, 768};
    WindowPlacement placed = windowPlacement(96, screen, screen);
    EXPECT_EQ(placed.scale, 1.0f);
    EXPECT_TRUE(EqualRect(&placed.rect, std::array{RECT{293, 134, 293 + 780, 134 + 500}}.data()));

    // A 4K monitor right of the primary one, its taskbar at the bottom.
    const RECT uhd{1366, 0, 1366 + 3840, 2160};
    const RECT uhdWork{1366, 0, 1366 + 3840, 2160 - 96};
    for (const auto& [dpi, width, height] :
         {std::tuple{144u, 1170, 750}, std::tuple{192u, 1560, 1000}, std::tuple{240u, 1950, 1250}}) {
        placed = windowPlacement(dpi, uhd, uhdWork);
        EXPECT_EQ(placed.scale, static_cast<float>(dpi) / 96.0f);
        EXPECT_EQ(placed.rect.right - placed.rect.left, width) << dpi;
        EXPECT_EQ(placed.rect.bottom - placed.rect.top, height) << dpi;
        EXPECT_EQ(placed.rect.left, uhd.left + (3840 - width) / 2) << "centred on that monitor";
        EXPECT_EQ(placed.rect.top, (2160 - height) / 2);
    }

    // 200 % on a 1366 x 768 screen with a 40-pixel taskbar: scaled down to the work area's height.
    const RECT work{0, 0, 1366, 728};
    placed = windowPlacement(192, screen, work);
    EXPECT_FLOAT_EQ(placed.scale, 728.0f / 500.0f);
    EXPECT_EQ(placed.rect.bottom - placed.rect.top, 728);
    EXPECT_EQ(placed.rect.right - placed.rect.left, 1136);
    EXPECT_EQ(placed.rect.top, 0) << "moved up into the work area";
    EXPECT_EQ(placed.rect.left, (1366 - 1136) / 2);
    // Even at 96 DPI a screen smaller than the window gets all of it.
    placed = windowPlacement(96, RECT{0, 0, 700, 400}, RECT{0, 0, 700, 400});
    EXPECT_EQ(placed.rect.right - placed.rect.left, 624);
    EXPECT_EQ(placed.rect.bottom, 400);
    EXPECT_FLOAT_EQ(scaleForWidth(1170), 1.5f);
}

TEST(MainWindow, DefaultFolderIsUnderLocalApplicationData) {
    PWSTR localAppData = nullptr;
    ASSERT_EQ(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &localAppData), S_OK);
    const std::wstring expected = std::wstring(localAppData) + L"\\Ostrel";
    CoTaskMemFree(localAppData);
    EXPECT_EQ(defaultInstallDir(), expected);
}

TEST(MainWindow, APickedFolderOfTheUsersOwnGetsAFolderOfTheProduct) {
    const fs::path base = fs::temp_directory_path() / L"ostrel-pick";
    fs::remove_all(base);
    fs::create_directories(base / L"empty");
    writeBytes(base / L"Documents" / L"letter.txt", "mine");
    writeBytes(base / L"Installed" / L"Ostrel.exe", "MZ");
    writeBytes(base / L"Listed" / L"OstrelFiles.txt", "Ostrel.exe\r\n");

    EXPECT_EQ(installFolderForPick((base / L"empty").wstring()), (base / L"empty").wstring());
    EXPECT_EQ(installFolderForPick((base / L"Documents").wstring()),
              (base / L"Documents" / L"Ostrel").wstring());
    EXPECT_EQ(installFolderForPick((base / L"Installed").wstring()), (base / L"Installed").wstring());
    EXPECT_EQ(installFolderForPick((base / L"Listed").wstring()), (base / L"Listed").wstring());
    EXPECT_EQ(installFolderForPick(L"C:\\"), L"C:\\Ostrel") << "a drive's root";
    fs::remove_all(base);
}

TEST(MainWindow, IsTheBorderlessLayeredPopupOfTheSetup) {
    RenderResources resources;
    HWND window = createMainWindow(GetModuleHandleW(nullptr), resources);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(mainWindow(), window);

    wchar_t text[64] = {};
    GetClassNameW(window, text, 64);
    EXPECT_STREQ(text, L"OstrelLauncherClass");
    GetWindowTextW(window, text, 64);
    EXPECT_STREQ(text, L"Ostrel Setup");

    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_MINIMIZEBOX), WS_POPUP | WS_MINIMIZEBOX);
    EXPECT_EQ(style & (WS_CAPTION | WS_BORDER | WS_SYSMENU | WS_THICKFRAME), 0);
    const LONG_PTR exStyle = GetWindowLongPtrW(window, GWL_EXSTYLE);
    EXPECT_EQ(exStyle & (WS_EX_LAYERED | WS_EX_APPWINDOW), WS_EX_LAYERED | WS_EX_APPWINDOW);

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), L"OstrelLauncherClass", &windowClass));
    EXPECT_EQ(windowClass.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(windowClass.hbrBackground, nullptr);

    RECT bounds;
    GetWindowRect(window, &bounds);
    EXPECT_EQ(bounds.right - bounds.left, 780);
    EXPECT_EQ(bounds.bottom - bounds.top, 500);
    const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    const POINT origin = {(screen.right - 780) / 2, (screen.bottom - 500) / 2};
    EXPECT_EQ(bounds.left, origin.x);
    EXPECT_EQ(bounds.top, origin.y);
    EXPECT_EQ(setupState.scale, 1.0f);

    BYTE alpha = 0;
    DWORD flags = 0;
    ASSERT_TRUE(GetLayeredWindowAttributes(window, nullptr, &alpha, &flags));
    EXPECT_EQ(alpha, 255);
    EXPECT_EQ(flags, static_cast<DWORD>(LWA_ALPHA));

    DestroyWindow(window);
    EXPECT_EQ(mainWindow(), nullptr) << "workers no longer repaint a destroyed window";
}

// Only in the run whose Wine has a Korean display language (LC_ALL=ko_KR.UTF-8).
TEST(DisplayLanguage, AKoreanWindowsOpensTheWindowInKorean) {
    if (!std::getenv("OSTREL_EXPECT_DISPLAY_LANGUAGE"))
        GTEST_SKIP() << "run with a Korean display language only";
    ASSERT_EQ(GetUserDefaultUILanguage(), 0x0412);
    setupState.language = windowStartLanguage(-1);
    EXPECT_EQ(setupState.language.load(), 1);

    RenderResources resources;
    HWND window = createMainWindow(GetModuleHandleW(nullptr), resources);
    ASSERT_NE(window, nullptr);
    const PageModel model = windowPageModel(window);
    const PageElement* heading = findElement(model, ElementId::Heading);
    ASSERT_NE(heading, nullptr);
    EXPECT_EQ(heading->text, stringsFor(1).selectLanguageTitle);
    for (const PageElement& element : model.elements) {
        if (element.kind == ElementKind::ListItem) {
            EXPECT_EQ(element.states.selected, element.language == 1) << element.language;
        }
    }
    EXPECT_EQ(windowStartLanguage(4), 4) << "/lang still wins";
    DestroyWindow(window);
    setupState.language = 0;
}
