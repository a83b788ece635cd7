#pragma once
// Copies the product's logs into "VellocsLogs": the filter driver's log from the system drive
// root, and the service log folders from the product data folders or the marker volume.
#include "CollectorTrees.h"
#include "VellocsDiagComponent.h"

class CVellocsLogs : public CVellocsDiagComponent {
public:
    // Raises StringLoadError when string 114 is missing.
    CVellocsLogs();
    ~CVellocsLogs() override = default;

    // 0 only for a null output folder; copy failures are logged and do not fail the collector.
    INT32 Collect(const wchar_t* outputFolder, const wchar_t* markerVolumeRoot, INT32 layerMode) override;
    void EstimateSize(const wchar_t* markerVolumeRoot, INT32 layerMode, Tallis::ImageUpdate::TreeSize& size) override;

    static constexpr const wchar_t* kOutputFolderName = L"VellocsLogs";
    static constexpr const wchar_t* kDriverLogName = L"VantfsLogFile.log";
    static constexpr const wchar_t* kDeliveryModeFolder = L"ServiceLogs-DeliveryMode";
    static constexpr const wchar_t* kCreationModeFolder = L"ServiceLogs-CreationMode";


private:
    // The driver log and the service log trees, with their places below logsFolder.
    static void VisitSources(const wchar_t* logsFolder, const wchar_t* markerVolumeRoot, INT32 layerMode,
                             ISourceVisitor& visitor);
};
