#pragma once
// The name of a run's output folder: "VellocsDiag_" and the seconds since 1970 inside a base folder.
#include <windows.h>

#include <string>

constexpr const wchar_t* kOutputFolderVariable = L"VELLOCS_OUTDIR";

// The current time in whole seconds since 1970-01-01 UTC, as a 32-bit signed number.
[[nodiscard]] INT32 CurrentTimeSeconds() noexcept;

// base + "\VellocsDiag_<seconds>", with one separator and no trailing backslash.
[[nodiscard]] std::wstring MakeOutputFolder(const wchar_t* base, INT32 seconds);


// Creates base (with its parents) and then the output folder itself, which must be new: a name
// that exists already gets "_2", "_3", ... so that two runs never share a folder. folder is
// updated to the folder created. 0 or the Windows error of the failing creation.
[[nodiscard]] DWORD ClaimOutputFolder(std::wstring& folder) noexcept;
