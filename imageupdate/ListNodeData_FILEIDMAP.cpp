#include "ListNodeData_FILEIDMAP.h"

#include "DiagnosticLog.h"
#include "RecordStream.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace Tallis::ImageUpdate {
namespace {

constexpr std::size_t kVersionAt = 0x00;
constexpr std::size_t kSizeAt = 0x04;
constexpr std::size_t kLayerAt = 0x08;
constexpr std::size_t kSourceIdAt = 0x10;
constexpr std::size_t kSentinelIdAt = 0x18;

constexpr const wchar_t* kUnit = L"ListNodeData_FILEIDMAP";

template <typename T>
T ReadAt(const std::uint8_t* record, std::size_t offset) noexcept
{
    T value{};
    if (record)
        std::memcpy(&value, record + offset, sizeof value);
    return value;
}

} // namespace

std::int32_t ListNodeData_FILEIDMAP::SourceLayer() const noexcept
{
    return ReadAt<std::int32_t>(m_record.get(), kLayerAt);
}

std::uint64_t ListNodeData_FILEIDMAP::SourceFileId() const noexcept
{
    return ReadAt<std::uint64_t>(m_record.get(), kSourceIdAt);
}

std::int64_t ListNodeData_FILEIDMAP::SentinelFileId() const noexcept
{
    return ReadAt<std::int64_t>(m_record.get(), kSentinelIdAt);
}

std::int32_t ListNodeData_FILEIDMAP::TypeCode() const
{
    return kTypeCode;
}

void ListNodeData_FILEIDMAP::WriteText(FILE* stream) const
{
    if (!m_record)
        return;
    // "%I64X" needs the Windows formatting of _snwprintf; every line fits the buffer.
    wchar_t line[128];
    _snwprintf(line, 127, L"Source Layer:              %d\n", SourceLayer());
    line[127] = L'\0';
    std::fputws(line, stream);
    _snwprintf(line, 127, L"FileID in source layer:    %016I64X\n", SourceFileId());
    line[127] = L'\0';
    std::fputws(line, stream);
    _snwprintf(line, 127, L"FileID of Sentinel File:   %016I64X\n", SentinelFileId());
    line[127] = L'\0';
    std::fputws(line, stream);
    std::fputws(L"\n", stream);
}

void ListNodeData_FILEIDMAP::LogLine() const
{
    if (!m_record)
        return;
    KVO_LOG(LOG_INFO, kUnit, L"Source Layer: %d, FileID in Source Layer: %016I64X, FileID of Sentinel File: %016I64X",
            SourceLayer(), SourceFileId(), SentinelFileId());
}

std::int32_t ListNodeData_FILEIDMAP::Compare(const ListNodeData* other) const
{
    std::int64_t otherId = 0;
    if (other && other->TypeCode() == kTypeCode)
        otherId = static_cast<const ListNodeData_FILEIDMAP*>(other)->SentinelFileId();
    const std::int64_t ownId = SentinelFileId();
    return ownId > otherId ? 1 : (ownId < otherId ? -1 : 0);
}

std::int32_t ListNodeData_FILEIDMAP::Save(FILE* stream) const
{
    if (!m_record)
        return -1;
    const std::uint32_t length = std::uint32_t(DataSize());
    if (!WriteValue(stream, length))
        return -1;
    if (std::fwrite(m_record.get(), 1, length, stream) != length)
        return -1;
    return 0;
}

std::int32_t ListNodeData_FILEIDMAP::DataSize() const
{
    return ReadAt<std::int32_t>(m_record.get(), kSizeAt);
}

ListNodeData* ListNodeData_FILEIDMAP::FromStream(FILE* stream) noexcept
{
    std::uint32_t length = 0;
    if (!ReadValue(stream, length))
        return nullptr;
    std::unique_ptr<std::uint8_t[]> block = ReadBlock(stream, length);
    if (!block || length < kRecordSize)
        return nullptr;
    if (ReadAt<std::uint32_t>(block.get(), kVersionAt) != kVersion ||
        ReadAt<std::uint32_t>(block.get(), kSizeAt) != length)
        return nullptr;
    ListNodeData_FILEIDMAP* node = new (std::nothrow) ListNodeData_FILEIDMAP();
    if (!node)
        return nullptr;
    node->m_record = std::move(block);
    return node;
}

} // namespace Tallis::ImageUpdate
