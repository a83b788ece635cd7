#pragma once
// Probes that tell a layered-disk machine: the filter driver's layer virtualization mode, the
// volume carrying the product's marker files, and the product's data folders.
#include <windows.h>

#include <string>
#include <vector>

constexpr const wchar_t* kDriverInstanceKey = L"System\\CurrentControlSet\\Services\\VantfsFilter\\Instances\\VantfsFilter";
constexpr const wchar_t* kDriverStateValue = L"DriverState";

// Marker files in a drive root, in the order they are looked for.
constexpr const wchar_t* kMarkerFiles[] = {
    L"{1E422A3A-9391-4e3a-B7B8-EF3418854D92}.NORROW.VOL.GUID",
    L"{3A12BF49-9AFE-4A94-98EE-3456DBB8C431}.VELLOCS.VOL.PREP.GUID",
    L"{3A12BF49-9AFE-4A94-98EE-3456DBB8C431}.VELLOCS.VOL.GUID",
};

// 0 on success; the mode is 0 unless the value could be read.
[[nodiscard]] DWORD ReadLayerVirtualizationMode(DWORD& mode) noexcept;

// What the search for a marker volume found, and what it passed over on the way.
struct MarkerSearch {
    std::wstring root;                 // "X:\", or empty
    std::vector<std::wstring> notes;    // drives that are not fixed, skipped
    std::vector<std::wstring> warnings; // markers that are not the product's (their owner)
};

// The first fixed drive (in the system's order) whose root carries a marker as a regular file (not
// a folder, not a link). Removable, CD-ROM, network and RAM drives are skipped (a note each): any
// user may bring those. In an elevated run a marker owned by another account than SYSTEM,
// Administrators, TrustedInstaller or the running one is ignored (a warning): any user may create
// files in a drive root.
void FindMarkerVolume(bool elevated, MarkerSearch& search);
// The same without notes and owner check: "X:\" in root, or null.
const wchar_t* FindMarkerVolume(std::wstring& root);

// Whether a marker with this descriptor may be the product's: its owner is SYSTEM, Administrators,
// TrustedInstaller or the running account (selfSid). owner receives the owner's name.
[[nodiscard]] bool IsTrustedMarkerOwner(PSECURITY_DESCRIPTOR descriptor, const std::wstring& selfSid,
                                        std::wstring& owner);

// The common application data folder + "Korvane" + name; left unchanged when it is unknown.
void GetProductDataFolder(std::wstring& folder, const wchar_t* name);
