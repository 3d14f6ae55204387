// A SHA-256 computed on a thread of its own while the caller fills the next chunks, so that hashing
// a download costs it no time of its own.
#pragma once

#include "net/sha256.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A ring of chunk buffers between one filling thread (the caller) and the hashing thread. When no
// thread can be started, the chunks are hashed on the caller's thread instead. Not movable: the
// hashing thread holds its address.
class ChunkHasher {
  public:
    static constexpr size_t chunkCount = 8;

    explicit ChunkHasher(uint32_t chunkSize);
    ~ChunkHasher();
    ChunkHasher(const ChunkHasher&) = delete;
    ChunkHasher& operator=(const ChunkHasher&) = delete;

    // A buffer of chunkSize bytes to fill, once the hashing thread has let go of it.
    unsigned char* nextChunk();
    // Hands the first count bytes of the buffer nextChunk gave over to be hashed.
    void hashChunk(uint32_t count);
    // Forgets everything handed over so far and starts from nothing.
    void restart();
    // 64 lower-case hex digits of everything handed over since the start or the last restart, ""
    // when hashing failed. Nothing may be handed over after it.
    std::wstring finish();

  private:
    static unsigned __stdcall hashingThread(void* self);
    void hashQueuedChunks();
    void waitUntilHashed();

    Sha256 running = startSha256();
    std::vector<std::vector<unsigned char>> chunks;
    uint32_t sizes[chunkCount] = {};
    size_t filling = 0; // the caller's next buffer
    size_t queued = 0;  // handed over and not yet hashed
    bool stopping = false;
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE chunkQueued = CONDITION_VARIABLE_INIT;
    CONDITION_VARIABLE chunkHashed = CONDITION_VARIABLE_INIT;
    UniqueKernelHandle thread;
};
