#pragma once
// The contract of every collector: a selected flag, a display name and an available flag.
#include "FileSystem.h"
#include "RunRecord.h"
#include "RunRequest.h"

#include <windows.h>

#include <string>

class CVellocsDiagComponent {
public:
    // The run reads `selected`; start-up and the dialog's worker write it.
    INT32 selected = 0;

    virtual bool IsAvailable() { return m_available; }
    virtual void SetUnavailable() { m_available = false; }
    virtual void SetAvailable() { m_available = true; }
    virtual const wchar_t* GetName() { return m_name.c_str(); }
    // Non-zero means success. markerVolumeRoot is "X:\" or null; layerMode is 0 with a marker volume.
    virtual INT32 Collect(const wchar_t* outputFolder, const wchar_t* markerVolumeRoot, INT32 layerMode) = 0;
    virtual const wchar_t* GetDescription() { return m_name.c_str(); }
    virtual ~CVellocsDiagComponent() = default;
    // Adds what Collect would copy from this machine, before anything is created; the free-space
    // check of a run sums it over the selected collectors. Nothing by default.
    virtual void EstimateSize(const wchar_t* markerVolumeRoot, INT32 layerMode, Tallis::ImageUpdate::TreeSize& size);
    // Takes what the run asks of this collector beyond Collect's arguments, before the run starts.
    // Nothing by default.
    virtual void Prepare(const RunRequest& request);
    // Adds to the run's record what the last Collect found beyond its result. Nothing by default.
    virtual void AddFindings(RunRecord& record);

protected:
    // Loads the name from the string table; raises StringLoadError when it is missing.
    explicit CVellocsDiagComponent(UINT nameId);

    std::wstring m_name;
    bool m_available = true;
};
