#pragma once
// The holder of the three collectors and the collection run over them.
#include "RunRecord.h"
#include "VellocsDiagComponent.h"

#include <array>

class CVellocsDiag {
public:
    static constexpr int kProductLogs = 0;
    static constexpr int kMetadata = 1;
    static constexpr int kOsLogs = 2;
    static constexpr int kComponentCount = 3;

    CVellocsDiag() = default;
    // The holder refers to its collectors; it does not own them.
    virtual ~CVellocsDiag() = default;

    void SetComponent(int index, CVellocsDiagComponent* component) { m_components.at(size_t(index)) = component; }
    [[nodiscard]] CVellocsDiagComponent* GetComponent(int index) const { return m_components.at(size_t(index)); }

    // Creates the output folder, starts the tool's logs in it and calls every selected, available
    // collector in holder order; after the first failure later ones are announced but not called.
    // False when a collector failed or the output folder could not be created (then nothing runs).
    // Raises StringLoadError before anything is created when a status text is missing.
    bool GenerateReport(const wchar_t* outputFolder, const wchar_t* markerVolumeRoot, INT32 layerMode);
    // The same, keeping in record each collector's outcome, time and output, the folder's error and
    // a full disk, and logging record.earlyWarnings first in the run's log. Error entries and
    // copies are recorded by the run's RunScope, when one is in place.
    bool GenerateReport(const wchar_t* outputFolder, const wchar_t* markerVolumeRoot, INT32 layerMode,
                        RunRecord& record);

    static constexpr const wchar_t* kFullLogName = L"KvoVellocsDiag.log";
    static constexpr const wchar_t* kErrorLogName = L"KvoVellocsDiag.Errors.log";
    // The folder each collector fills inside the output folder, which also names it in the result file.
    static constexpr const wchar_t* kOutputNames[kComponentCount] = {L"VellocsLogs", L"VellocsMetadata",
                                                                       L"OSLogs"};

private:
    std::array<CVellocsDiagComponent*, kComponentCount> m_components{};
};
