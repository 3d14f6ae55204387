// The shell's background threads: started on the UI thread and waited for before the run ends.
#pragma once

#include <windows.h>

#include <functional>

// UI thread. Runs body on a thread of its own and keeps the thread's handle; an exception body
// lets out ends on that thread. False when no thread can be made.
bool startWorker(std::function<void()> body);

// UI thread. Waits until every worker startWorker started has ended or timeoutMs has passed
// for them all together. True when none runs any more.
bool waitForWorkers(DWORD timeoutMs);
