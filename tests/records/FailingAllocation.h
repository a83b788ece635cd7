#pragma once
// This test program's global operator new can be told to fail once, for one allocation size,
// so that a std::bad_alloc can be raised at one chosen place inside the library.
#include <cstddef>

namespace kvotest {

// The next allocation of exactly bytes bytes (on any thread) throws std::bad_alloc.
void FailNextAllocationOf(std::size_t bytes) noexcept;

} // namespace kvotest
