#include "VellocsDiagTool.h"

#include "CollectionLock.h"
#include "CollectionSession.h"
#include "ConsoleOutput.h"
#include "LayerEnvironment.h"
#include "OutputFolder.h"
#include "ResourceManager.h"
#include "ResourceStrings.h"
#include "StatusSink.h"
#include "VellocsDiag.h"
#include "VellocsDiagDlg.h"
#include "VellocsLogs.h"
#include "VellocsMetadata.h"
#include "WindowsOSLogs.h"
#include "resource.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <memory>
#include <vector>

static_assert(CWinApplication::kExitFatal == kExitInternalError);

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

// A relative /out is taken from the current directory; the result may be longer than MAX_PATH.
std::wstring FullPath(const std::wstring& path)
{
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return path;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed)
        return path;
    full.resize(length);
    return full;
}

// The arguments after the program's name.
std::vector<std::wstring> ProgramArguments()
{
    int count = 0;
    std::unique_ptr<LPWSTR, decltype(&LocalFree)> arguments(CommandLineToArgvW(GetCommandLineW(), &count),
                                                             &LocalFree);
    std::vector<std::wstring> result;
    if (!arguments)
        return result;
    for (int index = 1; index < count; ++index)
        result.emplace_back(arguments.get()[index]);
    return result;
}

class ConsoleStatusSink : public IStatusSink {
public:
    void SetStatusText(const wchar_t* text) override { CConsoleOutput::Get().WriteLine(text); }
};

} // namespace

void CVellocsDiagTool::Tell(const std::wstring& text, UINT boxFlags) const
{
    CConsoleOutput& console = CConsoleOutput::Get();
    if (console.IsOpen())
        console.WriteLine(text);
    else if (!m_options.quiet)
        AppMessageBox(text.c_str(), boxFlags);
}

bool CVellocsDiagTool::InitInstance()
{
    CConsoleOutput::Get().Open();

    const std::vector<std::wstring> arguments = ProgramArguments();
    std::vector<const wchar_t*> argv;
    for (const std::wstring& argument : arguments)
        argv.push_back(argument.c_str());
    std::wstring usageError;
    if (!ParseCommandLine(int(argv.size()), argv.data(), m_options, usageError)) {
        Tell(L"KvoVellocsDiag: " + usageError + L"\r\nKvoVellocsDiag /? lists the switches.", MB_ICONERROR);
        SetExitCode(kExitUsage);
        return false;
    }
    if (m_options.help) {
        Tell(UsageText(), MB_ICONINFORMATION);
        return false;
    }
    // Read now, so that what runs later is what was read and hashed, and a bad file creates nothing.
    CWindowsOSLogs::Script script;
    if (!m_options.scriptPath.empty()) {
        if (const DWORD error = CWindowsOSLogs::ReadScript(m_options.scriptPath, script)) {
            Tell(L"KvoVellocsDiag: /script: \"" + m_options.scriptPath + L"\" cannot be used as a script (Error:" +
                     std::to_wstring(error) + L")\r\nKvoVellocsDiag /? lists the switches.",
                 MB_ICONERROR);
            SetExitCode(kExitUsage);
            return false;
        }
    }

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
        Tell(kRefusalText, 0);
        SetExitCode(kExitNotLayered);
        return false;
    }
    // With a marker volume the collectors read from it, whatever the driver reports.
    const INT32 layerMode = markerVolumeRoot ? 0 : INT32(mode);

    CWindowsOSLogs::SetScriptTimeout(m_options.timeoutMinutes * 60 * 1000);
    const std::wstring baseFolder = m_options.outBase.empty() ? DefaultBaseFolder() : FullPath(m_options.outBase);
    const std::wstring outputFolder = MakeOutputFolder(baseFolder.c_str(), CurrentTimeSeconds());
    SetEnvironmentVariableW(kOutputFolderVariable, outputFolder.c_str());

    CVellocsDiag holder;
    auto productLogs = std::make_unique<CVellocsLogs>();
    auto osLogs = std::make_unique<CWindowsOSLogs>();
    auto metadata = std::make_unique<CVellocsMetadata>();
    holder.SetComponent(CVellocsDiag::kProductLogs, productLogs.get());
    holder.SetComponent(CVellocsDiag::kOsLogs, osLogs.get());
    holder.SetComponent(CVellocsDiag::kMetadata, metadata.get());
    productLogs->selected = m_options.collect[CVellocsDiag::kProductLogs] ? 1 : 0;
    osLogs->selected = m_options.collect[CVellocsDiag::kOsLogs] ? 1 : 0;
    metadata->selected = m_options.collect[CVellocsDiag::kMetadata] ? 1 : 0;
    osLogs->UseScript(std::move(script));

    if (m_options.quiet) {
        SetExitCode(RunQuiet(holder, markerVolumeRoot, layerMode, outputFolder, resources.GetWarnings()));
        return false;
    }

    CVellocsDiagDlg dialog(holder);
    dialog.m_outputFolder = outputFolder;
    dialog.m_markerVolumeRoot = markerVolumeRoot;
    dialog.m_layerMode = layerMode;
    dialog.m_zip = m_options.zip;
    if (m_options.reserveGiven)
        dialog.m_reserveBytes = ULONGLONG(m_options.reserveMB) * kMegabyte;
    dialog.m_fileSizeCap = ULONGLONG(m_options.maxFileMB) * kMegabyte;
    dialog.m_startWarnings = resources.GetWarnings();
    if (dialog.DoModal() == -1) {
        // A language module without dialog 135 would otherwise end the program without a word.
        const DWORD error = GetLastError();
        wchar_t text[128] = {};
        _snwprintf(text, 127, L"The main dialog could not be shown (error %lu).", error);
        AppMessageBox(text, MB_ICONERROR);
        SetExitCode(kExitInternalError);
        return false;
    }
    if (const SessionOutcome* outcome = dialog.GetSessionOutcome()) {
        CConsoleOutput::Get().WriteLine(SessionSummary(*outcome));
        SetExitCode(outcome->exitCode);
    } else if (dialog.AnotherRunWasUnderWay()) {
        SetExitCode(kExitAlreadyRunning);
    }
    return false;
}

void CVellocsDiagTool::ApplySpaceOptions(SessionRequest& request) const
{
    if (m_options.reserveGiven)
        request.reserveBytes = ULONGLONG(m_options.reserveMB) * kMegabyte;
    request.fileSizeCap = ULONGLONG(m_options.maxFileMB) * kMegabyte;
}

int CVellocsDiagTool::RunQuiet(CVellocsDiag& holder, const wchar_t* markerVolumeRoot, INT32 layerMode,
                               const std::wstring& outputFolder, const std::vector<std::wstring>& startWarnings)
{
    CCollectionLock lock;
    std::wstring lockWarning;
    if (lock.Acquire(lockWarning) == CCollectionLock::Result::Busy) {
        CConsoleOutput::Get().WriteLine(Tallis::ImageUpdate::LoadResourceString(IDS_ANOTHER_RUN));
        return kExitAlreadyRunning;
    }
    SessionRequest request;
    request.outputFolder = outputFolder;
    request.markerVolumeRoot = markerVolumeRoot;
    request.layerMode = layerMode;
    request.zip = m_options.zip;
    ApplySpaceOptions(request);
    request.startWarnings = startWarnings;
    if (!lockWarning.empty())
        request.startWarnings.push_back(lockWarning);

    ConsoleStatusSink sink;
    RegisterStatusSink(&sink);
    SessionOutcome outcome;
    try {
        outcome = RunCollectionSession(holder, request);
    } catch (...) {
        RegisterStatusSink(nullptr);
        throw;
    }
    RegisterStatusSink(nullptr);
    CConsoleOutput::Get().WriteLine(SessionSummary(outcome));
    return outcome.exitCode;
}
