#include "FileTimeToSTR.h"

#include <cwchar>

namespace Tallis::ImageUpdate {

CFileTimeToSTR::CFileTimeToSTR(const FILETIME& utcTime) noexcept : m_text{}
{
    // Both conversions go unchecked: a time the platform cannot convert shows the zeroed
    // fields ("00/00/0  00:00"), the text that record dumps have always carried for it.
    SYSTEMTIME utc{};
    SYSTEMTIME local{};
    FileTimeToSystemTime(&utcTime, &utc);
    SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
    constexpr size_t chars = sizeof m_text / sizeof m_text[0];
    _snwprintf(m_text, chars, L"%02d/%02d/%d  %02d:%02d", local.wMonth, local.wDay, local.wYear, local.wHour,
               local.wMinute);
    m_text[chars - 1] = L'\0';
}

} // namespace Tallis::ImageUpdate
