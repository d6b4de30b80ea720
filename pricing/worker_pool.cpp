#include "pricing/worker_pool.hpp"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

namespace tsr {

namespace {

class Pool {
public:
    Pool() = default;
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;
    // Never destroyed: see processPool.
    ~Pool() = default;

    // False when another call holds the pool.
    bool tryRun(std::size_t helpers, const std::function<void()>& job) {
        const std::unique_lock busy(busy_, std::try_to_lock);
        if (!busy.owns_lock()) {
            return false;
        }
        {
            const std::lock_guard lock(mutex_);
            while (threads_.size() < helpers) {
                threads_.emplace_back(&Pool::serve, this, threads_.size());
            }
            job_ = &job;
            wanted_ = helpers;
            remaining_ = helpers;
            failure_ = nullptr;
            ++round_;
        }
        wake_.notify_all();
        std::exception_ptr failure = caught(job);
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return remaining_ == 0; });
        job_ = nullptr;
        if (!failure) {
            failure = failure_;
        }
        lock.unlock();
        if (failure) {
            std::rethrow_exception(failure);
        }
        return true;
    }

private:
    // The exception a job throws, or none.
    static std::exception_ptr caught(const std::function<void()>& job) {
        try {
            job();
        } catch (...) {
            return std::current_exception();
        }
        return nullptr;
    }

    void serve(std::size_t index) {
        std::uint64_t seen = 0;
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return round_ != seen; });
            seen = round_;
            if (index >= wanted_) {
                continue;
            }
            const std::function<void()>& job = *job_;
            lock.unlock();
            const std::exception_ptr failure = caught(job);
            lock.lock();
            if (failure && !failure_) {
                failure_ = failure;
            }
            if (--remaining_ == 0) {
                done_.notify_one();
            }
        }
    }

    std::mutex busy_; // held by the call that uses the pool
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::vector<std::thread> threads_;
    std::uint64_t round_ = 0;
    std::size_t wanted_ = 0;
    std::size_t remaining_ = 0;
    const std::function<void()>* job_ = nullptr;
    std::exception_ptr failure_;
};

// The pool of this process. It is never destroyed, so that a call made while statics are
// destroyed at exit still finds it; its threads end with the process. A forked child's copy
// of its parent's pool has no threads, so the child makes its own.
Pool& processPool() {
    static std::mutex guard;
    static Pool* pool = nullptr;
    static pid_t owner = 0;
    const std::lock_guard lock(guard);
    if (pool == nullptr || owner != getpid()) {
        pool = std::make_unique<Pool>().release();
        owner = getpid();
    }
    return *pool;
}

} // namespace

void WorkerPool::run(std::size_t helpers, const std::function<void()>& job) {
    if (helpers == 0) {
        job();
        return;
    }
    if (helpers <= maxHelpers && processPool().tryRun(helpers, job)) {
        return;
    }
    std::exception_ptr failure;
    std::mutex failureMutex;
    const auto guarded = [&] {
        try {
            job();
        } catch (...) {
            const std::lock_guard lock(failureMutex);
            if (!failure) {
                failure = std::current_exception();
            }
        }
    };
    {
        std::vector<std::jthread> own;
        for (std::size_t t = 0; t < helpers; ++t) {
            own.emplace_back(guarded);
        }
        guarded();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

} // namespace tsr
