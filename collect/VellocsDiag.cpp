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

void MeasureOutput(const wchar_t* outputFolder, int index, CollectorRecord& collector)
{
    PathBuilder folder(outputFolder, CVellocsDiag::kOutputNames[index], false);
    TreeSize size;
    (void)MeasureFolderTree(folder.GetPath(), true, size);
    collector.files = size.files;
    collector.bytes = size.bytes;
}

// Calls one collector and keeps what it did; true when it succeeded.
bool RunCollector(CVellocsDiagComponent& component, int index, const wchar_t* outputFolder,
                  const wchar_t* markerVolumeRoot, INT32 layerMode, RunRecord& record)
{
    CollectorRecord& collector = record.collectors[size_t(index)];
    const auto started = std::chrono::steady_clock::now();
    const bool succeeded = component.Collect(outputFolder, markerVolumeRoot, layerMode) != 0;
    component.AddFindings(record);
    collector.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    collector.outcome = succeeded ? CollectorRecord::Outcome::Ok : CollectorRecord::Outcome::Failed;
    MeasureOutput(outputFolder, index, collector);
    KVO_LOG(LOG_INFO, kLogUnit, L"%s %s in %.1f s: %I64u files, %I64u bytes", CVellocsDiag::kOutputNames[index],
            succeeded ? L"succeeded" : L"failed", collector.seconds, collector.files, collector.bytes);
    return succeeded;
}

} // namespace

bool CVellocsDiag::GenerateReport(const wchar_t* outputFolder, const wchar_t* markerVolumeRoot, INT32 layerMode)
{
    RunRecord record;
    return GenerateReport(outputFolder, markerVolumeRoot, layerMode, record);
}

bool CVellocsDiag::GenerateReport(const wchar_t* outputFolder, const wchar_t* markerVolumeRoot, INT32 layerMode,
                                  RunRecord& record)
{
    const std::wstring prefix = LoadResourceString(IDS_STATUS_PREFIX);
    const std::wstring completion = LoadResourceString(IDS_REPORT_COMPLETE);

    for (size_t index = 0; index < m_components.size(); ++index) {
        CVellocsDiagComponent* component = m_components[index];
        record.collectors[index].selected = component && component->selected != 0;
        record.collectors[index].available = component && component->IsAvailable();
        if (component && !component->IsAvailable())
            record.collectors[index].outcome = CollectorRecord::Outcome::Unavailable;
    }

    // Without its folder a run could only report success over nothing: stop before any collector.
    record.folderError = EnsureOutputFolder(outputFolder);
    if (record.folderError != 0) {
        SetStatusText((prefix + completion).c_str());
        return false;
    }

    PathBuilder fullLog(outputFolder, kFullLogName, false);
    PathBuilder errorLog(outputFolder, kErrorLogName, false);
    InitializeLog(fullLog.GetPath(), errorLog.GetPath());
    for (const std::wstring& note : record.earlyNotes)
        KVO_LOG(LOG_INFO, kLogUnit, L"%s", note.c_str());
    for (const std::wstring& warning : record.earlyWarnings)
        KVO_LOG(LOG_WARN, kLogUnit, L"%s", warning.c_str());

    bool result = true;
    for (size_t index = 0; index < m_components.size(); ++index) {
        CVellocsDiagComponent* component = m_components[index];
        if (!component || !component->IsAvailable() || component->selected == 0)
            continue;
        CollectorRecord& collector = record.collectors[index];
        SetStatusText((prefix + component->GetName()).c_str());
        if (!result) {
            collector.outcome = CollectorRecord::Outcome::Skipped;
            continue;
        }
        result = RunCollector(*component, int(index), outputFolder, markerVolumeRoot, layerMode, record);
        if (DiskFullSeen()) {
            // Every later copy would fail the same way: what was copied stays, the rest is not tried.
            record.diskFull = true;
            result = false;
            KVO_LOG(LOG_ERROR, kLogUnit, L"The disk of %s is full: the collection stops here", outputFolder);
        }
    }
    SetStatusText((prefix + completion).c_str());
    return result;
}
