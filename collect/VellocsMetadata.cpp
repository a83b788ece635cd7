#include "VellocsMetadata.h"

#include "CollectorTrees.h"
#include "LayerEnvironment.h"
#include "PathBuilder.h"
#include "resource.h"

#include <string>

using Tallis::ImageUpdate::PathBuilder;
using Tallis::ImageUpdate::TreeSize;

namespace {
constexpr const wchar_t* kLogUnit = L"CVellocsMetadata";
constexpr const wchar_t* kVolumeLayerDef = L"Metadata\\Settings\\LayerDef";
constexpr const wchar_t* kMarkerLayerDef = L"KorvaneHrn\\Settings\\LayerDef";
} // namespace

CVellocsMetadata::CVellocsMetadata() : CVellocsDiagComponent(IDS_COLLECTING_METADATA) {}

void CVellocsMetadata::VisitSources(const wchar_t* metadataFolder, const wchar_t* markerVolumeRoot, INT32 layerMode,
                                    ISourceVisitor& visitor)
{
    if (layerMode != 0) {
        std::wstring dataFolder;
        GetProductDataFolder(dataFolder, L"Vellocs");
        ForEachVolumeFolder(dataFolder.c_str(), kLogUnit, [&](const wchar_t* volume) {
            PathBuilder source(dataFolder.c_str(), L"Volumes", volume, kVolumeLayerDef, false);
            PathBuilder destination(metadataFolder, volume, false);
            visitor.Tree(source.GetPath(), destination.GetPath());
        });
    } else if (markerVolumeRoot) {
        // One layer definition tree for the whole volume: no folder per volume.
        PathBuilder source(markerVolumeRoot, kMarkerLayerDef, false);
        visitor.Tree(source.GetPath(), metadataFolder);
    }
}

INT32 CVellocsMetadata::Collect(const wchar_t* outputFolder, const wchar_t* markerVolumeRoot, INT32 layerMode)
{
    if (!outputFolder)
        return 0;
    PathBuilder metadataFolder(outputFolder, kOutputFolderName, false);
    CopyingVisitor copy(kLogUnit);
    VisitSources(metadataFolder.GetPath(), markerVolumeRoot, layerMode, copy);
    return 1;
}

void CVellocsMetadata::EstimateSize(const wchar_t* markerVolumeRoot, INT32 layerMode, TreeSize& size)
{
    MeasuringVisitor measure(size);
    VisitSources(kOutputFolderName, markerVolumeRoot, layerMode, measure);
}
