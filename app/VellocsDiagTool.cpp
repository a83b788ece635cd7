#include "VellocsDiagTool.h"

#include "LayerEnvironment.h"
#include "OutputFolder.h"
#include "ResourceManager.h"
#include "VellocsDiag.h"
#include "VellocsDiagDlg.h"
#include "VellocsLogs.h"
#include "VellocsMetadata.h"
#include "WindowsOSLogs.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <memory>

namespace {

// The folder browser's new style needs a single-threaded apartment on the GUI thread.
class ComApartment {
public:
    ComApartment() noexcept : m_initialized(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment()
    {
        if (m_initialized)
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool m_initialized;
};

std::wstring DefaultBaseFolder()
{
    wchar_t desktop[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop) >= 0)
        return desktop;
    std::wstring productFolder;
    GetProductDataFolder(productFolder, L"Vellocs");
    return productFolder;
}

} // namespace

bool CVellocsDiagTool::InitInstance()
{
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = 0xFF;
    InitCommonControlsEx(&controls);

    CResourceManager resources(GetModuleHandleW(nullptr));
    resources.LoadLanguageModule();
    ComApartment apartment;

    DWORD mode = 0;
    (void)ReadLayerVirtualizationMode(mode);
    std::wstring markerVolume;
    const wchar_t* markerVolumeRoot = FindMarkerVolume(markerVolume);
    if (mode == 0 && !markerVolumeRoot) {
        AppMessageBox(kRefusalText);
        return false;
    }
    // With a marker volume the collectors read from it, whatever the driver reports.
    const INT32 layerMode = markerVolumeRoot ? 0 : INT32(mode);

    const std::wstring baseFolder = DefaultBaseFolder();
    const std::wstring outputFolder = MakeOutputFolder(baseFolder.c_str(), CurrentTimeSeconds());
    SetEnvironmentVariableW(kOutputFolderVariable, outputFolder.c_str());

    CVellocsDiag holder;
    auto productLogs = std::make_unique<CVellocsLogs>();
    auto osLogs = std::make_unique<CWindowsOSLogs>();
    auto metadata = std::make_unique<CVellocsMetadata>();
    holder.SetComponent(CVellocsDiag::kProductLogs, productLogs.get());
    holder.SetComponent(CVellocsDiag::kOsLogs, osLogs.get());
    holder.SetComponent(CVellocsDiag::kMetadata, metadata.get());
    productLogs->selected = 1;
    osLogs->selected = 1;
    metadata->selected = 1;

    CVellocsDiagDlg dialog(holder);
    dialog.m_outputFolder = outputFolder;
    dialog.m_markerVolumeRoot = markerVolumeRoot;
    dialog.m_layerMode = layerMode;
    if (dialog.DoModal() == -1) {
        // A language module without dialog 135 would otherwise end the program without a word.
        const DWORD error = GetLastError();
        wchar_t text[128] = {};
        _snwprintf(text, 127, L"The main dialog could not be shown (error %lu).", error);
        AppMessageBox(text, MB_ICONERROR);
    }
    return false;
}
