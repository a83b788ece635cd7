#include "VellocsDiag.h"

#include "DiagnosticLog.h"
#include "FileCopy.h"
#include "FileSystem.h"
#include "FolderCreation.h"
#include "PathBuilder.h"
#include "ResourceStrings.h"
#include "StatusSink.h"
#include "resource.h"

#include <chrono>
#include <mutex>

using namespace Tallis::ImageUpdate;

namespace {

constexpr const wchar_t* kLogUnit = L"CVellocsDiag";

// A folder that is there already (claimed by the caller) is used as it is: creating it again
// would log an error entry for a path of 248 characters or more.
DWORD EnsureOutputFolder(const wchar_t* outputFolder)
{
    if (!outputFolder || outputFolder[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    if (IsExistingFolder(outputFolder))
        return 0;
    const DWORD error = CreateFolderWithRetry(outputFolder);
    if (error == ERROR_ALREADY_EXISTS && IsExistingFolder(outputFolder))
        return 0;
    return error;
}

// Keeps the run's error entries while the run's log is the current log.
class ErrorEntryRecorder {
public:
    explicit ErrorEntryRecorder(RunDetails& details) noexcept : m_details(details)
    {
        SetErrorEntryObserver(&ErrorEntryRecorder::Observe, this);
    }
    ~ErrorEntryRecorder() { SetErrorEntryObserver(nullptr, nullptr); }
    ErrorEntryRecorder(const ErrorEntryRecorder&) = delete;
    ErrorEntryRecorder& operator=(const ErrorEntryRecorder&) = delete;

private:
    static void Observe(void* context, const SYSTEMTIME&, const wchar_t* unit, const wchar_t* text) noexcept
    {
        RunDetails& details = static_cast<ErrorEntryRecorder*>(context)->m_details;
        ++details.errorCount;
        if (details.errors.size() >= RunDetails::kMaxKeptErrors)
            return;
        try {
            RunErrorEntry entry;
            GetSystemTime(&entry.utcTime);
            entry.unit = unit ? unit : L"";
            entry.text = text ? text : L"";
            details.errors.push_back(std::move(entry));
        } catch (...) {
            // Out of memory: the entry is still counted and stays in the errors log.
        }
    }
    RunDetails& m_details;
};

// Keeps what the run's copies could not deliver whole, for the result file.
class CopyRecorder {
public:
    explicit CopyRecorder(RunDetails& details) noexcept : m_details(details)
    {
        ClearDiskFull();
        SetCopyPolicy({details.fileSizeCap, &CopyRecorder::Observe, this});
    }
    ~CopyRecorder() { SetCopyPolicy({}); }
    CopyRecorder(const CopyRecorder&) = delete;
    CopyRecorder& operator=(const CopyRecorder&) = delete;

private:
    static void Observe(void* context, const CopyEvent& event) noexcept
    {
        auto* recorder = static_cast<CopyRecorder*>(context);
        try {
            FileShortfall shortfall{event.source, event.destination, event.error, event.originalSize};
            std::lock_guard<std::mutex> lock(recorder->m_lock);
            auto& list = event.kind == CopyEvent::Kind::Truncated ? recorder->m_details.truncated
                                                                  : recorder->m_details.notCollected;
            if (list.size() < RunDetails::kMaxKeptErrors)
                list.push_back(std::move(shortfall));
        } catch (...) {
            // Out of memory: the failure is still in the errors log.
        }
    }
    RunDetails& m_details;
    std::mutex m_lock;
};

void MeasureOutput(const wchar_t* outputFolder, int index, CollectorRun& run)
{
    PathBuilder folder(outputFolder, CVellocsDiag::kOutputNames[index], false);
    TreeSize size;
    (void)MeasureFolderTree(folder.GetPath(), true, size);
    run.files = size.files;
    run.bytes = size.bytes;
}

} // namespace

bool RunDetails::AnyCollectorFailed() const noexcept
{
    for (const CollectorRun& run : collectors) {
        if (run.outcome == CollectorRun::Outcome::Failed || run.outcome == CollectorRun::Outcome::Skipped)
            return true;
    }
    return false;
}

bool CVellocsDiag::GenerateReport(const wchar_t* outputFolder, const wchar_t* markerVolumeRoot, INT32 layerMode)
{
    RunDetails details;
    return GenerateReport(outputFolder, markerVolumeRoot, layerMode, details);
}

bool CVellocsDiag::GenerateReport(const wchar_t* outputFolder, const wchar_t* markerVolumeRoot, INT32 layerMode,
                                  RunDetails& details)
{
    const std::wstring prefix = LoadResourceString(IDS_STATUS_PREFIX);
    const std::wstring completion = LoadResourceString(IDS_REPORT_COMPLETE);

    for (size_t index = 0; index < m_components.size(); ++index) {
        CVellocsDiagComponent* component = m_components[index];
        if (component && !component->IsAvailable())
            details.collectors[index].outcome = CollectorRun::Outcome::Unavailable;
    }

    // Without its folder a run could only report success over nothing: stop before any collector.
    details.folderError = EnsureOutputFolder(outputFolder);
    if (details.folderError != 0) {
        SetStatusText((prefix + completion).c_str());
        return false;
    }

    ErrorEntryRecorder recorder(details);
    CopyRecorder copies(details);
    PathBuilder fullLog(outputFolder, kFullLogName, false);
    PathBuilder errorLog(outputFolder, kErrorLogName, false);
    InitializeLog(fullLog.GetPath(), errorLog.GetPath());
    for (const std::wstring& warning : details.startWarnings)
        KVO_LOG(LOG_WARN, kLogUnit, L"%s", warning.c_str());

    bool result = true;
    for (size_t index = 0; index < m_components.size(); ++index) {
        CVellocsDiagComponent* component = m_components[index];
        if (!component || !component->IsAvailable() || component->selected == 0)
            continue;
        CollectorRun& run = details.collectors[index];
        SetStatusText((prefix + component->GetName()).c_str());
        if (!result) {
            run.outcome = CollectorRun::Outcome::Skipped;
            continue;
        }
        const auto started = std::chrono::steady_clock::now();
        result = component->Collect(outputFolder, markerVolumeRoot, layerMode) != 0;
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        run.outcome = result ? CollectorRun::Outcome::Ok : CollectorRun::Outcome::Failed;
        MeasureOutput(outputFolder, int(index), run);
        KVO_LOG(LOG_INFO, kLogUnit, L"%s %s in %.1f s: %I64u files, %I64u bytes", kOutputNames[index],
                result ? L"succeeded" : L"failed", run.seconds, run.files, run.bytes);
        if (DiskFullSeen()) {
            // Every later copy would fail the same way: what was copied stays, the rest is not tried.
            details.diskFull = true;
            result = false;
            KVO_LOG(LOG_ERROR, kLogUnit, L"The disk of %s is full: the collection stops here", outputFolder);
        }
    }
    SetStatusText((prefix + completion).c_str());
    return result;
}
