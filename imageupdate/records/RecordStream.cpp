#include "RecordStream.h"

#include "BlockFields.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace Tallis::ImageUpdate {
namespace {
constexpr size_t kFirstChunk = 64 * 1024;
constexpr size_t kVersionAt = 0x00;
constexpr size_t kSizeAt = 0x04;
constexpr std::uint32_t kSizedHeader = 8;
} // namespace

std::unique_ptr<wchar_t[]> DuplicateText(const wchar_t* text)
{
    if (!text)
        return nullptr;
    const size_t chars = std::wcslen(text) + 1;
    std::unique_ptr<wchar_t[]> copy(new wchar_t[chars]);
    std::memcpy(copy.get(), text, chars * sizeof(wchar_t));
    return copy;
}

bool ReadExact(FILE* stream, void* buffer, size_t size) noexcept
{
    if (size == 0)
        return true;
    return std::fread(buffer, 1, size, stream) == size;
}

std::unique_ptr<std::uint8_t[]> ReadBlock(FILE* stream, std::uint32_t size, std::uint32_t extraZeroBytes) noexcept
{
    const size_t total = size_t(size) + extraZeroBytes;
    size_t capacity = total < kFirstChunk ? total : kFirstChunk;
    std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[capacity ? capacity : 1]());
    if (!block)
        return nullptr;
    size_t filled = 0;
    while (filled < size) {
        if (filled == capacity) {
            size_t grown = capacity * 2;
            if (grown > total || grown < capacity)
                grown = total;
            std::unique_ptr<std::uint8_t[]> bigger(new (std::nothrow) std::uint8_t[grown]());
            if (!bigger)
                return nullptr;
            std::memcpy(bigger.get(), block.get(), filled);
            block = std::move(bigger);
            capacity = grown;
        }
        const size_t wanted = (size < capacity ? size : capacity) - filled;
        const size_t got = std::fread(block.get() + filled, 1, wanted, stream);
        filled += got;
        if (got != wanted)
            return nullptr;
    }
    return block;
}

std::unique_ptr<std::uint8_t[]> ReadSizedBlock(FILE* stream, std::uint32_t minimumLength, std::uint32_t version,
                                               std::uint32_t& length, std::uint32_t extraZeroBytes) noexcept
{
    length = 0;
    if (!ReadValue(stream, length))
        return nullptr;
    std::unique_ptr<std::uint8_t[]> block = ReadBlock(stream, length, extraZeroBytes);
    if (!block || length < minimumLength || length < kSizedHeader)
        return nullptr;
    if (BlockFields::LoadU32(block.get(), kVersionAt) != version)
        return nullptr;
    if (BlockFields::LoadU32(block.get(), kSizeAt) != length)
        return nullptr;
    return block;
}

} // namespace Tallis::ImageUpdate
