#pragma once
// The registry value record (type code 5): one value of a registry key in a snapshot, held as
// its stored version 2 block and dumped with its data and previous-data digest.
#include "ListNodeData.h"

#include <cstdint>
#include <cstdio>
#include <memory>

namespace Tallis::ImageUpdate {

// Readers at once: every call (the aligned copy of a name at an odd address is made by the stream reader).
class ListNodeData_REGVALUE : public ListNodeData {
public:
    static constexpr std::int32_t kTypeCode = 5;
    static constexpr std::uint32_t kVersion = 2;

    ListNodeData_REGVALUE() = default;
    ~ListNodeData_REGVALUE() override = default;

    std::int32_t TypeCode() const override;
    void WriteText(FILE* stream) const override;
    void LogLine() const override;
    // lstrcmpiW of the two value names (ascending).
    std::int32_t Compare(const ListNodeData* other) const override;
    // Length word, then that many bytes of the record as stored.
    std::int32_t Save(FILE* stream) const override;
    // The record size field.
    std::int32_t DataSize() const override;

    // Same data size, same registry type and, for a size other than 0, the same bytes.
    [[nodiscard]] virtual bool SameData(const ListNodeData_REGVALUE* other) const;

    // The value name inside the record, or the aligned copy that the stream reader made when
    // the record places it at an odd address (logged then). None for a node without record.
    [[nodiscard]] const wchar_t* GetValueName() const noexcept;

    [[nodiscard]] const std::uint8_t* Record() const noexcept { return m_record; }
    [[nodiscard]] std::uint32_t State() const noexcept;
    [[nodiscard]] std::uint32_t ValueType() const noexcept;
    [[nodiscard]] std::uint32_t ValueDataSize() const noexcept;

    // Stream reader for type code 5: a new node (reference count 0), or none when the record
    // cannot be read or does not hold together (size field, data and name within the block).
    static ListNodeData* FromStream(FILE* stream) noexcept;

private:
    [[nodiscard]] std::uint32_t Field(std::size_t offset) const noexcept;
    [[nodiscard]] const std::uint8_t* NamePlace() const noexcept;
    // Makes the aligned copy of a name at an odd address, before any reader can ask for it.
    void CopyUnalignedName();

    std::unique_ptr<std::uint8_t[]> m_storage;
    std::uint8_t* m_record = nullptr;
    std::unique_ptr<wchar_t[]> m_cachedName;
};

} // namespace Tallis::ImageUpdate
