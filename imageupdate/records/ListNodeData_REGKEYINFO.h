#pragma once
// The registry key record (type code 4): one key of a registry snapshot, held as its stored
// version 4 block, with the list of the key's value records read and saved along with it.
#include "ListNodeData.h"

#include <cstdint>
#include <cstdio>
#include <memory>

namespace Tallis::ImageUpdate {

class ListNodeData_REGVALUE;

// Readers at once, under the lock of the key's list: the const calls (FindValue among them) and Values; the write
// guard: FirstValue and NextValue, which move the value list's shared cursor.
class ListNodeData_REGKEYINFO : public ListNodeData {
public:
    static constexpr std::int32_t kTypeCode = 4;
    static constexpr std::uint32_t kVersion = 4;
    // Keys nested in value lists deeper than this are refused, so a crafted stream cannot
    // exhaust the stack through the reader's recursion.
    static constexpr int kMaxNesting = 16;

    ListNodeData_REGKEYINFO();
    ~ListNodeData_REGKEYINFO() override;

    std::int32_t TypeCode() const override;
    // The key's dump, then the dump of every value record.
    void WriteText(FILE* stream) const override;
    // The key's entry, then one entry per value record.
    void LogLine() const override;
    // Reverse path order: subkeys sort before their key.
    std::int32_t Compare(const ListNodeData* other) const override;
    // Record size, the record, then the value list's own stream.
    std::int32_t Save(FILE* stream) const override;
    // The record size field plus the value records' sizes, held at INT32_MAX: the base type
    // is 32-bit, and a wrapped sum would turn into a negative size. DataSize64 has the full sum.
    std::int32_t DataSize() const override;

    virtual ListNodeData_REGVALUE* FindValue(const wchar_t* name) const;
    virtual ListNodeData_REGVALUE* FirstValue();
    virtual ListNodeData_REGVALUE* NextValue();

    [[nodiscard]] std::int64_t DataSize64() const;
    [[nodiscard]] const wchar_t* Path() const noexcept;
    [[nodiscard]] std::uint32_t State() const noexcept;
    [[nodiscard]] SortedLinkList* Values() const noexcept { return m_values.get(); }

    // Stream reader for type code 4: a new node with its value list, or none when the record
    // does not hold together or its value list is not read whole.
    static ListNodeData* FromStream(FILE* stream) noexcept;

private:
    [[nodiscard]] std::uint32_t Field(std::size_t offset) const noexcept;

    std::unique_ptr<std::uint8_t[]> m_record;
    std::unique_ptr<SortedLinkList> m_values;
};

} // namespace Tallis::ImageUpdate
