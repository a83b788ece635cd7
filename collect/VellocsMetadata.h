#pragma once
// Copies the layer definition trees of the layer disks into "VellocsMetadata": one folder per
// volume from the product data folder, or the marker volume's single tree.
#include "CollectorTrees.h"
#include "VellocsDiagComponent.h"

class CVellocsMetadata : public CVellocsDiagComponent {
public:
    // Raises StringLoadError when string 105 is missing.
    CVellocsMetadata();
    ~CVellocsMetadata() override = default;

    // 0 only for a null output folder; copy failures are logged and do not fail the collector.
    INT32 Collect(const wchar_t* outputFolder, const wchar_t* markerVolumeRoot, INT32 layerMode) override;
    void EstimateSize(const wchar_t* markerVolumeRoot, INT32 layerMode, Tallis::ImageUpdate::TreeSize& size) override;

    static constexpr const wchar_t* kOutputFolderName = L"VellocsMetadata";

private:
    // The layer definition trees, with their places below metadataFolder.
    static void VisitSources(const wchar_t* metadataFolder, const wchar_t* markerVolumeRoot, INT32 layerMode,
                             ISourceVisitor& visitor);
};
