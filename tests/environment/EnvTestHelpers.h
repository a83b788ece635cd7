#pragma once
// Helpers of the environment suite: the simulated machine's folders and drives, small source
// trees, the driver's registry key, and the tool's own log files.
#include "TestSupport.h"

#include <initializer_list>
#include <string>
#include <utility>

namespace envtest {

// Where the simulated machine keeps the product's data (the script writes there directly).
inline const std::wstring kProductData = L"C:\\ProgramData\\Korvane";
inline const std::wstring kDriverLog = L"C:\\VantfsLogFile.log";

// Creates every file (with its parent folders) below root: {relative path, content}.
void WriteTree(const std::wstring& root, std::initializer_list<std::pair<std::wstring, std::string>> files);

// Number of times needle occurs in the UTF-8 text of a file (0 for a missing file).
[[nodiscard]] int CountInFile(const std::wstring& path, const std::string& needle);

// Starts the tool's log on "full.log" and "errors.log" in the folder.
void InitializeLogForTest(const kvotest::ScratchFolder& folder);

// Removes every marker file from the roots of C:, E: and F:, the drives the tests may mark.
void RemoveMarkers();

// The Unix folder behind test drive E: or F: (from KVO_SIM_DRIVES), for moving it away.
[[nodiscard]] std::string DriveFolder(char letter);

// The filter driver's instance key, removed when created and again when destroyed.
class DriverKey {
public:
    DriverKey();
    ~DriverKey();
    DriverKey(const DriverKey&) = delete;
    DriverKey& operator=(const DriverKey&) = delete;

    // Creates the key (no value) or sets "DriverState" to raw bytes of the given type.
    void Create();
    void SetValue(DWORD type, const void* data, DWORD size);
};

} // namespace envtest
