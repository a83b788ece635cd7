#include "WideTextOut.h"

#include <cstdarg>
#include <cwchar>
#include <new>
#include <vector>

namespace Tallis::ImageUpdate {

void WriteWideText(FILE* stream, const wchar_t* format, ...) noexcept
{
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int needed = _vscwprintf(format, measure);
    va_end(measure);
    if (needed >= 0) {
        try {
            std::vector<wchar_t> text(std::size_t(needed) + 1, L'\0');
            _vsnwprintf(text.data(), std::size_t(needed), format, args);
            std::fputws(text.data(), stream);
        } catch (const std::bad_alloc&) {
            // A dump line that cannot be formatted is left out; the dump has no error channel.
        }
    }
    va_end(args);
}

std::wstring UnknownValueText(long long value)
{
    wchar_t text[40] = {};
    _snwprintf(text, 39, L"UNKNOWN(%I64d)", value);
    return text;
}

} // namespace Tallis::ImageUpdate
