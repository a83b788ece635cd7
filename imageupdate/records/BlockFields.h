#pragma once
// Field access for the stored record blocks of the file and folder records: every field is
// read and written through its offset with memcpy (the blocks are byte layouts, not structs),
// and every text field is checked for its terminator before it is used as text.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>

namespace Tallis::ImageUpdate::BlockFields {

using Block = std::unique_ptr<std::uint8_t[]>;

[[nodiscard]] inline std::uint32_t LoadU32(const std::uint8_t* block, std::size_t at) noexcept
{
    std::uint32_t value;
    std::memcpy(&value, block + at, sizeof value);
    return value;
}

inline void StoreU32(std::uint8_t* block, std::size_t at, std::uint32_t value) noexcept
{
    std::memcpy(block + at, &value, sizeof value);
}

[[nodiscard]] inline std::uint64_t LoadU64(const std::uint8_t* block, std::size_t at) noexcept
{
    std::uint64_t value;
    std::memcpy(&value, block + at, sizeof value);
    return value;
}

[[nodiscard]] inline FILETIME LoadTime(const std::uint8_t* block, std::size_t at) noexcept
{
    FILETIME value;
    std::memcpy(&value.dwLowDateTime, block + at, 4);
    std::memcpy(&value.dwHighDateTime, block + at + 4, 4);
    return value;
}

inline void StoreTime(std::uint8_t* block, std::size_t at, const FILETIME& value) noexcept
{
    std::memcpy(block + at, &value.dwLowDateTime, 4);
    std::memcpy(block + at + 4, &value.dwHighDateTime, 4);
}

// The block's text at `at` as a pointer. Only valid for fields already checked with
// IsTerminated; the blocks come from new[] of bytes, which is aligned for wchar_t, and every
// text offset is even.
[[nodiscard]] inline const wchar_t* TextAt(const std::uint8_t* block, std::size_t at) noexcept
{
    return reinterpret_cast<const wchar_t*>(block + at);
}

// True when a NUL character lies within the first maxChars characters at `at`.
[[nodiscard]] inline bool IsTerminated(const std::uint8_t* block, std::size_t at, std::size_t maxChars) noexcept
{
    for (std::size_t i = 0; i < maxChars; ++i) {
        if (block[at + 2 * i] == 0 && block[at + 2 * i + 1] == 0)
            return true;
    }
    return false;
}

// Copies at most maxChars characters of a text that may lack its terminator into a zeroed
// field of fieldChars characters (maxChars < fieldChars), so the copy is always terminated.
inline void CopyBoundedText(std::uint8_t* to, std::size_t toAt, const std::uint8_t* from, std::size_t fromAt,
                            std::size_t maxChars) noexcept
{
    for (std::size_t i = 0; i < maxChars; ++i) {
        const std::uint8_t low = from[fromAt + 2 * i];
        const std::uint8_t high = from[fromAt + 2 * i + 1];
        if (low == 0 && high == 0)
            return;
        to[toAt + 2 * i] = low;
        to[toAt + 2 * i + 1] = high;
    }
}

// Year, month, day, hour, minute and second of two UTC file times agree; milliseconds and
// finer units are ignored. A time the platform cannot convert reads as all-zero fields.
[[nodiscard]] inline SYSTEMTIME UtcFields(const FILETIME& time) noexcept
{
    SYSTEMTIME fields{};
    if (!FileTimeToSystemTime(&time, &fields))
        fields = SYSTEMTIME{};
    return fields;
}

[[nodiscard]] inline bool SameSecond(const FILETIME& a, const FILETIME& b) noexcept
{
    const SYSTEMTIME x = UtcFields(a);
    const SYSTEMTIME y = UtcFields(b);
    return x.wYear == y.wYear && x.wMonth == y.wMonth && x.wDay == y.wDay && x.wHour == y.wHour &&
           x.wMinute == y.wMinute && x.wSecond == y.wSecond;
}

} // namespace Tallis::ImageUpdate::BlockFields
