#pragma once
// Formatted wide text into an open stream with the Windows meaning of "%s" (a wide text):
// formatted with _vsnwprintf, then written with fputws. The C99 wide printf family of MinGW
// would read "%s" as a narrow text.
#include <cstdio>
#include <string>

namespace Tallis::ImageUpdate {

void WriteWideText(FILE* stream, const wchar_t* format, ...) noexcept;

// "%s" of a value outside the named ones: "UNKNOWN(<value>)".
[[nodiscard]] std::wstring UnknownValueText(long long value);

} // namespace Tallis::ImageUpdate
