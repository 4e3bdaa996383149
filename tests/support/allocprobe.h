// Records the largest single allocation made through operator new, so that a test can show
// that a length read from a file never turns into an allocation of that size.
// Include in exactly one source file of a test program: it replaces the global operator new.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

namespace testing_support {

inline std::atomic<size_t> largestAllocation{0};

// The largest request since the last reset.
inline size_t largestAllocationSince(const auto& f) {
    largestAllocation = 0;
    f();
    return largestAllocation.load();
}

} // namespace testing_support

// The replacements pair malloc with free throughout; the compiler cannot see that.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(size_t size) {
    size_t seen = testing_support::largestAllocation.load(std::memory_order_relaxed);
    while (size > seen && !testing_support::largestAllocation.compare_exchange_weak(seen, size))
        ;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}

#pragma GCC diagnostic pop
