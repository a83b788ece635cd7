#pragma once
// Probes that tell a layered-disk machine: the filter driver's layer virtualization mode, the
// volume carrying the product's marker files, and the product's data folders.
#include <windows.h>

#include <string>

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

// The first drive (in the system's order) whose root carries a marker as a regular file (not a
// folder, not a link): "X:\" in root, or null.
const wchar_t* FindMarkerVolume(std::wstring& root);

// The common application data folder + "Korvane" + name; left unchanged when it is unknown.
void GetProductDataFolder(std::wstring& folder, const wchar_t* name);
