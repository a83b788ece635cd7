#include "FailingAllocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> g_failSize{0};
} // namespace

namespace kvotest {

void FailNextAllocationOf(std::size_t bytes) noexcept
{
    g_failSize = bytes;
}

} // namespace kvotest

// Replaces the program's operator new. The runtime's operator delete frees with free(), which
// matches the malloc here; the array and nothrow forms come through this one.
void* operator new(std::size_t bytes)
{
    std::size_t armed = bytes;
    if (bytes != 0 && g_failSize.compare_exchange_strong(armed, 0))
        throw std::bad_alloc();
    if (void* block = std::malloc(bytes ? bytes : 1))
        return block;
    throw std::bad_alloc();
}
