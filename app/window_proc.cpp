#include "app/window_proc.h"

#include "a11y/accessibility.h"
#include "app/main_window.h"
#include "app/product_launch.h"
#include "app/window_input.h"
#include "app/workers.h"
#include "i18n/language_table.h"
#include "render/frame.h"
#include "render/page_model.h"
#include "state/setup_state.h"
#include "state/shutdown.h"
#include "win/com.h"
#include "win/handles.h"

#include <dwmapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <windowsx.h>

#include <atomic>
#include <memory>

namespace {
constexpr UINT_PTR repaintTimerId = 1;
constexpr UINT repaintPeriodMs = 16;
constexpr DWORD darkModeAttribute = 20; // DWMWA_USE_IMMERSIVE_DARK_MODE
// How long the end of the session waits for an open installation to be rolled back.
constexpr ULONGLONG sessionEndRollbackMs = 30000;
constexpr DWORD sessionEndPollMs = 20;

// Set while an install worker exists; the thread clears it as its last step.
std::atomic<bool> installWorkerRunning{false};

void invalidate(HWND window) {
    InvalidateRect(window, nullptr, FALSE);
}

POINT clientPoint(LPARAM lParam) {
    return {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
}

void onClose(HWND window) {
    // A passive run asks nothing: closing it cancels, and the installation is rolled back.
    if (!setupState.passive && !closesWithoutAsking(setupState.page, setupState.status.load())) {
        const LocalizedStrings& text = stringsFor(setupState.language);
        if (MessageBoxW(window, text.exitConfirm, text.exitTitle, MB_YESNO | MB_ICONQUESTION) != IDYES)
            return;
    }
    DestroyWindow(window);
}

void followDrag(HWND window) {
    POINT cursor;
    GetCursorPos(&cursor);
    const POINT origin =
        draggedWindowOrigin(setupState.dragStartWindowRect, setupState.dragStartCursor, cursor);
    SetWindowPos(window, nullptr, origin.x, origin.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void onMouseMove(HWND window, POINT point) {
    TRACKMOUSEEVENT tracking{sizeof(tracking), TME_LEAVE, window, 0};
    TrackMouseEvent(&tracking);
    if (setupState.dragging) {
        followDrag(window);
        return;
    }
    const HoverUpdate update = updateHover(setupState, windowPageModel(window), point);
    if (update.repaint)
        invalidate(window);
    SetCursor(LoadCursorW(nullptr, update.overWidget ? IDC_HAND : IDC_ARROW));
}

void pickInstallFolder(HWND window) {
    {
        ComApartment apartment;
        ComPtr<IFileOpenDialog> dialog;
        if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IFileOpenDialog, dialog.putVoid()))) {
            FILEOPENDIALOGOPTIONS options = 0;
            dialog->GetOptions(&options);
            dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
            dialog->SetTitle(stringsFor(setupState.language).selectFolderPrompt);
            ComPtr<IShellItem> start;
            if (SUCCEEDED(SHCreateItemFromParsingName(currentInstallDir().c_str(), nullptr, IID_IShellItem,
                                                      start.putVoid())))
                dialog->SetFolder(start.get());
            ComPtr<IShellItem> chosen;
            UniqueCoTaskMem<wchar_t> path;
            if (SUCCEEDED(dialog->Show(window)) && SUCCEEDED(dialog->GetResult(chosen.put())) &&
                SUCCEEDED(chosen->GetDisplayName(SIGDN_FILESYSPATH, path.put())) && path)
                setInstallDir(installFolderForPick(path.get()));
        }
    }
    invalidate(window);
}

// Checking is shown before the worker exists, so its first status can never be overwritten.
void beginUpdateCheck() {
    setStatus(SetupStatus::Checking, stringsFor(setupState.language).statusChecking);
    startUpdateCheck();
}

void startDrag(HWND window) {
    setupState.dragging = true;
    GetCursorPos(&setupState.dragStartCursor);
    GetWindowRect(window, &setupState.dragStartWindowRect);
    SetCapture(window);
}

// What a click does beyond the state: a mouse click's, or a key's that acts as one.
void performClick(HWND window, const Click& click) {
    if (setupState.passive && !passiveAllows(click.action))
        return;
    if (applyClick(setupState, click))
        invalidate(window);
    switch (click.action) {
    case ClickAction::Close:
        PostMessageW(window, WM_CLOSE, 0, 0);
        break;
    case ClickAction::Minimize:
        ShowWindow(window, SW_MINIMIZE);
        break;
    case ClickAction::Browse:
        pickInstallFolder(window);
        break;
    case ClickAction::ToProgress:
    case ClickAction::Retry:
        beginUpdateCheck();
        break;
    case ClickAction::StartInstall:
        startInstallWorker();
        break;
    case ClickAction::Launch:
        launchProduct();
        break;
    case ClickAction::Restore:
        restorePreviousProduct();
        break;
    case ClickAction::CancelDownload:
        // The next timer tick shows it.
        setupState.cancelRequested.store(true);
        break;
    default:
        break;
    }
}

void onLeftButtonDown(HWND window, POINT point) {
    const Click click = decideClick(windowPageModel(window), point);
    if (click.action == ClickAction::StartDrag)
        startDrag(window);
    else
        performClick(window, click);
}

// A screen reader's invoke, toggle, select or focus, done to the element as a click or a key would.
void onAutomationAction(HWND window, WPARAM wParam, LPARAM lParam) {
    const std::optional<AutomationTarget> target = automationTarget(window, wParam, lParam);
    if (!target)
        return;
    const PageElement& element = target->element;
    const bool languageItem = element.kind == ElementKind::ListItem;
    if ((target->action == AutomationAction::Click || languageItem) && element.states.enabled &&
        element.press.action != ClickAction::StartDrag)
        performClick(window, element.press);
    if (target->action == AutomationAction::Focus) {
        setupState.focus = languageItem ? FocusItem::Languages : element.focus;
        setupState.focusCues = true;
        invalidate(window);
    }
}

// The session ends whatever we answered: a running installation is rolled back before the process
// is ended.
void endSession() {
    beginShutdown();
    const ULONGLONG deadline = GetTickCount64() + sessionEndRollbackMs;
    while (installTransactionOpen() && GetTickCount64() < deadline)
        Sleep(sessionEndPollMs);
}

// Returns whether the key was the window's.
bool onKeyDown(HWND window, UINT key) {
    const bool shift = GetKeyState(VK_SHIFT) < 0;
    const KeyOutcome outcome = decideKey(setupState, windowPageModel(window), key, shift);
    if (outcome.repaint)
        invalidate(window);
    if (outcome.click.action != ClickAction::StartDrag)
        performClick(window, outcome.click);
    return outcome.handled;
}
} // namespace

BOOL(WINAPI* createShutdownBlockReason)(HWND window, LPCWSTR reason) = ShutdownBlockReasonCreate;

void startUpdateCheck(WorkerBody body) {
    if (!startWorker(body))
        failWith(threadFailureText);
}

bool startInstallWorker(WorkerBody body) {
    if (installWorkerRunning.exchange(true))
        return false;
    if (startWorker([body] {
            // Cleared however the body ends, or no INSTALL would ever start another.
            ScopeExit finished([] { installWorkerRunning.store(false); });
            body();
        }))
        return true;
    installWorkerRunning.store(false);
    failWith(threadFailureText);
    return false;
}

LRESULT CALLBACK wndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NCCREATE: {
        // The entry point's paint resources, handed over by CreateWindowExW.
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return DefWindowProcW(window, message, wParam, lParam);
    }
    case WM_CREATE: {
        const BOOL dark = TRUE;
        DwmSetWindowAttribute(window, darkModeAttribute, &dark, sizeof(dark));
        SetTimer(window, repaintTimerId, repaintPeriodMs, nullptr);
        return 0;
    }
    case WM_DESTROY:
        KillTimer(window, repaintTimerId);
        disconnectAutomation(window);
        forgetMainWindow(window);
        PostQuitMessage(0);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        if (auto* resources = reinterpret_cast<RenderResources*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
            paintWindow(window, dc, *resources);
        EndPaint(window, &paint);
        // Every change of the page, focus, status or progress is followed by a paint.
        announceChanges(window);
        return 0;
    }
    case WM_GETOBJECT:
        return answerGetObject(window, wParam, lParam);
    case WM_ERASEBKGND:
        return 1;
    case automationQueryMessage:
        answerAutomationQuery(window, lParam);
        return 0;
    case automationActionMessage:
        onAutomationAction(window, wParam, lParam);
        return 0;
    case showRestoreOfferMessage:
        ShowWindow(window, SW_SHOW);
        SetForegroundWindow(window);
        invalidate(window);
        return 0;
    case WM_CLOSE:
        onClose(window);
        return 0;
    case WM_QUERYENDSESSION:
        // Half-replaced files must not be left behind: ask Windows to wait, and say why.
        if (!installTransactionOpen())
            return TRUE;
        createShutdownBlockReason(window, stringsFor(setupState.language).shutdownBlockReason);
        return FALSE;
    case WM_ENDSESSION:
        if (wParam)
            endSession();
        else
            ShutdownBlockReasonDestroy(window);
        return 0;
    case WM_KEYDOWN:
        if (onKeyDown(window, static_cast<UINT>(wParam)))
            return 0;
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_SYSKEYDOWN:
        // Alt+F4 asks as the close button does: the borderless window has no system menu to do it.
        if (wParam == VK_F4) {
            PostMessageW(window, WM_CLOSE, 0, 0);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_TIMER:
        if (repaintsOnTimer(setupState.page, setupState.status.load())) {
            advanceDisplayedProgress(setupState);
            invalidate(window);
        }
        return 0;
    case WM_MOUSEMOVE:
        onMouseMove(window, clientPoint(lParam));
        return 0;
    case WM_LBUTTONDOWN:
        onLeftButtonDown(window, clientPoint(lParam));
        return 0;
    case WM_LBUTTONUP:
        if (setupState.dragging) {
            // The last move may come only with the button-up: the window ends where the cursor is.
            followDrag(window);
            setupState.dragging = false;
            ReleaseCapture();
        }
        return 0;
    case WM_CAPTURECHANGED:
        // Capture taken away mid-drag (another window, a dialog): the button-up will not come.
        setupState.dragging = false;
        return 0;
    case WM_MOUSEWHEEL:
        if (setupState.page == SetupPage::TermsPage) {
            setupState.termsScroll = scrolledTerms(
                windowPageModel(window).terms, wheelPixels(GET_WHEEL_DELTA_WPARAM(wParam), setupState.scale));
            invalidate(window);
        }
        return 0;
    case WM_MOUSELEAVE:
        clearHover(setupState);
        invalidate(window);
        return 0;
    case WM_DPICHANGED:
        applyDpiChange(window, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
        // High contrast switched on or off, or its colours changed: the next frame follows.
        if (auto* resources = reinterpret_cast<RenderResources*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
            resources->palette = systemPalette();
            invalidate(window);
        }
        return DefWindowProcW(window, message, wParam, lParam);
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
