#pragma once
// Joins a base and up to three parts into one Windows path and hands it out plainly or in
// long-path form. Inputs up to 254 characters stay in the inline area without allocation; the
// 4 characters in front of the text take the "\\?\" prefix, so the long form needs no copy.
#include <windows.h>

#include <memory>

namespace Tallis::ImageUpdate {

class PathBuilder {
public:
    // A null base counts as empty; null or empty parts are skipped. Allocation failure of a heap
    // text or a UNC long form raises std::bad_alloc: a path is never silently cut or emptied.
    PathBuilder(const wchar_t* base, bool keepTrailingSeparator);
    PathBuilder(const wchar_t* base, const wchar_t* name, bool keepTrailingSeparator);
    PathBuilder(const wchar_t* base, const wchar_t* part1, const wchar_t* part2, const wchar_t* part3,
                bool keepTrailingSeparator);
    virtual ~PathBuilder();

    PathBuilder(const PathBuilder&) = delete;
    PathBuilder& operator=(const PathBuilder&) = delete;

    [[nodiscard]] const wchar_t* GetPath() const noexcept { return m_text; }
    [[nodiscard]] const wchar_t* GetLongPath();
    // 0 when created; otherwise a Windows error code (183 when it exists already).
    [[nodiscard]] DWORD CreateFolderChain();

    [[nodiscard]] bool OwnsHeapText() const noexcept { return m_ownsHeapText; }
    [[nodiscard]] int Capacity() const noexcept { return m_capacity; }

    static constexpr int kInlineChars = 260;
    static constexpr int kPrefixChars = 4;
    static constexpr int kLongBranchFrom = 248;

private:
    void Build(const wchar_t* base, const wchar_t* const* parts, int partCount, bool keepTrailingSeparator);

    bool m_ownsHeapText = false;
    int m_capacity = kInlineChars;
    wchar_t m_prefixReserve[kPrefixChars];
    wchar_t m_inline[kInlineChars];
    wchar_t* m_text = m_inline;
    std::unique_ptr<wchar_t[]> m_heapBlock;
    std::unique_ptr<wchar_t[]> m_uncLongForm;
};

} // namespace Tallis::ImageUpdate
