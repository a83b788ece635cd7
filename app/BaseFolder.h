#pragma once
// The base folder of a run, opened once: every check of it and the claim of the output folder go
// through that one handle, so a rename or a swap of its name between the check and the claim
// cannot redirect the output into a folder another account controls.
#include "RelativeFiles.h"
#include "TreeWalk.h"
#include "RunRequest.h"
#include "UniqueHandles.h"

#include <windows.h>

#include <string>
#include <vector>

// The output folder made by a claim, held open without delete sharing for the whole run so that
// it cannot be renamed or replaced while the run writes into it.
struct ClaimedFolder {
    std::wstring path;
    Tallis::ImageUpdate::unique_hfile handle;
};

class BaseFolder {
public:
    explicit BaseFolder(bool elevated) noexcept : m_elevated(elevated) {}

    // Opens an existing base without following a link and checks it through that handle: a link
    // (other than the running account's own desktop, in its profile) is refused; in an elevated run,
    // so is a base whose owner is not SYSTEM, Administrators, TrustedInstaller or the running account,
    // or that other accounts may change. A missing base is fine: the claim makes it. 0, or a Windows
    // error with problem telling the user why and what to choose instead.
    [[nodiscard]] DWORD Check(const std::wstring& base, std::wstring& problem);

    // Makes the base when the check found none (each missing level new and private, made inside
    // the folder the check held; a level that appeared in the meantime is checked as an existing
    // base), then the output folder inside the base's handle: new, private, "_2", "_3", ... behind
    // a name that is taken. Only after a check that succeeded.
    [[nodiscard]] DWORD Claim(const RunRequest& request, ClaimedFolder& claimed, std::wstring& problem);

    // The folder suggested instead of a refused base: the common application data folder and
    // "KvoVellocsDiag", a folder the tool makes itself.
    [[nodiscard]] static std::wstring SuggestedBase();

private:
    [[nodiscard]] static DWORD OpenAsListed(const std::wstring& path, Tallis::ImageUpdate::unique_hfile& folder,
                                            Tallis::ImageUpdate::EntryKind& kind);
    [[nodiscard]] DWORD CheckEntry(Tallis::ImageUpdate::unique_hfile& folder, Tallis::ImageUpdate::EntryKind kind,
                                   const std::wstring& path, std::wstring& problem) const;
    [[nodiscard]] DWORD CheckTrust(HANDLE folder, const std::wstring& shown, std::wstring& problem) const;
    [[nodiscard]] DWORD OpenNearestExisting(std::wstring& problem);
    [[nodiscard]] DWORD MakeChain(std::wstring& problem);

    bool m_elevated;
    std::wstring m_path;
    // The base once checked; while it is missing, the nearest folder above it that exists, and the
    // names of the levels between them, top first.
    Tallis::ImageUpdate::unique_hfile m_handle;
    std::wstring m_nearest;
    std::vector<std::wstring> m_missing;
};
