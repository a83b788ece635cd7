#pragma once
// The holder of the three collectors and the collection run over them.
#include "VellocsDiagComponent.h"

#include <array>
#include <string>
#include <vector>

// What one collector did in a run.
struct CollectorRun {
    enum class Outcome { NotSelected, Unavailable, Ok, Failed, Skipped };
    Outcome outcome = Outcome::NotSelected;
    double seconds = 0;
    // What its folder in the output folder holds after the run.
    ULONGLONG files = 0;
    ULONGLONG bytes = 0;
};

// One error entry of the run's log.
struct RunErrorEntry {
    SYSTEMTIME utcTime{};
    std::wstring unit;
    std::wstring text;
};

// A file that did not arrive whole: copied only in part (truncated) or not at all.
struct FileShortfall {
    std::wstring source;
    std::wstring destination;
    DWORD error = 0;            // not collected: the copy's error
    ULONGLONG originalSize = 0; // truncated: the source's size
};

// What a run did, beyond its boolean result: for the result file and the exit code.
struct RunDetails {
    // In: warnings to log first thing in the run's log (the log starts inside the run).
    std::vector<std::wstring> startWarnings;
    // In: a file larger than this is copied as its last this many bytes; 0 copies whole files.
    ULONGLONG fileSizeCap = 0;

    // The disk of the output folder filled up: the collection stopped there.
    bool diskFull = false;
    std::vector<FileShortfall> truncated;
    std::vector<FileShortfall> notCollected;

    // Non-zero when the output folder could not be created; then no collector was called.
    DWORD folderError = 0;
    std::array<CollectorRun, 3> collectors{};
    // Every error entry logged during the run; errorCount goes on counting past the kept ones.
    std::vector<RunErrorEntry> errors;
    size_t errorCount = 0;
    static constexpr size_t kMaxKeptErrors = 10000;

    [[nodiscard]] bool AnyCollectorFailed() const noexcept;
};

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
    bool GenerateReport(const wchar_t* outputFolder, const wchar_t* markerVolumeRoot, INT32 layerMode,
                        RunDetails& details);

    static constexpr const wchar_t* kFullLogName = L"KvoVellocsDiag.log";
    static constexpr const wchar_t* kErrorLogName = L"KvoVellocsDiag.Errors.log";
    // The folder each collector fills inside the output folder, which also names it in the result file.
    static constexpr const wchar_t* kOutputNames[kComponentCount] = {L"VellocsLogs", L"VellocsMetadata",
                                                                       L"OSLogs"};

private:
    std::array<CVellocsDiagComponent*, kComponentCount> m_components{};
};
