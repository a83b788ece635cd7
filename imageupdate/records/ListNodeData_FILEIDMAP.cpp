#include "ListNodeData_FILEIDMAP.h"

#include "BlockFields.h"
#include "DiagnosticLog.h"
#include "RecordStream.h"
#include "WideTextOut.h"

#include <new>

namespace Tallis::ImageUpdate {
namespace {

constexpr std::size_t kSizeAt = 0x04;
constexpr std::size_t kLayerAt = 0x08;
constexpr std::size_t kSourceIdAt = 0x10;
constexpr std::size_t kSentinelIdAt = 0x18;

constexpr const wchar_t* kUnit = L"ListNodeData_FILEIDMAP";

// A default-constructed node has no record: its fields read as zero.
std::uint32_t Load32(const std::uint8_t* record, std::size_t offset) noexcept
{
    return record ? BlockFields::LoadU32(record, offset) : 0;
}

std::uint64_t Load64(const std::uint8_t* record, std::size_t offset) noexcept
{
    return record ? BlockFields::LoadU64(record, offset) : 0;
}

} // namespace

std::int32_t ListNodeData_FILEIDMAP::SourceLayer() const noexcept
{
    return std::int32_t(Load32(m_record.get(), kLayerAt));
}

std::uint64_t ListNodeData_FILEIDMAP::SourceFileId() const noexcept
{
    return Load64(m_record.get(), kSourceIdAt);
}

std::int64_t ListNodeData_FILEIDMAP::SentinelFileId() const noexcept
{
    return std::int64_t(Load64(m_record.get(), kSentinelIdAt));
}

std::int32_t ListNodeData_FILEIDMAP::TypeCode() const
{
    return kTypeCode;
}

void ListNodeData_FILEIDMAP::WriteText(FILE* stream) const
{
    if (!m_record)
        return;
    // WriteWideText formats the Windows way, which "%I64X" needs.
    WriteWideText(stream, L"Source Layer:              %d\n", SourceLayer());
    WriteWideText(stream, L"FileID in source layer:    %016I64X\n", SourceFileId());
    WriteWideText(stream, L"FileID of Sentinel File:   %016I64X\n", SentinelFileId());
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
    return std::int32_t(Load32(m_record.get(), kSizeAt));
}

ListNodeData* ListNodeData_FILEIDMAP::FromStream(FILE* stream) noexcept
{
    std::uint32_t length = 0;
    std::unique_ptr<std::uint8_t[]> block = ReadSizedBlock(stream, kRecordSize, kVersion, length);
    if (!block)
        return nullptr;
    ListNodeData_FILEIDMAP* node = new (std::nothrow) ListNodeData_FILEIDMAP();
    if (!node)
        return nullptr;
    node->m_record = std::move(block);
    return node;
}

} // namespace Tallis::ImageUpdate
