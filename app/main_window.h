// The single borderless main window and the resources that live for the whole run.
#pragma once

#include "render/frame.h"

#include <windows.h>

#include <string>

inline constexpr const wchar_t* windowClassName = L"OstrelLauncherClass";
inline constexpr const wchar_t* windowTitle = L"Ostrel Setup";
// The window's size in logical units: pixels at 96 DPI.
inline constexpr int windowWidth = 780;
inline constexpr int windowHeight = 500;

struct WindowPlacement {
    RECT rect{}; // screen pixels
    float scale = 1.0f;
};

// The window on a monitor of the given DPI: its logical size times DPI / 96, scaled down until it
// fits the work area, centred on the monitor and then moved into the work area.
WindowPlacement windowPlacement(UINT dpi, const RECT& monitor, const RECT& workArea);

// The scale of a window the given number of pixels wide (as WM_DPICHANGED suggests one).
float scaleForWidth(int width);

// The local application data folder + "\Ostrel" ("\Ostrel" alone when the query fails).
std::wstring defaultInstallDir();

// The install folder for a folder the user picked with Change: the folder itself when it is empty
// or holds an installation of the product, else the folder + "\Ostrel", so that a folder of the
// user's own (Documents, the Desktop) never becomes the install folder.
std::wstring installFolderForPick(const std::wstring& picked);

// Registers the class, creates the layered window that paints with resources (which must outlive
// it), sized and centred for its monitor's DPI (setupState.scale follows), and asks for rounded
// corners. Returns null when creation fails.
HWND createMainWindow(HINSTANCE instance, RenderResources& resources);

// The window createMainWindow made, until it is destroyed; null otherwise. Any thread.
HWND mainWindow();

// WM_DPICHANGED: the window takes the rectangle Windows suggests for the new monitor, lays out
// again at the scale of that size and takes icons drawn for the new DPI.
void applyDpiChange(HWND window, UINT dpi, const RECT& suggested);

// WM_DESTROY of that window: workers stop asking it to repaint.
void forgetMainWindow(HWND window);

// Shows the window and runs the message loop until WM_QUIT; returns its exit code. Without a
// window (creation failed) it says so in a message box and returns 1 at once, rather than wait
// for ever for a message that cannot come.
int runMainWindow(HWND window);
