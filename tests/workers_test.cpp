#include "app/workers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>

TEST(Workers, TheWaitEndsAtItsBoundOrWhenTheWorkersHaveEnded) {
    static std::atomic<bool> release{false};
    ASSERT_TRUE(startWorker([] {
        while (!release)
            Sleep(5);
    }));
    // Caught on the worker's thread: the program goes on.
    ASSERT_TRUE(startWorker([] { throw std::runtime_error("escaped"); }));

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(waitForWorkers(300));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    EXPECT_LT(waited, std::chrono::seconds(2));

    release = true;
    EXPECT_TRUE(waitForWorkers(10'000));
}
