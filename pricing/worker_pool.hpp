#pragma once

#include <cstddef>
#include <functional>

namespace tsr {

// Worker threads kept for the whole process, so that a call on many threads does not start
// and join its own each time. While one call uses the pool, another (from a second thread,
// or from inside a job) starts threads of its own, as does a call past the pool's size; a
// child process after a fork gets a fresh pool, since it does not inherit the threads.
class WorkerPool {
public:
    // The most threads the pool keeps.
    static constexpr std::size_t maxHelpers = 63;

    // Runs job() on `helpers` other threads and on the caller at once, and returns when every
    // run has returned; the first exception of a run is thrown then.
    static void run(std::size_t helpers, const std::function<void()>& job);
};

} // namespace tsr
