#include "BaseFolder.h"

#include "FileSystem.h"
#include "OutputFolder.h"
#include "OutputTree.h"
#include "PrivateSecurity.h"
#include "RelativeFiles.h"
#include "TreeWalk.h"

#include <shlobj.h>

#include <new>
#include <vector>

using namespace Tallis::ImageUpdate;

namespace {

constexpr int kMaxSuffix = 1000;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring WithoutTrailingSeparator(std::wstring path)
{
    while (path.size() > 3 && path.back() == L'\\')
        path.pop_back();
    return path;
}

bool SameFolder(const std::wstring& a, const std::wstring& b)
{
    return _wcsicmp(WithoutTrailingSeparator(a).c_str(), WithoutTrailingSeparator(b).c_str()) == 0;
}

bool IsOwnDesktop(const std::wstring& folder)
{
    wchar_t desktop[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop) < 0)
        return false;
    return SameFolder(desktop, folder);
}

std::wstring JoinNames(const std::vector<std::wstring>& names)
{
    std::wstring text;
    for (const std::wstring& name : names)
        text += (text.empty() ? L"" : L", ") + name;
    return text;
}

std::wstring ErrorCode(DWORD error)
{
    return L" (Error:" + std::to_wstring(error) + L").";
}

// What to do instead; a refused folder that is itself the suggestion must go first.
std::wstring Advice(const std::wstring& refused)
{
    const std::wstring suggested = BaseFolder::SuggestedBase();
    if (!suggested.empty() && SameFolder(refused, suggested))
        return L"Remove it first: the tool then creates it itself, readable by SYSTEM, Administrators and the "
               L"running account only.";
    return L"Choose a folder that only administrators can change, or a new one that the tool creates itself, "
           L"for example " + (suggested.empty() ? std::wstring(L"C:\\ProgramData\\KvoVellocsDiag") : suggested) + L".";
}

// The existing folder nearest to path, and the names of the missing levels below it, top first.
std::wstring SplitExisting(const std::wstring& path, std::vector<std::wstring>& missing)
{
    std::wstring folder = WithoutTrailingSeparator(path);
    for (;;) {
        if (GetFileAttributesW(FullLongPath(folder.c_str()).c_str()) != INVALID_FILE_ATTRIBUTES)
            return folder;
        const size_t separator = folder.find_last_of(L'\\');
        if (separator == std::wstring::npos || separator == 0)
            return {};
        missing.insert(missing.begin(), folder.substr(separator + 1));
        folder.resize(separator);
        if (folder.size() == 2 && folder[1] == L':')
            folder += L'\\';
    }
}

} // namespace

std::wstring BaseFolder::SuggestedBase()
{
    wchar_t common[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common) < 0)
        return {};
    return WithoutTrailingSeparator(common) + L"\\KvoVellocsDiag";
}

DWORD BaseFolder::Check(const std::wstring& base, std::wstring& problem)
{
    problem.clear();
    m_handle.reset();
    m_missing.clear();
    m_path = WithoutTrailingSeparator(base);
    if (base.empty()) {
        problem = L"No base folder for the output is known: give one with /out.";
        return ERROR_PATH_NOT_FOUND;
    }
    const DWORD attributes = GetFileAttributesW(FullLongPath(base.c_str()).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return OpenNearestExisting(problem);
    }
    unique_hfile folder;
    EntryKind kind = EntryKind::Plain;
    if (const DWORD error = OpenAsListed(m_path, folder, kind)) {
        problem = L"The base folder " + base + L" could not be opened" + ErrorCode(error);
        return error;
    }
    if (const DWORD error = CheckEntry(folder, kind, m_path, problem))
        return error;
    m_handle = std::move(folder);
    return 0;
}

// Opened inside its parent's handle without following a link, and held against the parent's
// listing; a drive root has no parent and is opened as it is.
DWORD BaseFolder::OpenAsListed(const std::wstring& path, unique_hfile& folder, EntryKind& kind)
{
    const size_t separator = path.find_last_of(L'\\');
    // "X:\" and "\\server\share" have no parent to list.
    const bool root = separator == std::wstring::npos || separator + 1 == path.size() ||
                      (path.rfind(L"\\\\", 0) == 0 && path.find(L'\\', 2) == separator);
    const std::wstring parentPath = root ? path : path.substr(0, separator + (path[separator - 1] == L':' ? 1 : 0));
    unique_hfile parent(CreateFileW(FullLongPath(parentPath.c_str()).c_str(), kFolderWorkAccess, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!parent)
        return GetLastError();
    if (root) {
        folder = std::move(parent);
        kind = EntryKind::Plain;
        return 0;
    }
    const std::wstring name = path.substr(separator + 1);
    if (const DWORD error = OpenFolderAt(parent.get(), name, folder))
        return error;
    return JudgeOpenedEntry(parent.get(), name, folder.get(), kind);
}

// A missing base is made below the folder nearest to it that exists now: that folder is held from
// here on, so the levels made later go where this check looked.
DWORD BaseFolder::OpenNearestExisting(std::wstring& problem)
{
    m_nearest = SplitExisting(m_path, m_missing);
    if (!m_nearest.empty())
        m_handle.reset(CreateFileW(FullLongPath(m_nearest.c_str()).c_str(), kFolderWorkAccess, kShareAll, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (m_nearest.empty() || !m_handle) {
        const DWORD error = m_nearest.empty() ? DWORD(ERROR_PATH_NOT_FOUND) : GetLastError();
        problem = L"The base folder " + m_path + L" could not be created" + ErrorCode(error);
        return error;
    }
    return 0;
}

// The own desktop's link is followed (it lies in the running account's profile), and then the folder
// it leads to is what is held and checked; any other link is refused.
DWORD BaseFolder::CheckEntry(unique_hfile& folder, EntryKind kind, const std::wstring& path,
                             std::wstring& problem) const
{
    if (kind == EntryKind::Replaced) {
        problem = L"The base folder " + path + L" was replaced while it was checked. Choose a folder that only "
                  L"administrators can change.";
        return ERROR_ACCESS_DENIED;
    }
    if (kind == EntryKind::Link && !IsOwnDesktop(path)) {
        const std::wstring target = LinkTarget(path.c_str());
        problem = L"The base folder " + path + L" is a link to " + (target.empty() ? L"an unknown place" : target) +
                  L". Choose a folder that is not a link.";
        return kErrorStoppedOnLink;
    }
    if (kind == EntryKind::Link) {
        folder.reset(CreateFileW(FullLongPath(path.c_str()).c_str(), kFolderWorkAccess, kShareAll, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!folder) {
            const DWORD error = GetLastError();
            problem = L"The base folder " + path + L" could not be opened" + ErrorCode(error);
            return error;
        }
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (const DWORD error = ReadHandleInfo(folder.get(), info)) {
        problem = L"The base folder " + path + L" could not be read" + ErrorCode(error);
        return error;
    }
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        problem = L"The base folder " + path + L" is not a folder.";
        return ERROR_DIRECTORY;
    }
    return m_elevated ? CheckTrust(folder.get(), path, problem) : 0;
}

DWORD BaseFolder::CheckTrust(HANDLE folder, const std::wstring& path, std::wstring& problem) const
{
    const std::wstring finalName = FinalPathOf(folder);
    const std::wstring& shown = finalName.empty() ? path : finalName;
    ObjectTrust trust;
    if (const DWORD error = JudgeHandle(folder, true, trust)) {
        problem = L"The permissions of the base folder " + shown + L" could not be read" + ErrorCode(error);
        return error;
    }
    if (!trust.ownerTrusted) {
        problem = L"The base folder " + shown + L" is owned by " + (trust.owner.empty() ? L"nobody" : trust.owner) +
                  L", not by SYSTEM, Administrators or the account that runs the tool, so its owner could replace "
                  L"the output before it is complete. " + Advice(path);
        return ERROR_ACCESS_DENIED;
    }
    if (!trust.writers.empty()) {
        problem = L"Other accounts (" + JoinNames(trust.writers) + L") may change the base folder " + shown +
                  L", so they could replace the output before it is complete. " + Advice(path);
        return ERROR_ACCESS_DENIED;
    }
    return 0;
}

// Each missing level is made inside the handle of the level above it; one that exists by now is
// someone else's until checked.
DWORD BaseFolder::MakeChain(std::wstring& problem)
{
    PrivateSecurity security;
    if (const DWORD error = security.Build())
        return error;
    std::wstring level = m_nearest;
    for (const std::wstring& name : m_missing) {
        level = WithoutTrailingSeparator(level) + L"\\" + name;
        unique_hfile next;
        DWORD error =
            CreateFolderAt(m_handle.get(), name, security.Attributes()->lpSecurityDescriptor, kShareAll, next);
        if (error == ERROR_ALREADY_EXISTS) {
            EntryKind kind = EntryKind::Plain;
            error = OpenFolderAt(m_handle.get(), name, next);
            if (error == 0)
                error = JudgeOpenedEntry(m_handle.get(), name, next.get(), kind);
            if (error == 0 && (error = CheckEntry(next, kind, level, problem)) != 0)
                return error;
        }
        if (error != 0) {
            problem = L"The base folder " + level + L" could not be created" + ErrorCode(error);
            return error;
        }
        m_handle = std::move(next);
    }
    m_missing.clear();
    return 0;
}

DWORD BaseFolder::Claim(const RunRequest& request, ClaimedFolder& claimed, std::wstring& problem)
{
    try {
        problem.clear();
        if (!m_handle) {
            problem = L"The base folder " + m_path + L" was not checked.";
            return ERROR_INVALID_HANDLE;
        }
        if (const DWORD error = MakeChain(problem))
            return error;
        PrivateSecurity security;
        if (const DWORD error = security.Build())
            return error;
        for (int attempt = 1; attempt <= kMaxSuffix; ++attempt) {
            const std::wstring path = MakeOutputFolder(m_path.c_str(), request.seconds, attempt);
            const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
            // The creation is the test and the claim in one step: no other run can slip between.
            const DWORD error = CreateFolderAt(m_handle.get(), name, security.Attributes()->lpSecurityDescriptor,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, claimed.handle);
            if (error == 0) {
                claimed.path = path;
                return 0;
            }
            if (error != ERROR_ALREADY_EXISTS)
                return error;
        }
        return ERROR_ALREADY_EXISTS;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}
