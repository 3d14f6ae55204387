#include "app/main_window.h"

#include "app/window_proc.h"
#include "render/layout.h"
#include "state/setup_state.h"
#include "win/folders.h"
#include "win/handles.h"
#include "win/paths.h"
#include "win/product_names.h"

#include <dwmapi.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <utility>

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

// The window's title-bar and taskbar icons at its monitor's DPI, kept while the window shows them.
struct WindowIcons {
    UniqueIcon big;
    UniqueIcon little;
};
WindowIcons windowIcons;

UniqueIcon appIconAt(HINSTANCE instance, int metric, UINT dpi) {
    const int size = GetSystemMetricsForDpi(metric, dpi);
    return UniqueIcon(static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(appIconResource), IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
}

// The icons drawn for the DPI from the icon's own images; the ones they replace are freed only
// once the window no longer uses them.
void setWindowIcons(HWND window, UINT dpi) {
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
    WindowIcons icons{appIconAt(instance, SM_CXICON, dpi), appIconAt(instance, SM_CXSMICON, dpi)};
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icons.big.get()));
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icons.little.get()));
    std::swap(windowIcons, icons);
}
} // namespace

WindowPlacement windowPlacement(UINT dpi, const RECT& monitor, const RECT& workArea) {
    const float fits = std::min(static_cast<float>(widthOf(workArea)) / windowWidth,
                                static_cast<float>(heightOf(workArea)) / windowHeight);
    WindowPlacement placement;
    placement.scale = std::min(static_cast<float>(dpi) / 96.0f, fits);
    const int width = scaledPixels(windowWidth, placement.scale);
    const int height = scaledPixels(windowHeight, placement.scale);
    // Integer division truncates toward zero, as the window has always been placed.
    const LONG left = std::clamp<LONG>(monitor.left + (widthOf(monitor) - width) / 2, workArea.left,
                                       std::max(workArea.left, workArea.right - width));
    const LONG top = std::clamp<LONG>(monitor.top + (heightOf(monitor) - height) / 2, workArea.top,
                                      std::max(workArea.top, workArea.bottom - height));
    placement.rect = {left, top, left + width, top + height};
    return placement;
}

float scaleForWidth(int width) {
    return static_cast<float>(width) / windowWidth;
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

    HWND window = CreateWindowExW(WS_EX_LAYERED | WS_EX_APPWINDOW, windowClassName, windowTitle,
                                  WS_POPUP | WS_MINIMIZEBOX, CW_USEDEFAULT, CW_USEDEFAULT, windowWidth,
                                  windowHeight, nullptr, nullptr, instance, &resources);
    if (!window)
        return nullptr;
    // The DPI is the monitor's the window is on, known once it exists.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const WindowPlacement placement =
        windowPlacement(GetDpiForWindow(window), monitor.rcMonitor, monitor.rcWork);
    setupState.scale = placement.scale;
    setWindowIcons(window, GetDpiForWindow(window));
    const RECT& rect = placement.rect;
    SetWindowPos(window, nullptr, rect.left, rect.top, widthOf(rect), heightOf(rect),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    createdWindow.store(window);
    setRepaintCallback(invalidateMainWindow);
    SetLayeredWindowAttributes(window, 0, 255, LWA_ALPHA);
    DwmSetWindowAttribute(window, cornerPreferenceAttribute, &roundCorners, sizeof(roundCorners));
    return window;
}

HWND mainWindow() {
    return createdWindow.load();
}

void applyDpiChange(HWND window, UINT dpi, const RECT& suggested) {
    setupState.scale = scaleForWidth(widthOf(suggested));
    setWindowIcons(window, dpi);
    SetWindowPos(window, nullptr, suggested.left, suggested.top, widthOf(suggested), heightOf(suggested),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(window, nullptr, FALSE);
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
