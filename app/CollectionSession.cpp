#include "CollectionSession.h"

#include "OutputFolder.h"
#include "ResourceManager.h"
#include "ResourceStrings.h"
#include "ResultFile.h"
#include "WinApplication.h"
#include "WindowsOSLogs.h"
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
    return text;
}

std::wstring ErrorText(const wchar_t* what, const std::wstring& path, DWORD error)
{
    wchar_t code[32] = {};
    _snwprintf(code, 31, L" (Error:%lu)", error);
    return std::wstring(what) + L" " + path + code;
}

const wchar_t* CollectorOutcomeName(CollectorRun::Outcome outcome) noexcept
{
    switch (outcome) {
    case CollectorRun::Outcome::Ok: return L"ok";
    case CollectorRun::Outcome::Failed: return L"failed";
    case CollectorRun::Outcome::Skipped: return L"skipped";
    case CollectorRun::Outcome::Unavailable: return L"unavailable";
    case CollectorRun::Outcome::NotSelected: break;
    }
    return L"not-selected";
}

std::wstring UiLanguage()
{
    std::wstring locale;
    if (CResourceManager::GetUILocaleName(locale))
        return locale;
    return CResourceManager::GetUILanguageName();
}

RunResult DescribeRun(CVellocsDiag& holder, const SessionRequest& request, const SessionOutcome& outcome,
                      const MachineFacts& machine, const std::wstring& started)
{
    RunResult result;
    result.toolName = L"KvoVellocsDiag";
    result.toolVersion = ReadToolVersion();
    result.commandLine = GetCommandLineW();
    result.machine = machine;
    result.layerMode = request.layerMode;
    result.markerVolume = request.markerVolumeRoot ? request.markerVolumeRoot : L"";
    result.started = started;
    result.ended = UtcNow();
    result.outputFolder = outcome.outputFolder;
    result.uiLanguage = UiLanguage();
    result.outcome = OutcomeName(outcome.exitCode);
    for (int index = 0; index < CVellocsDiag::kComponentCount; ++index) {
        const CollectorRun& run = outcome.details.collectors[size_t(index)];
        CVellocsDiagComponent* component = holder.GetComponent(index);
        CollectorResult collector;
        collector.name = CVellocsDiag::kOutputNames[index];
        collector.selected = component && component->selected != 0;
        collector.available = component && component->IsAvailable();
        collector.outcome = CollectorOutcomeName(run.outcome);
        collector.seconds = run.seconds;
        collector.files = run.files;
        collector.bytes = run.bytes;
        const auto* osLogs = dynamic_cast<const CWindowsOSLogs*>(component);
        if (osLogs && (run.outcome == CollectorRun::Outcome::Ok || run.outcome == CollectorRun::Outcome::Failed)) {
            collector.hasScript = true;
            collector.scriptPath = osLogs->GetScript().sourcePath;
            collector.scriptSha256 = osLogs->GetScript().sha256;
        }
        result.collectors.push_back(std::move(collector));
    }
    for (const RunErrorEntry& entry : outcome.details.errors)
        result.errors.push_back({FormatUtcIso8601(entry.utcTime), entry.unit, entry.text});
    result.stopReason = outcome.stopReason;
    if (outcome.spaceChecked) {
        result.hasSpace = true;
        result.space = {outcome.space.volume, outcome.space.freeBefore, outcome.space.estimate, outcome.space.reserve,
                        outcome.freeAfter};
    }
    for (const FileShortfall& file : outcome.details.notCollected)
        result.notCollected.push_back({file.source, file.destination, file.error});
    const std::wstring prefix = outcome.outputFolder + L"\\";
    for (const FileShortfall& file : outcome.details.truncated) {
        if (file.destination.size() > prefix.size() &&
            CompareStringOrdinal(file.destination.c_str(), int(prefix.size()), prefix.c_str(), int(prefix.size()),
                                 TRUE) == CSTR_EQUAL)
            result.truncated.emplace_back(file.destination.substr(prefix.size()), file.originalSize);
    }
    return result;
}

} // namespace

const wchar_t* OutcomeName(ExitCode code) noexcept
{
    switch (code) {
    case kExitOk: return L"ok";
    case kExitCompletedWithErrors: return L"completed-with-errors";
    default: return L"failed";
    }
}

SessionOutcome RunCollectionSession(CVellocsDiag& holder, const SessionRequest& request)
{
    // The run's status texts must load before anything is created: a language module without them
    // ends the program with nothing left behind.
    (void)Tallis::ImageUpdate::LoadResourceString(IDS_STATUS_PREFIX);
    (void)Tallis::ImageUpdate::LoadResourceString(IDS_REPORT_COMPLETE);

    SessionOutcome outcome;
    const std::wstring started = UtcNow();
    const MachineFacts machine = ReadMachineFacts();

    // A base folder that could be swapped under the run is refused before anything is made.
    if (CheckBaseFolder(ParentFolder(request.outputFolder), machine.elevated, outcome.problem) != 0) {
        outcome.exitCode = kExitOutputFailed;
        return outcome;
    }

    // Nothing is created on a volume that the run would fill.
    std::vector<std::wstring> warnings = request.startWarnings;
    const DWORD spaceError = CheckSpace(ParentFolder(request.outputFolder), holder, request.markerVolumeRoot,
                                        request.layerMode, request.reserveBytes, outcome.space);
    if (spaceError == 0) {
        outcome.spaceChecked = true;
        if (!outcome.space.Fits()) {
            outcome.exitCode = kExitOutputFailed;
            outcome.noSpace = true;
            outcome.problem = NoSpaceText(outcome.space);
            return outcome;
        }
    } else {
        warnings.push_back(ErrorText(L"The free space could not be measured for", request.outputFolder, spaceError));
    }

    std::wstring folder = request.outputFolder;
    if (const DWORD error = ClaimOutputFolder(folder)) {
        outcome.exitCode = kExitOutputFailed;
        outcome.problem = ErrorText(L"The output folder could not be created:", request.outputFolder, error);
        return outcome;
    }
    outcome.outputFolder = folder;
    SetEnvironmentVariableW(kOutputFolderVariable, folder.c_str());

    outcome.details.startWarnings = warnings;
    outcome.details.fileSizeCap = request.fileSizeCap;
    if (!machine.elevated)
        outcome.details.startWarnings.push_back(kNotElevatedWarning);
    const bool succeeded = holder.GenerateReport(folder.c_str(), request.markerVolumeRoot, request.layerMode,
                                                 outcome.details);
    outcome.itemErrors = outcome.details.errorCount;
    outcome.collectorFailed = outcome.details.AnyCollectorFailed();
    if (outcome.details.folderError != 0) {
        outcome.exitCode = kExitOutputFailed;
        outcome.problem = ErrorText(L"The output folder could not be created:", folder, outcome.details.folderError);
        return outcome;
    }
    outcome.exitCode = succeeded && outcome.itemErrors == 0 ? kExitOk : kExitCompletedWithErrors;
    outcome.freeAfter = FreeSpaceOf(folder);
    if (outcome.details.diskFull) {
        outcome.exitCode = kExitOutputFailed;
        outcome.stopReason = L"The disk of the output folder is full: the collection stopped at the first copy that "
                             L"failed for it, and what was copied before stays";
        outcome.problem = outcome.stopReason;
    }

    const RunResult result = DescribeRun(holder, request, outcome, machine, started);
    if (const DWORD error = WriteResultFile(result, folder.c_str())) {
        outcome.exitCode = kExitOutputFailed;
        outcome.problem = ErrorText(L"The result file could not be written in", folder, error);
        return outcome;
    }
    if (request.zip) {
        const std::wstring archive = folder + L".zip";
        ZipArchiveReport report;
        const DWORD error = CreateZipArchive(folder.c_str(), archive.c_str(), report);
        if (report.archiveWritten)
            outcome.archive = archive;
        if (error != 0) {
            outcome.exitCode = kExitOutputFailed;
            outcome.problem = ErrorText(report.archiveWritten ? L"The archive lacks files it could not read:"
                                                              : L"The archive could not be made:",
                                        archive, error);
            return outcome;
        }
    }
    return outcome;
}

std::wstring SessionSummary(const SessionOutcome& outcome)
{
    std::wstring text;
    if (!outcome.outputFolder.empty())
        text += L"Output folder: " + outcome.outputFolder + L"\r\n";
    text += L"Outcome: " + std::wstring(OutcomeName(outcome.exitCode));
    if (outcome.collectorFailed)
        text += L"; a collector failed";
    if (outcome.itemErrors > 0)
        text += L"; " + std::to_wstring(outcome.itemErrors) + L" error entries, see " +
                CVellocsDiag::kErrorLogName;
    text += L" (exit code " + std::to_wstring(int(outcome.exitCode)) + L")";
    if (!outcome.problem.empty())
        text += L"\r\n" + outcome.problem;
    if (!outcome.archive.empty())
        text += L"\r\nArchive: " + outcome.archive;
    return text;
}
