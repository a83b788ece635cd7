#pragma once
// The name of a run's output folder: "VellocsDiag_" and the seconds since 1970 inside a base folder,
// and the claim of that folder: new, and readable by SYSTEM, Administrators and the running
// account only.
#include "RunRequest.h"

#include <windows.h>

#include <string>

constexpr const wchar_t* kOutputFolderVariable = L"VELLOCS_OUTDIR";

// The current time in whole seconds since 1970-01-01 UTC, as a 32-bit signed number.
[[nodiscard]] INT32 CurrentTimeSeconds() noexcept;

// base + "\VellocsDiag_<seconds>", with one separator and no trailing backslash; from the second
// attempt on (a name that is taken) with "_<attempt>" behind it.
[[nodiscard]] std::wstring MakeOutputFolder(const wchar_t* base, INT32 seconds, int attempt = 1);
// The folder the request proposes: its base and seconds.
[[nodiscard]] std::wstring MakeOutputFolder(const RunRequest& request);

// Sets VELLOCS_OUTDIR of this process, which the OS log script reads.
void PublishOutputFolder(const std::wstring& folder) noexcept;

// Whether an existing base folder may hold the output: one that is a link (other than the running
// account's own desktop, which lies in its profile) or, in an elevated run, one that other accounts
// may change is refused, since they could swap the output folder for a link between two steps. A
// missing base is fine: the claim creates it. 0, or a Windows error with problem telling the user
// why and what to choose instead.
[[nodiscard]] DWORD CheckBaseFolder(const std::wstring& base, bool elevated, std::wstring& problem);

// Creates the request's base when it is missing (with its missing parents, each private) and then
// the output folder itself, which must be new: a name that exists already gets "_2", "_3", ... so
// that two runs never share a folder. folder receives the folder created. 0 or the Windows error
// of the failing creation.
[[nodiscard]] DWORD ClaimOutputFolder(const RunRequest& request, std::wstring& folder) noexcept;
