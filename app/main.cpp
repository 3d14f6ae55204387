// Entry point of OstrelSetup.exe.
#include "app/main_window.h"
#include "render/frame.h"
#include "state/install_record.h"
#include "state/setup_state.h"
#include "win/handles.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Before anything can load a DLL: never from the folder the setup was downloaded to.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

    // Declared in the order started, so the paint resources go before COM and GDI+ end.
    const GdiplusSession gdiplus;
    const ComApartment apartment;
    RenderResources resources = loadRenderResources(instance);
    setInstallDir(defaultInstallDir());
    detectExistingInstall();

    if (HWND window = createMainWindow(instance, resources)) {
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
    }
    return runMessageLoop();
}
