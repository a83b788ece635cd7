#pragma once
// The result file of a collection run: what ran, how it ended, and every file it left behind
// with its SHA-256, so whoever receives the folder can tell what is missing or altered.
#include "MachineFacts.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct CollectorResult {
    std::wstring name;
    bool selected = false, available = false;
    std::wstring outcome;
    double seconds = 0;
    uint64_t files = 0, bytes = 0;
    // The OS log collector's script, once it ran: "carried", or the file given with its SHA-256.
    bool hasScript = false;
    std::wstring scriptPath; // empty: the carried script
    std::wstring scriptSha256;
};

struct ErrorEntry {
    std::wstring time; // ISO 8601 UTC with Z
    std::wstring unit, text;
};

// The free-space check of a run, on the output folder's volume.
struct SpaceResult {
    std::wstring volume;
    uint64_t freeBefore = 0, estimate = 0, reserve = 0, freeAfter = 0;
};

// A file that did not arrive whole: copied only in part (truncated, keyed by its place in the
// output folder) or not at all.
struct NotCollectedFile {
    std::wstring source, destination;
    DWORD error = 0;
};

struct RunResult {
    std::wstring toolName, toolVersion, commandLine;
    MachineFacts machine;
    INT32 layerMode = 0;
    std::wstring markerVolume; // empty -> null
    std::wstring started, ended, outputFolder, uiLanguage, outcome;
    std::vector<CollectorResult> collectors;
    std::vector<ErrorEntry> errors;
    std::wstring stopReason;             // empty -> no "stopReason" key
    bool hasSpace = false;
    SpaceResult space;
    std::vector<NotCollectedFile> notCollected;
    // Relative path in the output folder (backslashes) -> the source's size.
    std::vector<std::pair<std::wstring, uint64_t>> truncated;
};

struct OutputFile {
    std::wstring relativePath; // backslashes
    uint64_t size = 0;
    // A folder below the root that could not be listed appears as "<path>\" with its error code.
    DWORD error = 0;
};

static constexpr const wchar_t* kResultFileName = L"KvoVellocsDiag.result.json";
static constexpr const wchar_t* kResultTempFileName = L"KvoVellocsDiag.result.json.partial";

// Every file below folder (recursively, reparse points skipped), sorted by path (ordinal).
// Long paths work. Fails only when folder itself cannot be listed.
[[nodiscard]] DWORD ListOutputFiles(const wchar_t* folder, std::vector<OutputFile>& files);

// Writes <outputFolder>\KvoVellocsDiag.result.json (UTF-8, no byte order mark) through a temporary
// file in the same folder that is renamed over the final name. Every file of the folder except
// the result file and its temporary is listed with its size and SHA-256; one that cannot be
// hashed is listed with "sha256": null and its "error" code. Returns 0 or the Win32 error.
[[nodiscard]] DWORD WriteResultFile(const RunResult& result, const wchar_t* outputFolder) noexcept;

// "2026-12-09T10:30:00Z"
std::wstring FormatUtcIso8601(const SYSTEMTIME& utc);
