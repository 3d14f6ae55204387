#include "state/shutdown.h"

#include "state/setup_state.h"
#include "win/handles.h"

namespace {
const UniqueKernelHandle shutdownSignal(CreateEventW(nullptr, TRUE, FALSE, nullptr));
std::atomic<bool> shuttingDown{false};
std::atomic<bool> transactionOpen{false};
} // namespace

void beginShutdown() {
    shuttingDown.store(true);
    setupState.cancelRequested.store(true);
    if (shutdownSignal)
        SetEvent(shutdownSignal.get());
}

HANDLE shutdownEvent() {
    return shutdownSignal.get();
}

void resetCancel() {
    // Cleared first and the end checked after: a beginShutdown in between still wins.
    setupState.cancelRequested.store(false);
    if (shuttingDown.load())
        setupState.cancelRequested.store(true);
}

void setInstallTransactionOpen(bool open) {
    transactionOpen.store(open);
}

bool installTransactionOpen() {
    return transactionOpen.load();
}
