#pragma once

#include "pricing/thread_count.hpp"

#include <algorithm>
#include <atomic>
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

// Runs work(begin, end) over [0, count) on `threads` threads, the caller being one of them.
// Each takes half its share of what is left, and at least `chunk`: the first pieces are
// long, so that each thread writes long runs of the output (a page that two threads fault
// in at once costs more than the work on it), and the last are short, so that the threads
// finish together. Each index is visited once; which thread takes it changes nothing,
// because work writes only the slots of its own indices.
template <class Work>
void forEachChunk(std::size_t count, std::size_t chunk, unsigned threads, const Work& work) {
    const std::size_t workers = checkedThreadCount(threads);
    std::atomic<std::size_t> next{0};
    const auto worker = [&] {
        std::size_t begin = next.load();
        while (begin < count) {
            const std::size_t size = std::max(chunk, (count - begin) / (2 * workers));
            if (next.compare_exchange_weak(begin, begin + size)) {
                work(begin, std::min(count, begin + size));
                begin = next.load();
            }
        }
    };
    const std::size_t useful = (count + chunk - 1) / chunk;
    const std::size_t helpers = std::min<std::size_t>(workers, useful);
    WorkerPool::run(helpers == 0 ? 0 : helpers - 1, worker);
}

} // namespace tsr
