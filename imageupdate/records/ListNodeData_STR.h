#pragma once
// The string record (type code 1): a wide text with a process-wide unique id.
#include "ListNodeData.h"

#include <cstdint>
#include <cstdio>
#include <memory>

namespace Tallis::ImageUpdate {

class SortedLinkList_STR;

// Readers at once, under the lock of the node's table: the const calls; the write guard: SetUserData.
class ListNodeData_STR : public ListNodeData {
public:
    static constexpr std::int32_t kTypeCode = 1;
    // Ids that stand for a text without a node: 0 the empty text, 1 no text.
    static constexpr std::int32_t kEmptyTextId = 0;
    static constexpr std::int32_t kNoTextId = 1;
    // Id of a node made without text (search keys, nodes being read).
    static constexpr std::int32_t kNoId = -1;

    // With a text: a heap copy and the next id of the process-wide counter (1001, 1002, ...).
    // Without: id -1 and no text.
    explicit ListNodeData_STR(const wchar_t* text = nullptr);
    ~ListNodeData_STR() override;

    std::int32_t TypeCode() const override;
    void WriteText(FILE* stream) const override;
    void LogLine() const override;
    // lstrcmpiW of the two texts (through CompareTextsNoCase); a node without text counts as
    // the empty text.
    std::int32_t Compare(const ListNodeData* other) const override;
    // Length word (DataSize), id, UTF-16LE text with its NUL.
    std::int32_t Save(FILE* stream) const override;
    // 4 + 2 x (text length + 1) with a text, 6 without.
    std::int32_t DataSize() const override;
    virtual void* GetUserData() const;
    virtual void SetUserData(void* userData);

    [[nodiscard]] std::int32_t Id() const noexcept { return m_id; }
    [[nodiscard]] const wchar_t* Text() const noexcept { return m_text; }

    // Stream reader for type code 1: a new node (reference count 0), or none when the data
    // cannot be read or is malformed (length below 6, odd, or text without its NUL).
    static ListNodeData* FromStream(FILE* stream) noexcept;

private:
    friend class SortedLinkList_STR;
    struct BorrowTag {};
    // A search key that points at the caller's text without copying or owning it, and without
    // a child list.
    ListNodeData_STR(BorrowTag, const wchar_t* text) noexcept;

    void Adopt(std::unique_ptr<wchar_t[]> text) noexcept;

    std::int32_t m_id = kNoId;
    // The text never changes once the node is made: lists rely on that to keep their order.
    const wchar_t* m_text = nullptr;
    std::unique_ptr<wchar_t[]> m_ownedText;
    void* m_userData = nullptr;
};

// Next id of the process-wide counter (starts at 1000, raised by one before each use),
// raised under a process-wide lock.
[[nodiscard]] std::int32_t NextStringId() noexcept;

} // namespace Tallis::ImageUpdate
