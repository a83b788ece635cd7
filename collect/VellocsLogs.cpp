#include "VellocsLogs.h"

#include "CollectorTrees.h"
#include "DiagnosticLog.h"
#include "FolderCreation.h"
#include "LayerEnvironment.h"
#include "PathBuilder.h"
#include "SystemDirectory.h"
#include "resource.h"

#include <string>

using namespace Tallis::ImageUpdate;

namespace {
constexpr const wchar_t* kLogUnit = L"CVellocsLogs";

// The first three characters of the system directory ("D:\"), or "C:\" when it is unknown.
std::wstring SystemDriveRoot()
{
    const std::wstring systemDirectory = SystemDirectory();
    if (systemDirectory.size() < 3)
        return L"C:\\";
    return systemDirectory.substr(0, 3);
}

} // namespace

CVellocsLogs::CVellocsLogs() : CVellocsDiagComponent(IDS_COLLECTING_LOGS) {}

void CVellocsLogs::VisitSources(const wchar_t* logsFolder, const wchar_t* markerVolumeRoot, INT32 layerMode,
                                ISourceVisitor& visitor)
{
    {
        PathBuilder destination(logsFolder, kDriverLogName, false);
        const std::wstring root = SystemDriveRoot();
        PathBuilder source(root.c_str(), kDriverLogName, false);
        visitor.File(L"driver log", source.GetPath(), destination.GetPath());
    }
    if (layerMode != 0) {
        std::wstring serviceFolder;
        GetProductDataFolder(serviceFolder, L"Halvrun");
        PathBuilder serviceLogs(serviceFolder.c_str(), L"LOGS", false);
        PathBuilder deliveryMode(logsFolder, kDeliveryModeFolder, false);
        visitor.Tree(serviceLogs.GetPath(), deliveryMode.GetPath());

        std::wstring dataFolder;
        GetProductDataFolder(dataFolder, L"Vellocs");
        ForEachVolumeFolder(dataFolder.c_str(), kLogUnit, [&](const wchar_t* volume) {
            PathBuilder source(dataFolder.c_str(), L"Volumes", volume, L"Logs", false);
            PathBuilder destination(logsFolder, kCreationModeFolder, volume, nullptr, false);
            visitor.Tree(source.GetPath(), destination.GetPath());
        });
    } else if (markerVolumeRoot) {
        PathBuilder source(markerVolumeRoot, L"HRNLOGS", false);
        PathBuilder destination(logsFolder, kCreationModeFolder, false);
        visitor.Tree(source.GetPath(), destination.GetPath());
    }
}

INT32 CVellocsLogs::Collect(const wchar_t* outputFolder, const wchar_t* markerVolumeRoot, INT32 layerMode)
{
    if (!outputFolder)
        return 0;

    PathBuilder logsFolder(outputFolder, kOutputFolderName, false);
    // Nothing of this run goes into a folder that it did not make.
    if (CreateOutputFolder(logsFolder.GetPath(), kLogUnit) == ERROR_ALREADY_EXISTS)
        return 1;
    CopyingVisitor copy(kLogUnit);
    VisitSources(logsFolder.GetPath(), markerVolumeRoot, layerMode, copy);
    return 1;
}

void CVellocsLogs::EstimateSize(const wchar_t* markerVolumeRoot, INT32 layerMode, TreeSize& size)
{
    MeasuringVisitor measure(size);
    VisitSources(kOutputFolderName, markerVolumeRoot, layerMode, measure);
}
