#pragma once
// What one collection run found: filled as the run goes (start-up and the session, the run over
// the collectors, the hooks of its RunScope), and written as it stands into the result file.
#include "MachineFacts.h"
#include "SpaceCheck.h"

#include <windows.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

// How a run ended; every exit code, box and outcome name follows from it.
enum class RunEnd {
    Succeeded,       // every selected collector ran, nothing failed
    ItemsMissed,     // every collector succeeded, but items could not be collected (error entries)
    CollectorFailed, // a collector failed (and later ones were skipped)
    OutputFailed,    // the base was refused, or the output folder, result file or archive could not be
                     // made, or the disk filled up
    NoSpace,         // the run would not fit; nothing was created
    NothingSelected, // no collector was both selected and available
    AnotherRun,      // another collection holds the lock
    Raised,          // the run raised an error (a missing string)
};

// "ok", "completed-with-errors" or "failed": the result file's outcome of a run that ended so.
[[nodiscard]] const wchar_t* OutcomeName(RunEnd end) noexcept;

struct CollectorRecord {
    enum class Outcome { NotSelected, Unavailable, Ok, Failed, Skipped };
    bool selected = false;
    bool available = false;
    Outcome outcome = Outcome::NotSelected;
    double seconds = 0;
    // What its folder in the output folder holds after the run.
    ULONGLONG files = 0;
    ULONGLONG bytes = 0;
};

// One error entry of the run's log.
struct RunErrorEntry {
    SYSTEMTIME utcTime{};
    std::wstring unit;
    std::wstring text;
};

// A file that did not arrive whole: copied only in part (truncated) or not at all.
struct FileShortfall {
    std::wstring source;
    std::wstring destination;
    DWORD error = 0;            // not collected: the copy's error
    ULONGLONG originalSize = 0; // truncated: the source's size
};

// A file copied from a source with more than one name (hard links).
struct HardLinkedFile {
    std::wstring destination;
    DWORD links = 0;
};

// One output that the OS log step should leave, as checked after its programs ended.
struct OsLogOutput {
    enum class Outcome { Ok, Missing, Empty, Unavailable };
    std::wstring name; // "setupapi-app", ..., "msinfo-nfo"
    std::wstring path; // relative to the output folder, as in the result file's file list
    Outcome outcome = Outcome::Ok;
    std::wstring reason;   // why it is missing, empty or unavailable
    ULONGLONG files = 0;   // what arrived
    ULONGLONG bytes = 0;
    std::wstring method;   // the event logs: "wmic" or "wevtutil"
    // The raw event logs: the source files and the names that did not arrive (files: those that did).
    ULONGLONG sourceFiles = 0;
    std::vector<std::wstring> missingNames;
};

struct RunRecord {
    // Found before the run's log starts (the language module, the lock, the elevation), and logged
    // first in it.
    std::vector<std::wstring> earlyWarnings;
    std::vector<std::wstring> earlyNotes; // the same for what is only worth an INFO entry
    std::wstring toolVersion, commandLine, uiLanguage;
    MachineFacts machine;
    std::wstring started, ended; // ISO 8601 UTC

    std::optional<SpaceCheck> space; // the free-space check, when the volume could be measured
    ULONGLONG freeAfter = 0;
    std::wstring outputFolder; // the folder claimed; empty when none could be made
    DWORD folderError = 0;     // the run could not use it: no collector was called

    std::array<CollectorRecord, 3> collectors{};
    // Every error entry logged during the run; errorCount goes on counting past the kept ones.
    std::vector<RunErrorEntry> errors;
    size_t errorCount = 0;
    static constexpr size_t kMaxKept = 10000;
    std::vector<FileShortfall> truncated;
    std::vector<FileShortfall> notCollected;
    std::vector<HardLinkedFile> hardLinked;
    bool diskFull = false;
    std::vector<OsLogOutput> osLogOutputs; // empty when the OS log step did not run

    std::wstring stopReason; // why the collection stopped early (a full disk)
    std::wstring problem;    // why the output could not be made, or the run not start
    std::wstring archive;    // the archive made, if any
    RunEnd end = RunEnd::Succeeded;

    [[nodiscard]] bool AnyCollectorFailed() const noexcept;
};
