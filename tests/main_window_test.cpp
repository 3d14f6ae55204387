#include "app/main_window.h"

#include <gtest/gtest.h>

TEST(MainWindow, CentredOnThePrimaryScreen) {
    const POINT origin = centredWindowOrigin(1366, 768);
    EXPECT_EQ(origin.x, 293);
    EXPECT_EQ(origin.y, 134);
    // Integer division truncates toward zero, also on a screen smaller than the window.
    EXPECT_EQ(centredWindowOrigin(700, 400).x, -40);
    EXPECT_EQ(centredWindowOrigin(781, 501).y, 0);
}

TEST(MainWindow, DefaultFolderIsUnderLocalApplicationData) {
    const std::wstring folder = defaultInstallDir();
    EXPECT_GT(folder.size(), std::wstring(L"\\Ostrel").size());
    EXPECT_EQ(folder.substr(folder.size() - 7), L"\\Ostrel");
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
    const POINT origin = centredWindowOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(bounds.left, origin.x);
    EXPECT_EQ(bounds.top, origin.y);

    BYTE alpha = 0;
    DWORD flags = 0;
    ASSERT_TRUE(GetLayeredWindowAttributes(window, nullptr, &alpha, &flags));
    EXPECT_EQ(alpha, 255);
    EXPECT_EQ(flags, static_cast<DWORD>(LWA_ALPHA));

    DestroyWindow(window);
    EXPECT_EQ(mainWindow(), nullptr) << "workers no longer repaint a destroyed window";
}
