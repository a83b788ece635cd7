#pragma once
// The file-id map record (type code 11): a source layer number and a file id in that layer,
// paired with the id of a sentinel file; lists of them are ordered by the sentinel id.
#include "ListNodeData.h"

#include <cstdint>
#include <cstdio>
#include <memory>

namespace Tallis::ImageUpdate {

// Readers at once, under the lock of the record's list: every call (the record never changes once read).
class ListNodeData_FILEIDMAP : public ListNodeData {
public:
    static constexpr std::int32_t kTypeCode = 11;
    static constexpr std::uint32_t kVersion = 0;
    static constexpr std::uint32_t kRecordSize = 32;

    ListNodeData_FILEIDMAP() = default;
    ~ListNodeData_FILEIDMAP() override = default;

    std::int32_t TypeCode() const override;
    void WriteText(FILE* stream) const override;
    void LogLine() const override;
    // The sentinel file ids as signed 64-bit numbers (ascending).
    std::int32_t Compare(const ListNodeData* other) const override;
    std::int32_t Save(FILE* stream) const override;
    // The record size field.
    std::int32_t DataSize() const override;

    [[nodiscard]] std::int32_t SourceLayer() const noexcept;
    [[nodiscard]] std::uint64_t SourceFileId() const noexcept;
    [[nodiscard]] std::int64_t SentinelFileId() const noexcept;

    // Stream reader for type code 11: a new node, or none when the record cannot be read, is
    // not version 0, is shorter than 32 bytes, or its size field differs from its stored length.
    static ListNodeData* FromStream(FILE* stream) noexcept;

private:
    std::unique_ptr<std::uint8_t[]> m_record;
};

} // namespace Tallis::ImageUpdate
