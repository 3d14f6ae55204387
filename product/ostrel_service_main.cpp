// OstrelService.exe, the sample product's background part: no window, it only waits to be
// stopped, so the setup's stopping of running copies has something to find.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    Sleep(INFINITE);
    return 0;
}
