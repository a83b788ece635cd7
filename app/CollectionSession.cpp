#include "CollectionSession.h"

#include "BaseFolder.h"
#include "CollectTestSeams.h"
#include "OutputFolder.h"
#include "ResourceManager.h"
#include "ResourceStrings.h"
#include "ResultFile.h"
#include "RunScope.h"
#include "SpaceCheck.h"
#include "ZipArchive.h"
#include "resource.h"

#include <cwchar>

namespace {

constexpr const wchar_t* kNotElevatedWarning =
    L"The tool runs without elevation: event logs and other protected files may be missing";

std::wstring UtcNow()
{
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return FormatUtcIso8601(now);
}

std::wstring NoSpaceText(const SpaceCheck& space)
{
    const std::wstring format = Tallis::ImageUpdate::LoadResourceString(IDS_NOT_ENOUGH_SPACE);
    const std::wstring needed = FormatBytes(space.estimate + space.reserve);
    const std::wstring estimate = FormatBytes(space.estimate);
    const std::wstring reserve = FormatBytes(space.reserve);
    const std::wstring free = FormatBytes(space.freeBefore);
    wchar_t text[1024] = {};
    _snwprintf(text, 1023, format.c_str(), space.volume.c_str(), needed.c_str(), estimate.c_str(), reserve.c_str(),
               free.c_str());
    // The largest files, so the administrator can choose /maxfile or another volume.
    std::wstring result = text;
    for (const auto& file : space.largestFiles)
        result += L"\r\n" + FormatBytes(file.bytes) + L"  " + file.path;
    return result;
}

std::wstring ErrorText(const wchar_t* what, const std::wstring& path, DWORD error)
{
    wchar_t code[32] = {};
    _snwprintf(code, 31, L" (Error:%lu)", error);
    return std::wstring(what) + L" " + path + code;
}

std::wstring UiLanguage()
{
    std::wstring locale;
    if (CResourceManager::GetUILocaleName(locale))
        return locale;
    return CResourceManager::GetUILanguageName();
}

// The holder's collectors do what the request asks; false when none is both selected and available.
bool ApplyRequest(CVellocsDiag& holder, const RunRequest& request)
{
    int offered = 0;
    for (int index = 0; index < CVellocsDiag::kComponentCount; ++index) {
        CVellocsDiagComponent* component = holder.GetComponent(index);
        if (!component)
            continue;
        component->selected = request.collect[size_t(index)] ? 1 : 0;
        component->Prepare(request);
        if (component->selected && component->IsAvailable())
            ++offered;
    }
    return offered > 0;
}

void Fail(RunRecord& record, RunEnd end, std::wstring problem)
{
    record.end = end;
    record.problem = std::move(problem);
}

// The base is checked, the run must fit, and the output folder is claimed through the base's one
// handle; nothing is created before the claim. False when the run cannot go on (record.end tells why).
bool PrepareOutput(CVellocsDiag& holder, const RunRequest& request, RunRecord& record, ClaimedFolder& claimed)
{
    // A base folder that could be swapped under the run is refused before anything is made.
    BaseFolder base(record.machine.elevated);
    std::wstring problem;
    if (base.Check(request.baseFolder, problem) != 0) {
        Fail(record, RunEnd::OutputFailed, problem);
        return false;
    }
    SpaceCheck space;
    if (const DWORD error = CheckSpace(request, holder, space)) {
        record.earlyWarnings.push_back(
            ErrorText(L"The free space could not be measured for", MakeOutputFolder(request), error));
    } else {
        record.space = space;
        if (!space.Fits()) {
            Fail(record, RunEnd::NoSpace, NoSpaceText(space));
            return false;
        }
    }
    if (const DWORD error = base.Claim(request, claimed, problem)) {
        Fail(record, RunEnd::OutputFailed,
             problem.empty() ? ErrorText(L"The output folder could not be created:", MakeOutputFolder(request), error)
                             : problem);
        return false;
    }
    record.outputFolder = claimed.path;
    PublishOutputFolder(record.outputFolder);
    return true;
}

// Runs the collectors with the run's hooks in place, and says how that ended.
void Collect(CVellocsDiag& holder, const RunRequest& request, RunRecord& record, IStatusSink* sink)
{
    if (!record.machine.elevated)
        record.earlyWarnings.push_back(kNotElevatedWarning);
    bool succeeded = false;
    {
        RunScope scope(request, record, sink);
        succeeded =
            holder.GenerateReport(record.outputFolder.c_str(), request.MarkerVolume(), request.layerMode, record);
    }
    if (record.folderError != 0) {
        Fail(record, RunEnd::OutputFailed,
             ErrorText(L"The output folder could not be created:", record.outputFolder, record.folderError));
        return;
    }
    record.end = succeeded && record.errorCount == 0 ? RunEnd::Succeeded
                 : record.AnyCollectorFailed()       ? RunEnd::CollectorFailed
                                                     : RunEnd::ItemsMissed;
    record.freeAfter = FreeSpaceOf(record.outputFolder);
    if (record.diskFull) {
        record.stopReason = L"The disk of the output folder is full: the collection stopped at the first copy that "
                            L"failed for it, and what was copied before stays";
        Fail(record, RunEnd::OutputFailed, record.stopReason);
    }
}

void WriteOutputs(const RunRequest& request, RunRecord& record)
{
    record.ended = UtcNow();
    if (const DWORD error = WriteResultFile(request, record)) {
        Fail(record, RunEnd::OutputFailed,
             ErrorText(L"The result file could not be written in", record.outputFolder, error));
        return;
    }
    if (!request.zip)
        return;
    const std::wstring archive = record.outputFolder + L".zip";
    ZipArchiveReport report;
    const DWORD error = CreateZipArchive(record.outputFolder.c_str(), archive.c_str(), report);
    if (report.archiveWritten)
        record.archive = archive;
    if (error != 0) {
        Fail(record, RunEnd::OutputFailed,
             ErrorText(report.archiveWritten ? L"The archive lacks files it could not read:"
                                             : L"The archive could not be made:",
                       archive, error));
    }
}

} // namespace

ExitCode ExitCodeOf(RunEnd end) noexcept
{
    switch (end) {
    case RunEnd::Succeeded:
    case RunEnd::NothingSelected: return kExitOk;
    case RunEnd::ItemsMissed:
    case RunEnd::CollectorFailed: return kExitCompletedWithErrors;
    case RunEnd::OutputFailed:
    case RunEnd::NoSpace: return kExitOutputFailed;
    case RunEnd::AnotherRun: return kExitAlreadyRunning;
    case RunEnd::Raised: break;
    }
    return kExitInternalError;
}

void RunCollectionSession(CVellocsDiag& holder, const RunRequest& request, RunRecord& record, IStatusSink* sink)
{
    // The run's status texts must load before anything is created: a language module without them
    // ends the program with nothing left behind.
    (void)Tallis::ImageUpdate::LoadResourceString(IDS_STATUS_PREFIX);
    (void)Tallis::ImageUpdate::LoadResourceString(IDS_REPORT_COMPLETE);
    if (!ApplyRequest(holder, request)) {
        record.end = RunEnd::NothingSelected;
        return;
    }
    record.started = UtcNow();
    record.machine = ReadMachineFacts();
    record.toolVersion = ReadToolVersion();
    record.commandLine = GetCommandLineW();
    record.uiLanguage = UiLanguage();
    ClaimedFolder claimed;
    if (!PrepareOutput(holder, request, record, claimed))
        return;
    Collect(holder, request, record, sink);
    if (record.folderError != 0)
        return;
    WriteOutputs(request, record);
}

std::wstring SessionSummary(const RunRecord& record)
{
    std::wstring text;
    if (!record.outputFolder.empty())
        text += L"Output folder: " + record.outputFolder + L"\r\n";
    const ExitCode exitCode = ExitCodeOf(record.end);
    text += L"Outcome: " + std::wstring(OutcomeName(record.end));
    if (record.AnyCollectorFailed())
        text += L"; a collector failed";
    if (record.errorCount > 0)
        text += L"; " + std::to_wstring(record.errorCount) + L" error entries, see " + CVellocsDiag::kErrorLogName;
    text += L" (exit code " + std::to_wstring(int(exitCode)) + L")";
    if (!record.problem.empty())
        text += L"\r\n" + record.problem;
    if (!record.archive.empty())
        text += L"\r\nArchive: " + record.archive;
    return text;
}
