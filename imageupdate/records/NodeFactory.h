#pragma once
// The node factory of SortedLinkList::Load: the stream reader for each type code.
#include "ListNodeData.h"

#include <cstdint>
#include <cstdio>

namespace Tallis::ImageUpdate {

// Takes the stream just behind the type code; returns a new node (reference count 0), or none
// when the data cannot be read. Consumes exactly the bytes that the type's Save wrote.
using NodeReader = ListNodeData* (*)(FILE* stream);

// The reader registered for code, or none (0, 6 to 10 and every unregistered code).
[[nodiscard]] NodeReader FindNodeReader(std::int32_t code) noexcept;

} // namespace Tallis::ImageUpdate
