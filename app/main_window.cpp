#include "app/main_window.h"

#include "app/window_proc.h"
#include "state/setup_state.h"
#include "win/folders.h"
#include "win/paths.h"
#include "win/product_names.h"

#include <dwmapi.h>
#include <shlobj.h>

#include <atomic>

namespace {
constexpr DWORD cornerPreferenceAttribute = 33; // DWMWA_WINDOW_CORNER_PREFERENCE
constexpr DWORD roundCorners = 2;               // DWMWCP_ROUND

constexpr const wchar_t* windowFailureText = L"Could not open the setup window.\nPlease try again.";

// Read by the workers through requestRepaint, so atomic.
std::atomic<HWND> createdWindow{nullptr};

void invalidateMainWindow() {
    if (HWND window = createdWindow.load())
        InvalidateRect(window, nullptr, FALSE);
}
} // namespace

POINT centredWindowOrigin(int screenWidth, int screenHeight) {
    return {(screenWidth - windowWidth) / 2, (screenHeight - windowHeight) / 2};
}

std::wstring defaultInstallDir() {
    return knownFolderPath(CSIDL_LOCAL_APPDATA) + L"\\" + productName;
}

std::wstring installFolderForPick(const std::wstring& picked) {
    std::vector<FolderEntry> entries;
    if (listFolder(picked, entries) != 0 || entries.empty() || pathExists(joinPath(picked, productExeName)) ||
        pathExists(joinPath(picked, fileListName)))
        return picked;
    return joinPath(picked, productName);
}

HWND createMainWindow(HINSTANCE instance, RenderResources& resources) {
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
                                  nullptr, nullptr, instance, &resources);
    if (!window)
        return nullptr;
    createdWindow.store(window);
    setRepaintCallback(invalidateMainWindow);
    SetLayeredWindowAttributes(window, 0, 255, LWA_ALPHA);
    DwmSetWindowAttribute(window, cornerPreferenceAttribute, &roundCorners, sizeof(roundCorners));
    return window;
}

HWND mainWindow() {
    return createdWindow.load();
}

void forgetMainWindow(HWND window) {
    HWND expected = window;
    if (createdWindow.compare_exchange_strong(expected, nullptr))
        setRepaintCallback(nullptr);
}

int runMainWindow(HWND window) {
    if (!window) {
        MessageBoxW(nullptr, windowFailureText, windowTitle, MB_OK | MB_ICONERROR);
        return 1;
    }
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
