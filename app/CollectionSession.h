#pragma once
// One collection from the claimed output folder to the result file and the archive: the part that
// the dialog's worker and the unattended run share.
#include "CommandLine.h"
#include "SpaceCheck.h"
#include "VellocsDiag.h"

#include <windows.h>

#include <string>
#include <vector>

struct SessionRequest {
    std::wstring outputFolder; // proposed; a name that exists already gets a suffix
    const wchar_t* markerVolumeRoot = nullptr;
    INT32 layerMode = 0;
    bool zip = false;
    std::vector<std::wstring> startWarnings; // logged first in the run's log
    std::optional<ULONGLONG> reserveBytes;   // free space to leave; unset: the volume's default
    ULONGLONG fileSizeCap = 0;               // 0: whole files
};

struct SessionOutcome {
    ExitCode exitCode = kExitOk;
    std::wstring outputFolder;   // the folder actually used; empty when none could be made
    std::wstring archive;        // the archive made, if any
    std::wstring problem;        // why the output could not be made (exit code 4)
    size_t itemErrors = 0;       // error entries of the run's log
    bool collectorFailed = false;
    // The run did not start: the estimate and the reserve do not fit in the free space.
    bool noSpace = false;
    bool spaceChecked = false;
    SpaceCheck space;
    ULONGLONG freeAfter = 0;
    std::wstring stopReason; // why the collection stopped early (a full disk)
    RunDetails details;
};

// Claims the output folder (publishing it in VELLOCS_OUTDIR), runs the selected collectors,
// writes the result file and, when asked, the archive beside the folder.
[[nodiscard]] SessionOutcome RunCollectionSession(CVellocsDiag& holder, const SessionRequest& request);

// "ok", "completed-with-errors" or "failed" for an exit code.
[[nodiscard]] const wchar_t* OutcomeName(ExitCode code) noexcept;

// The closing summary for the console: the output folder, the outcome, the archive.
[[nodiscard]] std::wstring SessionSummary(const SessionOutcome& outcome);
