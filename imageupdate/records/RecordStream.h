#pragma once
// Small helpers shared by the record types of the snapshot library: text copies and reads from
// binary streams that never trust a stored length with an allocation of its size.
#include <cstdint>
#include <cstdio>
#include <memory>

namespace Tallis::ImageUpdate {

// Heap copy of a wide text, none for none. Throws std::bad_alloc.
[[nodiscard]] std::unique_ptr<wchar_t[]> DuplicateText(const wchar_t* text);

// Reads exactly size bytes; false on a short read.
[[nodiscard]] bool ReadExact(FILE* stream, void* buffer, size_t size) noexcept;

template <typename T>
[[nodiscard]] bool ReadValue(FILE* stream, T& value) noexcept
{
    return ReadExact(stream, &value, sizeof value);
}

template <typename T>
[[nodiscard]] bool WriteValue(FILE* stream, const T& value) noexcept
{
    return std::fwrite(&value, sizeof value, 1, stream) == 1;
}

// Reads exactly size bytes into a new block of size bytes plus extraZeroBytes zero bytes.
// The block grows with the bytes actually read (64 KiB first, then doubling), so a corrupted
// length field costs at most about twice the bytes the stream really holds. Returns none on a
// short read or when memory runs out.
[[nodiscard]] std::unique_ptr<std::uint8_t[]> ReadBlock(FILE* stream, std::uint32_t size,
                                                        std::uint32_t extraZeroBytes = 0) noexcept;

// Reads a record stored as its uint32 length and then that many bytes, which begin with the
// record's uint32 version and uint32 size field; sets length to the stored length. Returns
// the block (as ReadBlock does) or none when it cannot be read, length is below
// minimumLength (or the 8 bytes of those two fields), the version differs, or the size field
// is not length. The block is read before any check, so a refused record is still consumed.
[[nodiscard]] std::unique_ptr<std::uint8_t[]> ReadSizedBlock(FILE* stream, std::uint32_t minimumLength,
                                                             std::uint32_t version, std::uint32_t& length,
                                                             std::uint32_t extraZeroBytes = 0) noexcept;

} // namespace Tallis::ImageUpdate
