#include "app/workers.h"

#include "win/handles.h"

#include <process.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

namespace {
// The UI thread's alone: the workers never see it.
std::vector<UniqueKernelHandle> workerThreads;

bool hasEnded(const UniqueKernelHandle& thread) {
    return WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0;
}

unsigned __stdcall runWorker(void* start) {
    // Nothing may reach std::terminate from this thread.
    try {
        const std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(start));
        (*body)();
    } catch (...) {
    }
    return 0;
}
} // namespace

bool startWorker(std::function<void()> body) {
    try {
        std::erase_if(workerThreads, hasEnded);
        workerThreads.reserve(workerThreads.size() + 1);
        auto start = std::make_unique<std::function<void()>>(std::move(body));
        // _beginthreadex rather than CreateThread: the C runtime sets itself up for the thread.
        const uintptr_t thread = _beginthreadex(nullptr, 0, runWorker, start.get(), 0, nullptr);
        if (thread == 0)
            return false;
        start.release(); // the thread owns it now
        workerThreads.emplace_back(reinterpret_cast<HANDLE>(thread));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool waitForWorkers(DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (const UniqueKernelHandle& thread : workerThreads) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (WaitForSingleObject(thread.get(), left) != WAIT_OBJECT_0)
            return false;
    }
    return true;
}
