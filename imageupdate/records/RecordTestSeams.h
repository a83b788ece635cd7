#pragma once
// ---------------------------------------------------------------------------------------------
// Test seams of the record library. Only test programs include this header; product code never
// calls these. Each hook is a process-wide atomic value that starts at its product setting.
// ---------------------------------------------------------------------------------------------
#include <cstddef>

namespace Tallis::ImageUpdate {

// The allocator of a group record's SID list and record (malloc-compatible); none restores
// malloc. Lets the group constructor's two failure texts be reached.
using GroupAllocateFn = void* (*)(std::size_t bytes);
void SetGroupAllocatorForTest(GroupAllocateFn allocate) noexcept;

// Registry value records read afterwards start this many bytes (0 or 1) into their allocation.
// A stored value name always lands at an even offset of its own block (the filler byte sees to
// that), so the copy that GetValueName makes of a name at an odd address is reached only so.
void SetValueRecordOffsetForTest(unsigned offset) noexcept;

} // namespace Tallis::ImageUpdate
