#pragma once
// The name of a run's output folder: "VellocsDiag_" and the seconds since 1970 inside a base folder
// (BaseFolder claims it).
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
