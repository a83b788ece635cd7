#include "VellocsDiagTool.h"

#include "CollectionLock.h"
#include "CollectionSession.h"
#include "ConsoleOutput.h"
#include "FileSystem.h"
#include "LayerEnvironment.h"
#include "MachineFacts.h"
#include "OutputFolder.h"
#include "OutputTree.h"
#include "ProcessMitigation.h"
#include "ResourceManager.h"
#include "ResourceStrings.h"
#include "SpaceCheck.h"
#include "UniqueHandles.h"
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

// The three collectors and their holder, created in start-up's order and placed by index. The
// session selects them from the request when the run starts.
struct Collectors {
    CVellocsDiag holder;
    std::unique_ptr<CVellocsLogs> productLogs = std::make_unique<CVellocsLogs>();
    std::unique_ptr<CWindowsOSLogs> osLogs = std::make_unique<CWindowsOSLogs>();
    std::unique_ptr<CVellocsMetadata> metadata = std::make_unique<CVellocsMetadata>();

    Collectors()
    {
        holder.SetComponent(CVellocsDiag::kProductLogs, productLogs.get());
        holder.SetComponent(CVellocsDiag::kOsLogs, osLogs.get());
        holder.SetComponent(CVellocsDiag::kMetadata, metadata.get());
    }
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
std::wstring AbsoluteFolder(const std::wstring& path)
{
    const std::wstring longForm = FullLongPath(path.c_str());
    return longForm.empty() ? path : Tallis::ImageUpdate::WithoutLongPrefix(longForm.c_str());
}

// The arguments after the program's name.
std::vector<std::wstring> ProgramArguments()
{
    int count = 0;
    Tallis::ImageUpdate::unique_hlocal arguments(CommandLineToArgvW(GetCommandLineW(), &count));
    std::vector<std::wstring> result;
    if (!arguments)
        return result;
    const auto* argv = static_cast<LPWSTR*>(arguments.get());
    for (int index = 1; index < count; ++index)
        result.emplace_back(argv[index]);
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
    if (!m_options.quiet)
        AppMessageBox(text.c_str(), boxFlags);
}

bool CVellocsDiagTool::ReadSwitches()
{
    const std::vector<std::wstring> arguments = ProgramArguments();
    std::vector<const wchar_t*> argv;
    for (const std::wstring& argument : arguments)
        argv.push_back(argument.c_str());
    std::wstring usageError;
    if (!ParseCommandLine(int(argv.size()), argv.data(), m_options, usageError)) {
        // A quiet run shows no box, also when the bad switch comes before /quiet.
        m_options.quiet = AsksForQuiet(int(argv.size()), argv.data());
        Tell(L"KvoVellocsDiag: " + usageError + L"\r\nKvoVellocsDiag /? lists the switches.", MB_ICONERROR);
        SetExitCode(kExitUsage);
        return false;
    }
    if (m_options.help) {
        Tell(UsageText(), MB_ICONINFORMATION);
        return false;
    }
    // Read now, so that what runs later is what was read and hashed, and a bad file creates nothing.
    if (!m_options.scriptPath.empty()) {
        if (const DWORD error = CWindowsOSLogs::ReadScript(m_options.scriptPath, m_request.script)) {
            Tell(L"KvoVellocsDiag: /script: \"" + m_options.scriptPath + L"\" cannot be used as a script (Error:" +
                     std::to_wstring(error) + L")\r\nKvoVellocsDiag /? lists the switches.",
                 MB_ICONERROR);
            SetExitCode(kExitUsage);
            return false;
        }
    }
    return true;
}

bool CVellocsDiagTool::DetectLayering()
{
    DWORD mode = 0;
    (void)ReadLayerVirtualizationMode(mode);
    // Looked for whatever the driver reports: a marker volume, when there is one, is what the
    // collectors read.
    MarkerSearch markers;
    FindMarkerVolume(IsProcessElevated(), markers);
    m_early.notes.insert(m_early.notes.end(), markers.notes.begin(), markers.notes.end());
    m_early.warnings.insert(m_early.warnings.end(), markers.warnings.begin(), markers.warnings.end());
    if (mode == 0 && markers.root.empty()) {
        Tell(kRefusalText, 0);
        SetExitCode(kExitNotLayered);
        return false;
    }
    m_request.markerVolumeRoot = markers.root;
    m_request.layerMode = markers.root.empty() ? INT32(mode) : 0;
    return true;
}

void CVellocsDiagTool::CompleteRequest()
{
    m_request.baseFolder = m_options.outBase.empty() ? DefaultBaseFolder() : AbsoluteFolder(m_options.outBase);
    m_request.seconds = CurrentTimeSeconds();
    m_request.collect = m_options.collect;
    m_request.zip = m_options.zip;
    if (m_options.reserveGiven)
        m_request.reserveBytes = ULONGLONG(m_options.reserveMB) * kMegabyte;
    m_request.fileSizeCap = ULONGLONG(m_options.maxFileMB) * kMegabyte;
    m_request.scriptTimeoutMs = m_options.timeoutMinutes * 60 * 1000;
    PublishOutputFolder(MakeOutputFolder(m_request));
}

bool CVellocsDiagTool::InitInstance()
{
    // Before any file of the run is opened.
    const std::wstring mitigation = EnableRedirectionTrust();
    if (!mitigation.empty())
        m_early.notes.push_back(mitigation);
    CConsoleOutput::Get().Open();
    if (!ReadSwitches())
        return false;

    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = 0xFF;
    InitCommonControlsEx(&controls);

    CResourceManager resources(GetModuleHandleW(nullptr));
    resources.LoadLanguageModule();
    ComApartment apartment;
    if (!DetectLayering())
        return false;
    CompleteRequest();

    Collectors collectors;
    const std::vector<std::wstring>& moduleWarnings = resources.GetWarnings();
    m_early.warnings.insert(m_early.warnings.begin(), moduleWarnings.begin(), moduleWarnings.end());
    SetExitCode(m_options.quiet ? RunQuiet(collectors.holder) : RunDialog(collectors.holder));
    return false;
}

int CVellocsDiagTool::RunQuiet(CVellocsDiag& holder)
{
    RunRecord record;
    record.earlyWarnings = m_early.warnings;
    record.earlyNotes = m_early.notes;
    CCollectionLock lock;
    std::wstring lockWarning;
    if (lock.Acquire(lockWarning) == CCollectionLock::Result::Busy) {
        CConsoleOutput::Get().WriteLine(Tallis::ImageUpdate::LoadResourceString(IDS_ANOTHER_RUN));
        return ExitCodeOf(RunEnd::AnotherRun);
    }
    if (!lockWarning.empty())
        record.earlyWarnings.push_back(lockWarning);
    ConsoleStatusSink sink;
    RunCollectionSession(holder, m_request, record, &sink);
    CConsoleOutput::Get().WriteLine(SessionSummary(record));
    return ExitCodeOf(record.end);
}

int CVellocsDiagTool::RunDialog(CVellocsDiag& holder)
{
    CVellocsDiagDlg dialog(holder, m_request, m_early.warnings, m_early.notes);
    if (dialog.DoModal() == -1) {
        // A language module without dialog 135 would otherwise end the program without a word.
        const DWORD error = GetLastError();
        wchar_t text[128] = {};
        _snwprintf(text, 127, L"The main dialog could not be shown (error %lu).", error);
        AppMessageBox(text, MB_ICONERROR);
        return kExitInternalError;
    }
    const RunRecord* record = dialog.GetRunRecord();
    if (!record)
        return kExitOk; // closed without a run
    if (record->end != RunEnd::AnotherRun)
        CConsoleOutput::Get().WriteLine(SessionSummary(*record));
    return ExitCodeOf(record->end);
}
