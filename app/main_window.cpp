#include "app/main_window.h"

#include "app/setup_state.h"
#include "app/window_proc.h"

#include <dwmapi.h>
#include <shlobj.h>

namespace {
constexpr DWORD cornerPreferenceAttribute = 33; // DWMWA_WINDOW_CORNER_PREFERENCE
constexpr DWORD roundCorners = 2;               // DWMWCP_ROUND
} // namespace

POINT centredWindowOrigin(int screenWidth, int screenHeight) {
    return {(screenWidth - windowWidth) / 2, (screenHeight - windowHeight) / 2};
}

std::wstring defaultInstallDir() {
    wchar_t folder[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
    return std::wstring(folder) + L"\\Ostrel";
}

HWND createMainWindow(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = wndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(appIconResource));
    windowClass.hIconSm = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(appIconResource), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = windowClassName;
    RegisterClassExW(&windowClass);

    const POINT origin = centredWindowOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    HWND window = CreateWindowExW(WS_EX_LAYERED | WS_EX_APPWINDOW, windowClassName, windowTitle,
                                  WS_POPUP | WS_MINIMIZEBOX, origin.x, origin.y, windowWidth, windowHeight,
                                  nullptr, nullptr, instance, nullptr);
    setupState.mainWindow = window;
    if (!window)
        return nullptr;
    SetLayeredWindowAttributes(window, 0, 255, LWA_ALPHA);
    DwmSetWindowAttribute(window, cornerPreferenceAttribute, &roundCorners, sizeof(roundCorners));
    return window;
}

void loadAppIconBitmap(HINSTANCE instance) {
    HICON icon = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(appIconResource), IMAGE_ICON, 256, 256, LR_DEFAULTCOLOR));
    if (!icon)
        return;
    std::unique_ptr<Gdiplus::Bitmap> bitmap(Gdiplus::Bitmap::FromHICON(icon));
    if (bitmap && bitmap->GetLastStatus() == Gdiplus::Ok)
        setupState.appIconBitmap = std::move(bitmap);
    DestroyIcon(icon);
}

int runMessageLoop() {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
