#pragma once
// Display text of a file size for the record dumps: "%d Bytes", "%f KB", "%f MB", "%f GB".
#include <windows.h>

namespace Tallis::ImageUpdate {

class CWin32FileSize {
public:
    CWin32FileSize(DWORD sizeHigh, DWORD sizeLow) noexcept;
    virtual ~CWin32FileSize() = default;

    // Formats on the first call only; later calls return the same text.
    const wchar_t* GetText() noexcept;

private:
    wchar_t m_text[32];
    DWORD m_sizeHigh;
    DWORD m_sizeLow;
    ULONGLONG m_size;
};

} // namespace Tallis::ImageUpdate
