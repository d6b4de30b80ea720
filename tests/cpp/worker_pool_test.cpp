#include "pricing/worker_pool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using tsr::WorkerPool;

// Runs on `helpers` + 1 threads and returns true when they were all inside the job at once.
bool allAtOnce(std::size_t helpers) {
    std::atomic<std::size_t> inside{0};
    std::atomic<bool> met{true};
    WorkerPool::run(helpers, [&] {
        ++inside;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (inside.load() < helpers + 1) {
            if (std::chrono::steady_clock::now() > deadline) {
                met = false;
                return;
            }
            std::this_thread::yield();
        }
    });
    return met && inside == helpers + 1;
}

} // namespace

TEST(WorkerPool, RunsTheJobOnEveryThreadAtOnceCallAfterCall) {
    for (const std::size_t helpers : {std::size_t{3}, std::size_t{1}, std::size_t{3},
                                      std::size_t{0}, WorkerPool::maxHelpers + 2}) {
        EXPECT_TRUE(allAtOnce(helpers)) << helpers;
    }
}

TEST(WorkerPool, NestedAndFailingRunsFinishAndTheFailureComesBack) {
    std::atomic<int> inner{0};
    WorkerPool::run(1, [&] { WorkerPool::run(1, [&] { ++inner; }); });
    EXPECT_EQ(4, inner);
    std::atomic<int> calls{0};
    EXPECT_THROW(WorkerPool::run(2,
                                 [&] {
                                     if (++calls == 2) {
                                         throw std::runtime_error("one run failed");
                                     }
                                 }),
                 std::runtime_error);
    EXPECT_EQ(3, calls);
    EXPECT_TRUE(allAtOnce(2));
}

TEST(WorkerPool, AForkedChildRunsOnThreadsOfItsOwn) {
    ASSERT_TRUE(allAtOnce(2));
    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        alarm(20); // a child waiting on its parent's threads would never end
        _exit(allAtOnce(2) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
