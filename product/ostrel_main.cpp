// Ostrel.exe, the sample product: a small window that shows the version it was published as
// and the three settings the setup writes, so a demo or a test can see what was installed.
#include "win/handles.h"
#include "win/paths.h"
#include "win/product_names.h"
#include "win/registry.h"
#include "win/text.h"

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {
constexpr const wchar_t* settingNames[] = {L"starsEnabled", L"pageTransitionAnimation", L"language"};

// version.txt is written into the package by the publish tool; its first line, as UTF-8.
std::wstring readVersion(const std::wstring& folder) {
    UniqueFile file(CreateFileW((folder + L"\\version.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return L"unknown";
    char bytes[256];
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes, sizeof bytes, &read, nullptr) || read == 0)
        return L"unknown";
    const std::string_view text(bytes, read);
    const std::wstring version = fromUtf8(text.substr(0, text.find_first_of("\r\n")));
    return version.empty() ? L"unknown" : version;
}

// exit-code.txt beside the program, put into a release to stand for a broken build: its number is
// the exit code the product ends with at once, before any window. 0 when there is none.
int brokenBuildExitCode(const std::wstring& folder) {
    UniqueFile file(CreateFileW((folder + L"\\exit-code.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    char digits[16] = {};
    DWORD read = 0;
    if (!file || !ReadFile(file.get(), digits, sizeof digits - 1, &read, nullptr))
        return 0;
    return std::atoi(digits);
}

// One line per start in %TEMP%\OstrelProduct_runs.log, so a test can see that the setup launched us.
void recordStart(const std::wstring& exePath) {
    const std::wstring temp = temporaryFolder();
    if (temp.empty())
        return;
    UniqueFile log(CreateFileW((temp + L"OstrelProduct_runs.log").c_str(), FILE_APPEND_DATA,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!log)
        return;
    const std::string bytes = toUtf8(L"started " + exePath + L"\r\n");
    DWORD written = 0;
    WriteFile(log.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::vector<std::wstring> shownLines;

void paint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    int y = 16;
    for (const std::wstring& line : shownLines) {
        TextOutW(dc, 16, y, line.c_str(), static_cast<int>(line.size()));
        y += 22;
    }
    EndPaint(window, &paint);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        paint(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    const std::wstring folder = moduleFolder();
    recordStart(modulePath());
    if (const int exitCode = brokenBuildExitCode(folder))
        return exitCode;

    shownLines.push_back(std::wstring(productName) + L" " + readVersion(folder));
    for (const wchar_t* name : settingNames) {
        const std::wstring value = readRegistryString(HKEY_CURRENT_USER, settingsKeyPath, name);
        shownLines.push_back(std::wstring(name) + L": " + (value.empty() ? L"(not set)" : value));
    }

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(101));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = L"OstrelProductWindow";
    if (!RegisterClassExW(&windowClass))
        return 1;
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Ostrel", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 420, 200, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, showCommand);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
