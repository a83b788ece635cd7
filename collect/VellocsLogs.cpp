#include "VellocsLogs.h"

#include "CollectorTrees.h"
#include "DiagnosticLog.h"
#include "FolderCreation.h"
#include "LayerEnvironment.h"
#include "PathBuilder.h"
#include "resource.h"

#include <atomic>
#include <string>

using namespace Tallis::ImageUpdate;

namespace {
constexpr const wchar_t* kLogUnit = L"CVellocsLogs";

UINT RealSystemDirectory(wchar_t* buffer, UINT size)
{
    return GetSystemDirectoryW(buffer, size);
}

std::atomic<CVellocsLogs::SystemDirectoryFn> g_systemDirectory{nullptr};

// The first three characters of the system directory ("D:\"), or "C:\" when it is unknown.
std::wstring SystemDriveRoot()
{
    const CVellocsLogs::SystemDirectoryFn source = g_systemDirectory.load();
    wchar_t systemDirectory[MAX_PATH] = {};
    const UINT length = (source ? source : RealSystemDirectory)(systemDirectory, MAX_PATH);
    // A result of MAX_PATH or more is the size needed, and the buffer holds nothing usable.
    if (length == 0 || length >= MAX_PATH)
        return L"C:\\";
    systemDirectory[3] = L'\0';
    return systemDirectory;
}

void CollectDriverLog(const wchar_t* logsFolder)
{
    PathBuilder destination(logsFolder, CVellocsLogs::kDriverLogName, false);
    const std::wstring root = SystemDriveRoot();
    PathBuilder source(root.c_str(), CVellocsLogs::kDriverLogName, false);
    const wchar_t* from = source.GetLongPath();
    if (CopyFileW(from, destination.GetLongPath(), FALSE))
        return;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        KVO_LOG(LOG_WARN, kLogUnit, L"No driver log at %s", source.GetPath());
    else
        KVO_LOG(LOG_ERROR, kLogUnit, L"CopyFile %s ==> %s failed, Error:%d", source.GetPath(),
                destination.GetPath(), int(error));
}
} // namespace

CVellocsLogs::CVellocsLogs() : CVellocsDiagComponent(IDS_COLLECTING_LOGS) {}

void CVellocsLogs::SetSystemDirectoryForTest(SystemDirectoryFn source) noexcept
{
    g_systemDirectory.store(source);
}

INT32 CVellocsLogs::Collect(const wchar_t* outputFolder, const wchar_t* markerVolumeRoot, INT32 layerMode)
{
    if (!outputFolder)
        return 0;

    PathBuilder logsFolder(outputFolder, kOutputFolderName, false);
    (void)CreateFolderWithRetry(logsFolder.GetPath());
    CollectDriverLog(logsFolder.GetPath());

    if (layerMode != 0) {
        std::wstring serviceFolder;
        GetProductDataFolder(serviceFolder, L"Halvrun");
        PathBuilder serviceLogs(serviceFolder.c_str(), L"LOGS", false);
        PathBuilder deliveryMode(logsFolder.GetPath(), kDeliveryModeFolder, false);
        CollectTree(serviceLogs.GetPath(), deliveryMode.GetPath(), kLogUnit);

        std::wstring dataFolder;
        GetProductDataFolder(dataFolder, L"Vellocs");
        ForEachVolumeFolder(dataFolder.c_str(), kLogUnit, [&](const wchar_t* volume) {
            PathBuilder source(dataFolder.c_str(), L"Volumes", volume, L"Logs", false);
            PathBuilder destination(logsFolder.GetPath(), kCreationModeFolder, volume, nullptr, false);
            CollectTree(source.GetPath(), destination.GetPath(), kLogUnit);
        });
    } else if (markerVolumeRoot) {
        PathBuilder source(markerVolumeRoot, L"HRNLOGS", false);
        PathBuilder destination(logsFolder.GetPath(), kCreationModeFolder, false);
        CollectTree(source.GetPath(), destination.GetPath(), kLogUnit);
    }
    return 1;
}
