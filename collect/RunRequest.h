#pragma once
// What one collection run is asked to do. Start-up builds it once from the switches, the dialog
// shows it and changes it (Browse, the check boxes), and the run reads it.
#include <windows.h>

#include <array>
#include <optional>
#include <string>

// A script given with /script: its bytes as read at start-up, so that what runs is what was hashed.
struct ScriptFile {
    std::wstring path; // full path; empty: the carried script
    std::string bytes;
    std::wstring sha256;
};

struct RunRequest {
    std::wstring baseFolder;       // absolute; the output folder is made inside it
    INT32 seconds = 0;             // the output folder's name: "VellocsDiag_<seconds>"
    std::wstring markerVolumeRoot; // "X:\" when a marker volume serves, else empty
    INT32 layerMode = 0;           // 0 with a marker volume
    std::array<bool, 3> collect{true, true, true}; // in holder order: product logs, metadata, OS logs
    bool zip = false;
    std::optional<ULONGLONG> reserveBytes; // free space to leave; unset: the volume's default
    ULONGLONG fileSizeCap = 0;             // a larger file is copied as its last this many bytes; 0: whole
    DWORD scriptTimeoutMs = 30 * 60 * 1000;
    ScriptFile script;

    [[nodiscard]] const wchar_t* MarkerVolume() const noexcept
    {
        return markerVolumeRoot.empty() ? nullptr : markerVolumeRoot.c_str();
    }
};
