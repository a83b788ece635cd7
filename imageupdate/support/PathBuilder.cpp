#include "PathBuilder.h"

#include "DiagnosticLog.h"

#include <shlobj.h>

#include <cwchar>

namespace Tallis::ImageUpdate {
namespace {

size_t Length(const wchar_t* text) noexcept
{
    return text ? wcslen(text) : 0;
}

} // namespace

PathBuilder::PathBuilder(const wchar_t* base, bool keepTrailingSeparator)
{
    Build(base, nullptr, 0, keepTrailingSeparator);
}

PathBuilder::PathBuilder(const wchar_t* base, const wchar_t* name, bool keepTrailingSeparator)
{
    const wchar_t* parts[] = {name};
    Build(base, parts, 1, keepTrailingSeparator);
}

PathBuilder::PathBuilder(const wchar_t* base, const wchar_t* part1, const wchar_t* part2, const wchar_t* part3,
                         bool keepTrailingSeparator)
{
    const wchar_t* parts[] = {part1, part2, part3};
    Build(base, parts, 3, keepTrailingSeparator);
}

PathBuilder::~PathBuilder() = default;

void PathBuilder::Build(const wchar_t* base, const wchar_t* const* parts, int partCount, bool keepTrailingSeparator)
{
    // Room for the inputs, up to four added separators and the terminator.
    size_t needed = Length(base) + 5;
    for (int i = 0; i < partCount; ++i)
        needed += Length(parts[i]);

    if (needed >= size_t(kInlineChars)) {
        m_heapBlock.reset(new wchar_t[needed + kPrefixChars]);
        m_ownsHeapText = true;
        m_capacity = int(needed);
        m_text = m_heapBlock.get() + kPrefixChars;
    }

    size_t length = 0;
    auto append = [&](const wchar_t* text, size_t count) {
        wmemcpy(m_text + length, text, count);
        length += count;
    };

    const size_t baseLength = Length(base);
    if (baseLength > 0) {
        append(base, baseLength);
        if (base[baseLength - 1] != L'\\')
            append(L"\\", 1);
    }
    for (int i = 0; i < partCount; ++i) {
        const wchar_t* part = parts[i];
        size_t partLength = Length(part);
        if (partLength == 0)
            continue;
        if (part[0] == L'\\') {
            ++part;
            --partLength;
        }
        if (partLength == 0)
            continue;
        append(part, partLength);
        if (part[partLength - 1] != L'\\')
            append(L"\\", 1);
    }
    if (!keepTrailingSeparator && length > 0 && m_text[length - 1] == L'\\')
        --length;
    m_text[length] = L'\0';
}

const wchar_t* PathBuilder::GetLongPath()
{
    if (!(m_text[0] == L'\\' && m_text[1] == L'\\')) {
        wmemcpy(m_text - kPrefixChars, L"\\\\?\\", kPrefixChars);
        return m_text - kPrefixChars;
    }
    if (m_text[2] == L'?')
        return m_text;

    const size_t length = wcslen(m_text);
    std::unique_ptr<wchar_t[]> longForm(new wchar_t[length + 8]);
    wmemcpy(longForm.get(), L"\\\\?\\UNC\\", 8);
    wmemcpy(longForm.get() + 8, m_text + 2, length - 2 + 1);
    m_uncLongForm = std::move(longForm);
    return m_uncLongForm.get();
}

DWORD PathBuilder::CreateFolderChain()
{
    const size_t length = wcslen(m_text);
    if (length < size_t(kLongBranchFrom))
        return DWORD(SHCreateDirectoryExW(nullptr, m_text, nullptr));

    KVO_LOG(LOG_WARN, L"WSPathBuilder", L"Found a folder path greater than 248 chars !! %s", m_text);

    // The shell gives up beyond MAX_PATH: create every ancestor from the top down in long form.
    for (size_t i = 0; i < length; ++i) {
        if (m_text[i] != L'\\')
            continue;
        m_text[i] = L'\0';
        try {
            PathBuilder ancestor(m_text, false);
            CreateDirectoryW(ancestor.GetLongPath(), nullptr);
        } catch (...) {
            m_text[i] = L'\\';
            throw;
        }
        m_text[i] = L'\\';
    }

    const wchar_t* longPath = GetLongPath();
    if (CreateDirectoryW(longPath, nullptr))
        return 0;
    const DWORD error = GetLastError();
    KVO_LOG(LOG_ERROR, L"WSPathBuilder", L"ErrorCode %d for CreateDirectory of %s", int(error), longPath);
    return error;
}

} // namespace Tallis::ImageUpdate
