#include "FolderCreation.h"

#include "DiagnosticLog.h"
#include "NtStatus.h"
#include "PathBuilder.h"
#include "SupportTestSeams.h"
#include "UniqueHandles.h"

#include <atomic>
#include <new>

namespace Tallis::ImageUpdate {
namespace {

std::atomic<CreateFolderChainFn> g_createChainOverride{nullptr};
std::atomic<StandbyPurgeFn> g_purgeOverride{nullptr};

constexpr ULONG kSystemMemoryListInformation = 80;
constexpr ULONG kMemoryPurgeStandbyList = 4;

using NtSetSystemInformationFn = LONG(WINAPI*)(ULONG, PVOID, ULONG);

DWORD CreateChain(PathBuilder& folder)
{
    if (CreateFolderChainFn createChain = g_createChainOverride.load())
        return createChain(folder.GetPath());
    return folder.CreateFolderChain();
}

} // namespace

void SetFolderCreationForTest(CreateFolderChainFn createChain) noexcept
{
    g_createChainOverride.store(createChain);
}

void SetStandbyPurgeForTest(StandbyPurgeFn purge) noexcept
{
    g_purgeOverride.store(purge);
}

DWORD CreateFolderWithRetry(const wchar_t* path) noexcept
{
    if (!path)
        return ERROR_INVALID_PARAMETER;
    try {
        PathBuilder folder(path, false);
        DWORD result = ERROR_DISK_FULL;
        for (int attempt = 0; attempt < kMaxFolderCreationAttempts; ++attempt) {
            result = CreateChain(folder);
            if (result != ERROR_DISK_FULL)
                return result;
            if (FlushStandbyList() != 0)
                return ERROR_DISK_FULL;
        }
        return result;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD FlushStandbyList() noexcept
{
    // ntdll is mapped into every process from the system directory: taken as it is, never searched
    // for (a load by bare name would look in the program's folder first).
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll) {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_ERROR, L"WSFileSystem", L"GetModuleHandle failed for ntdll, Error:%d", int(error));
        return kFlushUnavailable;
    }
    auto setInformation = reinterpret_cast<NtSetSystemInformationFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSetSystemInformation")));
    if (!setInformation) {
        KVO_LOG(LOG_ERROR, L"WSFileSystem", L"Failed to get NtSetSystemInformation from ntdll, Error:%d",
                int(GetLastError()));
        return kFlushUnavailable;
    }

    LONG status;
    if (StandbyPurgeFn purge = g_purgeOverride.load()) {
        status = purge();
    } else {
        ULONG command = kMemoryPurgeStandbyList;
        status = setInformation(kSystemMemoryListInformation, &command, sizeof command);
    }
    if (status == 0)
        return 0;
    const DWORD error = Win32FromStatus(status);
    KVO_LOG(LOG_ERROR, L"WSFileSystem", L"Failed to flush the standby list, Error:%d", int(error));
    return error;
}

} // namespace Tallis::ImageUpdate
