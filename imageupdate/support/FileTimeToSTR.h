#pragma once
// Display text of a UTC file time in local time: "MM/DD/YYYY  hh:mm".
#include <windows.h>

namespace Tallis::ImageUpdate {

class CFileTimeToSTR {
public:
    explicit CFileTimeToSTR(const FILETIME& utcTime) noexcept;
    virtual ~CFileTimeToSTR() = default;

    const wchar_t* GetText() const noexcept { return m_text; }

private:
    wchar_t m_text[64];
};

} // namespace Tallis::ImageUpdate
