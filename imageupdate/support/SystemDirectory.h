#pragma once
// Where the platform's own programs live. Every program the tool starts is started by its full path
// in the system directory, never through the search order, which looks in the program's folder and
// the current folder first: folders another account may be able to write.
#include <windows.h>

#include <string>

namespace Tallis::ImageUpdate {

// The system directory ("C:\Windows\system32"), without a trailing backslash; empty when unknown.
[[nodiscard]] std::wstring SystemDirectory();

// The system directory joined with a program's file name ("C:\Windows\system32\cmd.exe"); empty
// when the system directory is unknown.
[[nodiscard]] std::wstring SystemProgramPath(const wchar_t* fileName);

} // namespace Tallis::ImageUpdate
