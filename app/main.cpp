// Entry point of OstrelSetup.exe.
#include "app/install_record.h"
#include "app/main_window.h"
#include "app/setup_state.h"
#include "render/logo.h"

#include <objbase.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Before anything can load a DLL: never from the folder the setup was downloaded to.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

    Gdiplus::GdiplusStartupInput gdiplusInput;
    Gdiplus::GdiplusStartup(&setupState.gdiplusToken, &gdiplusInput, nullptr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    setupState.logoPath.reset(buildLogoPath());
    loadAppIconBitmap(instance);
    setInstallDir(defaultInstallDir());
    detectExistingInstall();

    if (HWND window = createMainWindow(instance)) {
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
    }
    const int exitCode = runMessageLoop();

    setupState.logoPath.reset();
    setupState.appIconBitmap.reset();
    CoUninitialize();
    Gdiplus::GdiplusShutdown(setupState.gdiplusToken);
    return exitCode;
}
