#include "VellocsDiag.h"

#include "DiagnosticLog.h"
#include "FolderCreation.h"
#include "PathBuilder.h"
#include "ResourceStrings.h"
#include "StatusSink.h"
#include "resource.h"

using namespace Tallis::ImageUpdate;

bool CVellocsDiag::GenerateReport(const wchar_t* outputFolder, const wchar_t* markerVolumeRoot, INT32 layerMode)
{
    const std::wstring prefix = LoadResourceString(IDS_STATUS_PREFIX);
    const std::wstring completion = LoadResourceString(IDS_REPORT_COMPLETE);

    (void)CreateFolderWithRetry(outputFolder);
    if (outputFolder) {
        PathBuilder fullLog(outputFolder, kFullLogName, false);
        PathBuilder errorLog(outputFolder, kErrorLogName, false);
        InitializeLog(fullLog.GetPath(), errorLog.GetPath());
    }

    bool result = true;
    for (CVellocsDiagComponent* component : m_components) {
        if (!component || !component->IsAvailable() || component->selected == 0)
            continue;
        SetStatusText((prefix + component->GetName()).c_str());
        if (result)
            result = component->Collect(outputFolder, markerVolumeRoot, layerMode) != 0;
    }
    SetStatusText((prefix + completion).c_str());
    return result;
}
