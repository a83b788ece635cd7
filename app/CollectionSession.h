#pragma once
// One collection from the base folder's check to the result file and the archive: the part that
// the dialog's worker and the unattended run share.
#include "CommandLine.h"
#include "RunRecord.h"
#include "RunRequest.h"
#include "StatusSink.h"
#include "VellocsDiag.h"

#include <string>

// Sets the holder's collectors from the request (the selection, Prepare), checks the base and the
// free space, claims the output folder (publishing it in VELLOCS_OUTDIR), runs the collectors
// with the status lines going to sink, and writes the result file and, when asked, the archive.
// The record is filled as the run goes, how it ended included. Raises StringLoadError before
// anything is created when a status text is missing.
void RunCollectionSession(CVellocsDiag& holder, const RunRequest& request, RunRecord& record, IStatusSink* sink);

// The program's exit code for a run that ended so.
[[nodiscard]] ExitCode ExitCodeOf(RunEnd end) noexcept;

// The closing summary for the console: the output folder, the outcome, the archive.
[[nodiscard]] std::wstring SessionSummary(const RunRecord& record);
