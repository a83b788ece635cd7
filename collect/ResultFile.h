#pragma once
// The result file of a collection run: what ran, how it ended, and every file it left behind
// with its SHA-256, so whoever receives the folder can tell what is missing or altered.
#include "RunRecord.h"
#include "RunRequest.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct OutputFile {
    std::wstring relativePath; // backslashes
    uint64_t size = 0;
    // A folder below the root that could not be listed appears as "<path>\" with its error code.
    DWORD error = 0;
};

static constexpr const wchar_t* kToolName = L"KvoVellocsDiag";
static constexpr const wchar_t* kResultFileName = L"KvoVellocsDiag.result.json";
static constexpr const wchar_t* kResultTempFileName = L"KvoVellocsDiag.result.json.partial";

// Every file below folder (recursively, reparse points skipped), sorted by path (ordinal).
// Long paths work. Fails only when folder itself cannot be listed.
[[nodiscard]] DWORD ListOutputFiles(const wchar_t* folder, std::vector<OutputFile>& files);

// Writes <record.outputFolder>\KvoVellocsDiag.result.json (UTF-8, no byte order mark) from what the
// run was asked and what it found, through a temporary file in the same folder that is renamed
// over the final name. Every file of the folder except the result file and its temporary is
// listed with its size and SHA-256; one that cannot be hashed is listed with "sha256": null and
// its "error" code. Returns 0 or the Win32 error.
[[nodiscard]] DWORD WriteResultFile(const RunRequest& request, const RunRecord& record) noexcept;

// "2026-12-09T10:30:00Z"
std::wstring FormatUtcIso8601(const SYSTEMTIME& utc);
