#include "net/chunk_hasher.h"

#include <process.h>

namespace {
// Holds an SRW lock exclusively for one scope.
class LockHeld {
  public:
    explicit LockHeld(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~LockHeld() { ReleaseSRWLockExclusive(&lock_); }
    LockHeld(const LockHeld&) = delete;
    LockHeld& operator=(const LockHeld&) = delete;

  private:
    SRWLOCK& lock_;
};
} // namespace

ChunkHasher::ChunkHasher(uint32_t chunkSize) : chunks(chunkCount, std::vector<unsigned char>(chunkSize)) {
    // _beginthreadex rather than CreateThread: the C runtime sets itself up for the thread.
    thread.reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, hashingThread, this, 0, nullptr)));
}

ChunkHasher::~ChunkHasher() {
    if (!thread)
        return;
    {
        LockHeld held(lock);
        stopping = true;
    }
    WakeConditionVariable(&chunkQueued);
    WaitForSingleObject(thread.get(), INFINITE);
}

unsigned __stdcall ChunkHasher::hashingThread(void* self) {
    static_cast<ChunkHasher*>(self)->hashQueuedChunks();
    return 0;
}

void ChunkHasher::hashQueuedChunks() {
    LockHeld held(lock);
    for (;;) {
        while (queued == 0 && !stopping)
            SleepConditionVariableSRW(&chunkQueued, &lock, INFINITE, 0);
        if (queued == 0)
            return;
        const size_t oldest = (filling + chunkCount - queued) % chunkCount;
        const uint32_t size = sizes[oldest];
        // The caller fills other buffers meanwhile; this one stays out of its reach until counted off.
        ReleaseSRWLockExclusive(&lock);
        addToSha256(running, chunks[oldest].data(), size);
        AcquireSRWLockExclusive(&lock);
        --queued;
        WakeConditionVariable(&chunkHashed);
    }
}

void ChunkHasher::waitUntilHashed() {
    if (!thread)
        return;
    LockHeld held(lock);
    while (queued > 0)
        SleepConditionVariableSRW(&chunkHashed, &lock, INFINITE, 0);
}

unsigned char* ChunkHasher::nextChunk() {
    if (thread) {
        LockHeld held(lock);
        while (queued == chunkCount)
            SleepConditionVariableSRW(&chunkHashed, &lock, INFINITE, 0);
    }
    return chunks[filling].data();
}

void ChunkHasher::hashChunk(uint32_t count) {
    if (!thread) {
        addToSha256(running, chunks[filling].data(), count);
        return;
    }
    {
        LockHeld held(lock);
        sizes[filling] = count;
        filling = (filling + 1) % chunkCount;
        ++queued;
    }
    WakeConditionVariable(&chunkQueued);
}

void ChunkHasher::restart() {
    waitUntilHashed();
    restartSha256(running);
}

std::wstring ChunkHasher::finish() {
    waitUntilHashed();
    return sha256Hex(running);
}
