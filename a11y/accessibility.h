// What a screen reader is told about the window, as the shell calls it: the client area's MSAA object
// and its WinEvents (a11y/msaa.h), the UI Automation provider and its events (a11y/automation.h), both
// reading the window's page model, and the message by which they ask the UI thread to act
// (a11y/elements.h).
#pragma once

#include "a11y/automation.h"
#include "a11y/elements.h"

#include <windows.h>

// WM_GETOBJECT: the client object for OBJID_CLIENT through LresultFromObject, the UI Automation
// provider for UiaRootObjectId, else the default. UI thread.
LRESULT answerGetObject(HWND window, WPARAM wParam, LPARAM lParam);

// Raises the events of what changed since the last call, for the window's client object and, once
// a UI Automation client has asked for it, for its provider. UI thread.
void announceChanges(HWND window);
