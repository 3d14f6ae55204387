// The window procedure: all input of the main window.
#pragma once

#include <windows.h>

LRESULT CALLBACK wndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
