#include "state/setup_state.h"

SetupState setupState;

namespace {
std::atomic<RepaintCallback> repaintCallback{nullptr};
} // namespace

SharedSnapshot takeSharedSnapshot() {
    std::lock_guard lock(setupState.sharedMutex);
    return {setupState.status.load(),  setupState.statusText,       setupState.errorText,
            setupState.latestVersion,  setupState.installedVersion, setupState.installDir,
            setupState.shortcutMissing};
}

InstallRequest takeInstallRequest() {
    std::lock_guard lock(setupState.sharedMutex);
    return {setupState.installDir,    setupState.downloadUrl,      setupState.expectedSha256,
            setupState.latestVersion, setupState.packageByteLimit, setupState.installedVersion,
            setupState.delta};
}

void setRepaintCallback(RepaintCallback callback) {
    repaintCallback.store(callback);
}

void requestRepaint() {
    if (const RepaintCallback callback = repaintCallback.load())
        callback();
}

void setStatus(SetupStatus code, const std::wstring& text) {
    {
        std::lock_guard lock(setupState.sharedMutex);
        setupState.status = code;
        if (!text.empty() && &text != &setupState.statusText)
            setupState.statusText = text;
    }
    requestRepaint();
}

void failWith(const std::wstring& message) {
    {
        std::lock_guard lock(setupState.sharedMutex);
        setupState.errorText = message;
    }
    setStatus(SetupStatus::Failed, L"");
}

std::wstring currentInstallDir() {
    std::lock_guard lock(setupState.sharedMutex);
    return setupState.installDir;
}

void setInstallDir(const std::wstring& folder) {
    std::lock_guard lock(setupState.sharedMutex);
    setupState.installDir = folder;
}

void setInstalledVersion(const std::wstring& version) {
    std::lock_guard lock(setupState.sharedMutex);
    setupState.installedVersion = version;
}

void setShortcutMissing(bool missing) {
    std::lock_guard lock(setupState.sharedMutex);
    setupState.shortcutMissing = missing;
}

void publishDownloadProgress(DownloadSampler& sampler, uint64_t received, uint64_t total, TickSource tick) {
    setupState.downloadedBytes.exchange(received);
    setupState.totalBytes.exchange(total);
    setupState.progress.exchange(total == 0 ? 0.0
                                            : static_cast<double>(received) / static_cast<double>(total));
    const uint32_t now = tick();
    if (received < sampler.lastBytes) {
        // A download that started over: measure from here instead of from bytes it no longer has.
        sampler.lastBytes = received;
        sampler.lastTick = now;
    }
    const uint32_t elapsed = now - sampler.lastTick; // unsigned: the tick wrap is harmless
    if (elapsed >= 500) {
        setupState.downloadSpeed.exchange(static_cast<double>(received - sampler.lastBytes) / elapsed *
                                          1000.0);
        sampler.lastBytes = received;
        sampler.lastTick = now;
    }
    requestRepaint();
}
