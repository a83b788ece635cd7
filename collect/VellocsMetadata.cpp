#include "VellocsMetadata.h"

#include "CollectorTrees.h"
#include "LayerEnvironment.h"
#include "PathBuilder.h"
#include "resource.h"

#include <string>

using Tallis::ImageUpdate::PathBuilder;

namespace {
constexpr const wchar_t* kLogUnit = L"CVellocsMetadata";
constexpr const wchar_t* kVolumeLayerDef = L"Metadata\\Settings\\LayerDef";
constexpr const wchar_t* kMarkerLayerDef = L"KorvaneHrn\\Settings\\LayerDef";
} // namespace

CVellocsMetadata::CVellocsMetadata() : CVellocsDiagComponent(IDS_COLLECTING_METADATA) {}

INT32 CVellocsMetadata::Collect(const wchar_t* outputFolder, const wchar_t* markerVolumeRoot, INT32 layerMode)
{
    if (!outputFolder)
        return 0;

    if (layerMode != 0) {
        std::wstring dataFolder;
        GetProductDataFolder(dataFolder, L"Vellocs");
        ForEachVolumeFolder(dataFolder.c_str(), kLogUnit, [&](const wchar_t* volume) {
            PathBuilder source(dataFolder.c_str(), L"Volumes", volume, kVolumeLayerDef, false);
            PathBuilder destination(outputFolder, kOutputFolderName, volume, nullptr, false);
            CollectTree(source.GetPath(), destination.GetPath(), kLogUnit);
        });
    } else if (markerVolumeRoot) {
        // One layer definition tree for the whole volume: no folder per volume.
        PathBuilder source(markerVolumeRoot, kMarkerLayerDef, false);
        PathBuilder destination(outputFolder, kOutputFolderName, false);
        CollectTree(source.GetPath(), destination.GetPath(), kLogUnit);
    }
    return 1;
}
