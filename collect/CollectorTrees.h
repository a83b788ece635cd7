#pragma once
// Steps shared by the metadata and product log collectors: the search for braced volume folders
// below the product data folder, and one logged tree copy into the output folder.
#include <windows.h>

#include <functional>

// Calls visit(name) for every directory matching dataFolder\Volumes\{*}, in the order the search
// returns them; plain files with a braced name are skipped. A missing "Volumes" folder or no match
// visits nothing. Returns the number of folders visited.
int ForEachVolumeFolder(const wchar_t* dataFolder, const wchar_t* logUnit,
                        const std::function<void(const wchar_t* volumeName)>& visit);

// Creates destination, then copies the source tree into it. Neither result fails the caller: both
// are only logged, so a support engineer can tell an empty source from a cut-short copy.
void CollectTree(const wchar_t* source, const wchar_t* destination, const wchar_t* logUnit);
