// The single borderless main window and the resources that live for the whole run.
#pragma once

#include <windows.h>

#include <string>

inline constexpr const wchar_t* windowClassName = L"OstrelLauncherClass";
inline constexpr const wchar_t* windowTitle = L"Ostrel Setup";
inline constexpr int windowWidth = 780;
inline constexpr int windowHeight = 500;
inline constexpr int appIconResource = 101;

// Top-left corner that centres the window on a screen of the given size.
POINT centredWindowOrigin(int screenWidth, int screenHeight);

// The local application data folder + "\Ostrel" ("\Ostrel" alone when the query fails).
std::wstring defaultInstallDir();

// Registers the class, creates the centred layered window and asks for rounded corners.
// Returns null when creation fails.
HWND createMainWindow(HINSTANCE instance);

// Loads icon 101 at 256 x 256 into setupState.appIconBitmap (stays null when it cannot).
void loadAppIconBitmap(HINSTANCE instance);

// Runs until WM_QUIT; returns its exit code.
int runMessageLoop();
