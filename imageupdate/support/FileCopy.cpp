#include "FileCopy.h"

#include "DiagnosticLog.h"
#include "PathBuilder.h"
#include "TreeWalk.h"
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

// One block per thread, reused by every copy: a fresh megabyte a file would cost more than a small file.
char* CopyBlock()
{
    thread_local std::unique_ptr<char[]> block;
    if (!block)
        block.reset(new char[kBlockBytes]);
    return block.get();
}

// Copies from the current position of in until its end or `keep` bytes; copied counts what arrived.
DWORD CopyBytes(HANDLE in, HANDLE out, ULONGLONG keep, ULONGLONG& copied)
{
    char* block = CopyBlock();
    while (copied < keep) {
        const DWORD want = DWORD(keep - copied < kBlockBytes ? keep - copied : kBlockBytes);
        DWORD got = 0;
        if (!ReadFile(in, block, want, &got, nullptr))
            return GetLastError();
        if (got == 0)
            break; // the file shrank while it was read: keep what there was
        DWORD written = 0;
        if (!WriteFile(out, block, got, &written, nullptr))
            return GetLastError();
        if (written != got)
            return ERROR_DISK_FULL;
        copied += got;
        if (got < want)
            break; // a short read is the end of a file: spares a read that returns nothing
    }
    return 0;
}

// What CopyFileW keeps of the source: its last-write time and its attributes (read-only, hidden, ...).
void KeepTimeAndAttributes(HANDLE out, const BY_HANDLE_FILE_INFORMATION& info) noexcept
{
    constexpr DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_TEMPORARY;
    FILE_BASIC_INFO basic{};
    basic.LastWriteTime.LowPart = info.ftLastWriteTime.dwLowDateTime;
    basic.LastWriteTime.HighPart = LONG(info.ftLastWriteTime.dwHighDateTime);
    basic.FileAttributes = (info.dwFileAttributes & kept) ? info.dwFileAttributes & kept : FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(out, FileBasicInfo, &basic, sizeof basic);
}

// The whole source, or its last `cap` bytes when it is larger, into a new destination that a failure
// removes again through its own handle. copied and size tell what arrived of how much.
DWORD CopyContent(HANDLE in, const BY_HANDLE_FILE_INFORMATION& info, const wchar_t* destination, ULONGLONG cap,
                  ULONGLONG& copied)
{
    unique_hfile out(CreateFileW(destination, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!out)
        return GetLastError();
    const ULONGLONG size = (ULONGLONG(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    DWORD error = 0;
    if (cap != 0 && size > cap) {
        LARGE_INTEGER start;
        start.QuadPart = LONGLONG(size - cap);
        if (!SetFilePointerEx(in, start, nullptr, FILE_BEGIN))
            error = GetLastError();
    }
    if (error == 0)
        error = CopyBytes(in, out.get(), cap != 0 && size > cap ? cap : ~0ull, copied);
    if (error != 0) {
        // Whatever was written (a cut-short file on a full disk) must not pass for the file.
        FILE_DISPOSITION_INFO discard{TRUE};
        SetFileInformationByHandle(out.get(), FileDispositionInfo, &discard, sizeof discard);
        return error;
    }
    KeepTimeAndAttributes(out.get(), info);
    return 0;
}

void Failed(const CopyPolicy& policy, const wchar_t* from, const wchar_t* to, DWORD error,
            const wchar_t* logUnit) noexcept
{
    if (IsDiskFullError(error))
        g_diskFull.store(true);
    KVO_LOG(LOG_ERROR, logUnit, L"CopyFile %s ==> %s failed, Error:%d", from, to, int(error));
    CopyEvent event;
    event.source = from;
    event.destination = to;
    event.error = error;
    Tell(policy, event);
}

// Copies from an opened source once it proved to be the regular file listed; logs and tells.
DWORD CopyOpened(HANDLE in, ULONGLONG listedId, const wchar_t* from, PathBuilder& to, const wchar_t* logUnit)
{
    const CopyPolicy policy = CurrentPolicy();
    BY_HANDLE_FILE_INFORMATION info{};
    DWORD error = CheckOpened(in, OpenKind::File, listedId, &info);
    ULONGLONG copied = 0;
    if (error == 0)
        error = CopyContent(in, info, to.GetLongPath(), policy.sizeCap, copied);
    if (error != 0) {
        Failed(policy, from, to.GetPath(), error, logUnit);
        return error;
    }
    CopyEvent event;
    event.source = from;
    event.destination = to.GetPath();
    const ULONGLONG size = (ULONGLONG(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (policy.sizeCap != 0 && size > policy.sizeCap) {
        KVO_LOG(LOG_WARN, logUnit, L"Copied only the last %I64u of %I64u bytes of %s", copied, size, from);
        event.kind = CopyEvent::Kind::Truncated;
        event.originalSize = size;
        event.copiedSize = copied;
        Tell(policy, event);
    }
    if (info.nNumberOfLinks > 1) {
        event.kind = CopyEvent::Kind::HardLinked;
        event.links = info.nNumberOfLinks;
        Tell(policy, event);
    }
    return 0;
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
    if (!source || !destination || source[0] == L'\0' || destination[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    try {
        PathBuilder from(source, false);
        PathBuilder to(destination, false);
        unique_hfile in;
        std::wstring linkedAt;
        if (const DWORD error = OpenWithoutLinks(source, OpenKind::File, GENERIC_READ, in, linkedAt)) {
            Failed(CurrentPolicy(), from.GetPath(), to.GetPath(), error, logUnit);
            return error;
        }
        return CopyOpened(in.get(), 0, from.GetPath(), to, logUnit);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD CopyFileInFolder(HANDLE folder, const std::wstring& name, ULONGLONG listedId, const wchar_t* source,
                       const wchar_t* destination, const wchar_t* logUnit) noexcept
{
    if (!source || !destination || source[0] == L'\0' || destination[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    try {
        PathBuilder to(destination, false);
        unique_hfile in;
        if (const DWORD error = OpenChild(folder, name, GENERIC_READ, OpenKind::File, in)) {
            Failed(CurrentPolicy(), source, to.GetPath(), error, logUnit);
            return error;
        }
        return CopyOpened(in.get(), listedId, source, to, logUnit);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

} // namespace Tallis::ImageUpdate
