// The one process-wide record of the setup's state, shared by the UI thread and the workers.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

enum class SetupPage : int32_t { LanguagePage = 0, OptionsPage = 1, TermsPage = 2, ProgressPage = 3 };

enum class SetupStatus : int32_t {
    Checking = 0,
    ReadyToInstall = 1,
    UpdateAvailable = 2,
    UpToDate = 3,
    Downloading = 4,
    Extracting = 5,
    Installing = 6,
    Complete = 7,
    Failed = 8,
    RestoreOffered = 9, // the updated product ended with an error right after LAUNCH
};

inline constexpr SetupPage allPages[] = {SetupPage::LanguagePage, SetupPage::OptionsPage,
                                         SetupPage::TermsPage, SetupPage::ProgressPage};
inline constexpr SetupStatus allStatuses[] = {SetupStatus::Checking,        SetupStatus::ReadyToInstall,
                                              SetupStatus::UpdateAvailable, SetupStatus::UpToDate,
                                              SetupStatus::Downloading,     SetupStatus::Extracting,
                                              SetupStatus::Installing,      SetupStatus::Complete,
                                              SetupStatus::Failed,          SetupStatus::RestoreOffered};

// What the keyboard focus rests on: one widget, the language list, or the terms text.
enum class FocusItem : int32_t {
    None,
    FirstOnPage, // a page just opened: its first item that can take the focus, once it is shown
    Languages,
    TermsText,
    Primary,
    Back,
    Browse,
    DesktopShortcut,
    StartMenuShortcut,
    TermsAgree,
    Minimize,
    Close,
};
inline constexpr size_t focusItemCount = static_cast<size_t>(FocusItem::Close) + 1;

// What screen readers were last told of the window (UI thread only).
struct AnnouncedState {
    SetupPage page = SetupPage::LanguagePage;
    uint32_t shape = 0; // of the page's element list; 0 before the first announcement
    long focusedChild = 0;
    SetupStatus status = SetupStatus::Checking;
    std::wstring statusText;
    std::wstring progress;
    // The checked and unavailable states of the page's widgets, by widget.
    std::vector<std::pair<FocusItem, long>> widgetStates;
};

// The delta the update check found from the installed version to the offered one: downloadUrl ""
// when there is none, and then notUsed says why ("" when none was asked for, as for a fresh
// installation).
struct DeltaOffer {
    std::wstring fromVersion;
    std::wstring downloadUrl;
    std::wstring sha256;
    std::wstring manifestSha256;
    uint64_t sizeBytes = 0;
    std::wstring notUsed;
};

struct SetupState {
    bool dragging = false;
    POINT dragStartCursor{};
    RECT dragStartWindowRect{};
    SetupPage page = SetupPage::LanguagePage;
    // Written by the UI thread only, read by the workers when they pick a text.
    std::atomic<int32_t> language{0};
    int32_t hoverLanguage = -1;
    std::wstring installDir; // guarded by sharedMutex once workers exist
    // status and the strings below are written by the workers under sharedMutex.
    std::atomic<SetupStatus> status{SetupStatus::Checking};
    std::wstring statusText;
    std::wstring errorText;
    std::wstring latestVersion;
    std::wstring downloadUrl;
    std::wstring releaseNotes;
    std::wstring expectedSha256;
    bool updateRequired = false;
    double downloadSizeMb = 0.0;
    uint64_t packageByteLimit = UINT64_MAX; // the most bytes the package download may bring
    DeltaOffer delta;
    std::wstring installedVersion;
    bool shortcutMissing = false; // a chosen shortcut could not be written; the installation stands
    std::atomic<double> progress{0.0};
    std::atomic<uint64_t> downloadedBytes{0};
    std::atomic<uint64_t> totalBytes{0};
    std::atomic<double> downloadSpeed{0.0};
    std::atomic<bool> cancelRequested{false};
    // The widgets under the pointer, by focus item (UI thread only); see hoverFlag.
    std::array<bool, focusItemCount> hovered{};
    bool createDesktopShortcut = true;
    bool createStartMenuShortcut = true;
    bool termsAccepted = false;
    // Set before the window exists: it shows the progress page alone and asks nothing.
    bool passive = false;
    int32_t termsScroll = 0;        // may pass the end of the text: the model clamps it
    float displayedProgress = 0.0f; // eased toward progress by the repaint timer
    // Keyboard focus (UI thread only); the ring shows only once a key has been used.
    FocusItem focus = FocusItem::None;
    bool focusCues = false;
    // Pixels per logical unit of the window: its monitor's DPI / 96, less where it must fit (UI
    // thread only).
    float scale = 1.0f;
    AnnouncedState announced;
    // Set once a UI Automation client has asked for the window's provider (UI thread only).
    bool automationClient = false;
    // How this run reaches the service, under sharedMutex: the route /proxy chose (set before any
    // worker starts; chosenProxy "" is direct), the route the first exchange found (routeSource
    // is a RouteSource of net/proxy.h, -1 until then), and a proxy that asked for a sign-in the
    // setup could not give.
    bool routeChosen = false;
    std::wstring chosenProxy;
    int32_t routeSource = -1;
    std::wstring routeProxy;
    std::wstring proxyRefusedSignIn;

    // Guards status changes and every string a worker writes or reads while the UI runs.
    std::mutex sharedMutex;
};

extern SetupState setupState;

inline bool& hoverFlag(SetupState& state, FocusItem item) {
    return state.hovered[static_cast<size_t>(item)];
}
inline bool hoverFlag(const SetupState& state, FocusItem item) {
    return state.hovered[static_cast<size_t>(item)];
}

// A consistent copy of the strings the workers write, taken once per paint.
struct SharedSnapshot {
    SetupStatus status = SetupStatus::Checking;
    std::wstring statusText;
    std::wstring errorText;
    std::wstring latestVersion;
    std::wstring installedVersion;
    std::wstring installDir;
    bool shortcutMissing = false;
};
SharedSnapshot takeSharedSnapshot();

// The service-answer strings a worker needs, copied under the lock.
struct InstallRequest {
    std::wstring installDir;
    std::wstring downloadUrl;
    std::wstring expectedSha256;
    std::wstring latestVersion;
    uint64_t packageByteLimit = UINT64_MAX;
    std::wstring installedVersion;
    DeltaOffer delta;
};
InstallRequest takeInstallRequest();

// What requestRepaint calls: the shell's invalidation of its window. Called from any thread.
using RepaintCallback = void (*)();

// Set by the shell once its window exists (null again when it goes); UI thread.
void setRepaintCallback(RepaintCallback callback);

// Asks the shell to repaint, from any thread; does nothing while no callback is set.
void requestRepaint();

// Stores the code; a non-empty text replaces statusText. Then requests a repaint.
void setStatus(SetupStatus code, const std::wstring& text);

// The failure pattern: store the message in errorText, then Failed with the status line kept.
void failWith(const std::wstring& message);

// Copies under the lock (the folder picker writes it, the workers read it).
std::wstring currentInstallDir();
void setInstallDir(const std::wstring& folder);
void setInstalledVersion(const std::wstring& version);
void setShortcutMissing(bool missing);

// Last speed sample of one download, owned by the install worker.
struct DownloadSampler {
    uint32_t lastTick = 0;
    uint64_t lastBytes = 0;
};
using TickSource = DWORD(WINAPI*)();

// The download's progress callback: counters, fraction, a speed at most every 500 ms, repaint.
void publishDownloadProgress(DownloadSampler& sampler, uint64_t received, uint64_t total,
                             TickSource tick = GetTickCount);
