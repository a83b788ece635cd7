#include "HiddenProcesses.h"

#include "CngApi.h"
#include "CollectTestSeams.h"
#include "DiagnosticLog.h"
#include "PrivateSecurity.h"

#include <atomic>
#include <cwctype>
#include <new>

using namespace Tallis::ImageUpdate;

namespace {

// Random bytes of the desktop's name: 16 hex digits.
constexpr size_t kDesktopRandomBytes = 8;

std::atomic<DesktopCreateFn> g_createDesktop{nullptr};

HDESK CreateStepDesktop(const wchar_t* name, SECURITY_ATTRIBUTES* security) noexcept
{
    if (DesktopCreateFn create = g_createDesktop.load())
        return create(name, DESKTOP_CREATEWINDOW, security);
    return CreateDesktopW(name, nullptr, nullptr, 0, DESKTOP_CREATEWINDOW, security);
}

// After the job was ended, how long to let its processes go before the step goes on.
constexpr DWORD kTerminationWaitMs = 5000;

// A job that ends the whole process tree on timeout, and with the step's last handle.
unique_handle CreateKillOnCloseJob(const wchar_t* logUnit) noexcept
{
    unique_handle job(CreateJobObjectW(nullptr, nullptr));
    if (!job) {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_WARN, logUnit, L"CreateJobObject failed, Error:%d", int(error));
        return job;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_WARN, logUnit, L"SetInformationJobObject failed, Error:%d", int(error));
    }
    return job;
}

// "the OS log script" -> "The OS log script", for an entry that starts with it.
std::wstring Capitalized(const wchar_t* what)
{
    std::wstring text = what;
    if (!text.empty())
        text[0] = wchar_t(towupper(text[0]));
    return text;
}

} // namespace

void SetDesktopCreateForTest(DesktopCreateFn create) noexcept
{
    g_createDesktop.store(create);
}

HiddenProcesses::HiddenProcesses(std::wstring environment, DWORD budgetMs, const wchar_t* logUnit) noexcept
    : m_logUnit(logUnit), m_environment(std::move(environment)), m_budgetMs(budgetMs),
      m_started(std::chrono::steady_clock::now())
{
}

DWORD HiddenProcesses::Open(const wchar_t* desktopBase) noexcept
{
    DWORD error = 0;
    try {
        // Never the parent's environment: an empty block is still a block.
        if (m_environment.empty())
            m_environment.assign(2, L'\0');
        error = MakeDesktop(desktopBase);
    } catch (const std::bad_alloc&) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (error != 0) {
        KVO_LOG(LOG_ERROR, m_logUnit, L"CreateDesktop %s failed, Error:%d; the step's programs do not run on the "
                L"visible desktop", m_desktopName.empty() ? desktopBase : m_desktopName.c_str(), int(error));
        return error;
    }
    KVO_LOG(LOG_INFO, m_logUnit, L"Created the desktop %s for the step's programs", m_desktopName.c_str());
    m_job = CreateKillOnCloseJob(m_logUnit);
    return 0;
}

DWORD HiddenProcesses::MakeDesktop(const wchar_t* desktopBase)
{
    std::wstring random;
    if (const DWORD error = RandomHex(kDesktopRandomBytes, random))
        return error;
    m_desktopName = std::wstring(desktopBase) + L"_" + random;
    std::wstring self;
    if (const DWORD error = CurrentAccountSid(self))
        return error;
    PrivateSecurity security;
    if (const DWORD error = security.BuildFrom(L"D:P(A;;GA;;;" + self + L")"))
        return error;
    const HDESK desktop = CreateStepDesktop(m_desktopName.c_str(), security.Attributes());
    const DWORD error = GetLastError();
    if (!desktop)
        return error ? error : DWORD(ERROR_INVALID_HANDLE);
    m_desktop.reset(desktop);
    return 0;
}

DWORD HiddenProcesses::RemainingMs() const noexcept
{
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                             m_started).count();
    return spent >= m_budgetMs ? 0 : DWORD(m_budgetMs - spent);
}

HiddenProcesses::Ended HiddenProcesses::Run(const std::wstring& application, std::wstring commandLine,
                                            const std::wstring& currentFolder, const wchar_t* what, DWORD& exitCode)
{
    exitCode = 0;
    if (!m_desktop) {
        KVO_LOG(LOG_ERROR, m_logUnit, L"%s is not started: the step has no desktop of its own",
                Capitalized(what).c_str());
        return Ended::NotStarted;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = m_desktopName.data();
    // Suspended, so that nothing the program starts can escape the job before it is assigned.
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, m_environment.data(), currentFolder.c_str(),
                        &startup, &started)) {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_ERROR, m_logUnit, L"CreateProcess failed for %s (%s), Error:%d", application.c_str(),
                commandLine.c_str(), int(error));
        return Ended::NotStarted;
    }
    unique_handle process(started.hProcess);
    unique_handle thread(started.hThread);
    if (m_job && !AssignProcessToJobObject(m_job.get(), process.get())) {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_WARN, m_logUnit, L"AssignProcessToJobObject failed, Error:%d; only the program's own process "
                L"can be ended on timeout", int(error));
        m_job.reset();
    }
    if (ResumeThread(thread.get()) == DWORD(-1)) {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_ERROR, m_logUnit, L"ResumeThread failed, Error:%d", int(error));
        End(process.get(), what);
        return Ended::NotStarted;
    }
    KVO_LOG(LOG_INFO, m_logUnit, L"Started %s, process %d: %s", what, int(started.dwProcessId), commandLine.c_str());
    return WaitForEnd(process.get(), what, exitCode);
}

HiddenProcesses::Ended HiddenProcesses::WaitForEnd(HANDLE process, const wchar_t* what, DWORD& exitCode)
{
    const DWORD waited = WaitForSingleObject(process, RemainingMs());
    if (waited == WAIT_OBJECT_0) {
        GetExitCodeProcess(process, &exitCode);
        KVO_LOG(LOG_INFO, m_logUnit, L"%s ended with exit code %d", Capitalized(what).c_str(), int(exitCode));
        return Ended::Normally;
    }
    if (waited == WAIT_TIMEOUT) {
        KVO_LOG(LOG_ERROR, m_logUnit, L"%s did not end within %u ms; ending it and every process it started",
                Capitalized(what).c_str(), unsigned(m_budgetMs));
    } else {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_ERROR, m_logUnit, L"Waiting for %s failed (%u), Error:%d", what, unsigned(waited), int(error));
    }
    End(process, what);
    return waited == WAIT_TIMEOUT ? Ended::TimedOut : Ended::WaitFailed;
}

// Ends the program: the whole job when the process is in it, else the process alone.
void HiddenProcesses::End(HANDLE process, const wchar_t* what) noexcept
{
    if (m_job ? !TerminateJobObject(m_job.get(), ERROR_TIMEOUT) : !TerminateProcess(process, ERROR_TIMEOUT)) {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_ERROR, m_logUnit, L"Failed to end %s, Error:%d", what, int(error));
        return;
    }
    WaitForSingleObject(process, kTerminationWaitMs);
}
