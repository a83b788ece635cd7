#pragma once
// Whether a run fits on the output volume: what the selected collectors will copy, plus a reserve
// that keeps the machine (often its system drive) working, against the space the caller may use.
#include "FileSystem.h"
#include "RunRequest.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

class CVellocsDiag;

struct SpaceCheck {
    std::wstring volume;      // "C:\", the output folder's volume
    bool systemVolume = false;
    ULONGLONG freeBefore = 0; // available to the caller
    ULONGLONG estimate = 0;
    ULONGLONG reserve = 0;
    // The largest files the run would copy, largest first, each counted as /maxfile would cut it.
    std::vector<Tallis::ImageUpdate::SizedFile> largestFiles;

    [[nodiscard]] bool Fits() const noexcept { return estimate + reserve <= freeBefore; }
};

constexpr ULONGLONG kMegabyte = 1ull << 20;
constexpr ULONGLONG kSystemVolumeReserve = 1024 * kMegabyte;
constexpr ULONGLONG kOtherVolumeReserve = 256 * kMegabyte;

// Measures the volume of the request's base folder (through its nearest existing ancestor, as the
// folder may not exist yet) and sums the estimates of the collectors it selects that are available,
// each file counted at most at the request's size cap.
// The reserve is the request's, or the default for the volume. 0 or the Windows error of the
// volume query.
[[nodiscard]] DWORD CheckSpace(const RunRequest& request, CVellocsDiag& holder, SpaceCheck& check);

// The space available to the caller on the volume of an existing folder; 0 when unknown.
[[nodiscard]] ULONGLONG FreeSpaceOf(const std::wstring& folder) noexcept;

// The folder that holds folder; a drive root keeps its backslash ("C:\"), and a root or a bare
// name is its own parent.
[[nodiscard]] std::wstring ParentFolder(const std::wstring& folder);

// "1.5 GB", "300 MB", "12 KB": sizes for the user.
[[nodiscard]] std::wstring FormatBytes(ULONGLONG bytes);
