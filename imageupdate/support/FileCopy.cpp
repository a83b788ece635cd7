#include "FileCopy.h"

#include "DiagnosticLog.h"
#include "PathBuilder.h"
#include "UniqueHandles.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <new>

namespace Tallis::ImageUpdate {
namespace {

constexpr DWORD kBlockBytes = 1 << 20;

std::mutex g_policyLock;
CopyPolicy g_policy;
std::atomic<bool> g_diskFull{false};

CopyPolicy CurrentPolicy() noexcept
{
    std::lock_guard<std::mutex> lock(g_policyLock);
    return g_policy;
}

void Tell(const CopyPolicy& policy, const CopyEvent& event) noexcept
{
    if (policy.observer)
        policy.observer(policy.context, event);
}

// The last `keep` bytes of the source, with its last-write time. 0 or the Windows error.
DWORD CopyTail(const wchar_t* source, const wchar_t* destination, ULONGLONG size, ULONGLONG keep)
{
    unique_hfile in(CreateFileW(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in)
        return GetLastError();
    unique_hfile out(CreateFileW(destination, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out)
        return GetLastError();
    LARGE_INTEGER start;
    start.QuadPart = LONGLONG(size - keep);
    if (!SetFilePointerEx(in.get(), start, nullptr, FILE_BEGIN))
        return GetLastError();
    std::unique_ptr<char[]> block(new char[kBlockBytes]);
    ULONGLONG left = keep;
    while (left > 0) {
        const DWORD want = DWORD(left < kBlockBytes ? left : kBlockBytes);
        DWORD got = 0;
        if (!ReadFile(in.get(), block.get(), want, &got, nullptr))
            return GetLastError();
        if (got == 0)
            break; // the log shrank while we read it: keep what there was
        DWORD written = 0;
        if (!WriteFile(out.get(), block.get(), got, &written, nullptr))
            return GetLastError();
        if (written != got)
            return ERROR_DISK_FULL;
        left -= got;
    }
    FILETIME created, accessed, written;
    if (GetFileTime(in.get(), &created, &accessed, &written))
        SetFileTime(out.get(), nullptr, nullptr, &written);
    return 0;
}

bool IsExistingNameError(DWORD error) noexcept
{
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

void Failed(const CopyPolicy& policy, PathBuilder& from, PathBuilder& to, DWORD error, const wchar_t* logUnit) noexcept
{
    // Whatever the copy left (Wine leaves a cut-short file on a full disk) must not pass for the file;
    // a destination that was there before is not ours to remove, whatever it is.
    if (!IsExistingNameError(error))
        DeleteFileW(to.GetLongPath());
    if (IsDiskFullError(error))
        g_diskFull.store(true);
    KVO_LOG(LOG_ERROR, logUnit, L"CopyFile %s ==> %s failed, Error:%d", from.GetPath(), to.GetPath(), int(error));
    CopyEvent event;
    event.source = from.GetPath();
    event.destination = to.GetPath();
    event.error = error;
    Tell(policy, event);
}

} // namespace

void SetCopyPolicy(const CopyPolicy& policy) noexcept
{
    std::lock_guard<std::mutex> lock(g_policyLock);
    g_policy = policy;
}

bool IsDiskFullError(DWORD error) noexcept
{
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

bool DiskFullSeen() noexcept
{
    return g_diskFull.load();
}

void ClearDiskFull() noexcept
{
    g_diskFull.store(false);
}

DWORD CopyCollectedFile(const wchar_t* source, const wchar_t* destination, const wchar_t* logUnit) noexcept
{
    return CopyListedFile(source, destination, logUnit, nullptr);
}

DWORD CopyListedFile(const wchar_t* source, const wchar_t* destination, const wchar_t* logUnit,
                     const ULONGLONG* listedSize) noexcept
{
    if (!source || !destination || source[0] == L'\0' || destination[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    try {
        const CopyPolicy policy = CurrentPolicy();
        PathBuilder from(source, false);
        PathBuilder to(destination, false);
        const wchar_t* fromLong = from.GetLongPath();
        const wchar_t* toLong = to.GetLongPath();

        ULONGLONG size = listedSize ? *listedSize : 0;
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (policy.sizeCap != 0 && !listedSize && GetFileAttributesExW(fromLong, GetFileExInfoStandard, &data))
            size = (ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;

        DWORD error = 0;
        const bool truncate = policy.sizeCap != 0 && size > policy.sizeCap;
        if (truncate)
            error = CopyTail(fromLong, toLong, size, policy.sizeCap);
        else if (!CopyFileW(fromLong, toLong, TRUE))
            error = GetLastError();

        if (error != 0) {
            Failed(policy, from, to, error, logUnit);
            return error;
        }
        if (truncate) {
            KVO_LOG(LOG_WARN, logUnit, L"Copied only the last %I64u of %I64u bytes of %s", policy.sizeCap, size,
                    from.GetPath());
            CopyEvent event;
            event.kind = CopyEvent::Kind::Truncated;
            event.source = from.GetPath();
            event.destination = to.GetPath();
            event.originalSize = size;
            event.copiedSize = policy.sizeCap;
            Tell(policy, event);
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

} // namespace Tallis::ImageUpdate
