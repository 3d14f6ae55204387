// The least a window program can be under Wine, the floor tests/bench/bench-setup.py measures the setup
// against: one 780 x 500 popup (or of the size given: bare_window [width height]) in the middle of
// the screen, filled with the setup's background colour on every paint, and a message loop.
// Nothing else is loaded or drawn.
#include <windows.h>

#include <cwchar>

namespace {
constexpr COLORREF background = RGB(0x12, 0x14, 0x1A);

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        HBRUSH brush = CreateSolidBrush(background);
        FillRect(dc, &paint.rcPaint, brush);
        DeleteObject(brush);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = L"BareWindow";
    if (!RegisterClassW(&windowClass))
        return 1;
    const int windowWidth = __argc == 3 ? static_cast<int>(std::wcstol(__wargv[1], nullptr, 10)) : 780;
    const int windowHeight = __argc == 3 ? static_cast<int>(std::wcstol(__wargv[2], nullptr, 10)) : 500;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - windowWidth) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - windowHeight) / 2;
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Bare Window", WS_POPUP, x, y, windowWidth,
                                  windowHeight, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, show);
    UpdateWindow(window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
