// Replaces the global operator new and delete with a pair that counts every heap allocation
// of the process, so that a test or a benchmark can show a hot path makes none. Include it
// from one source of an executable only: replacement allocation functions cannot be inline.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace tsr::test {

inline std::atomic<std::size_t> allocations{0};

} // namespace tsr::test

// The pair wraps malloc and free; GCC cannot see that they match.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    tsr::test::allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop
