#pragma once
// The application object: start-up, the main dialog or the unattended run, and the exit code.
#include "CommandLine.h"
#include "RunRequest.h"
#include "WinApplication.h"

#include <string>
#include <vector>

class CVellocsDiag;

class CVellocsDiagTool : public CWinApplication {
public:
    // Always false: the program ends when the dialog has closed, the unattended run has ended or
    // the machine was refused. The exit code tells which (see CommandLine.h).
    bool InitInstance() override;

    static constexpr const wchar_t* kRefusalText = L"KvoVellocsDiag could not find a valid Velloc attached to the system";

private:
    // Tells the user: a box unless the run is quiet, and the console line when there is a console.
    void Tell(const std::wstring& text, UINT boxFlags) const;
    // The switches, /? and /script; false when start-up ends here (the exit code is set).
    bool ReadSwitches();
    // The layer mode and the marker volume into the request; false when the machine is refused.
    bool DetectLayering();
    // The rest of the request from the switches: the base folder, the name's seconds and the run's
    // settings; the proposed output folder is published.
    void CompleteRequest();
    int RunQuiet(CVellocsDiag& holder);
    int RunDialog(CVellocsDiag& holder);

    CommandLineOptions m_options;
    RunRequest m_request;
    // Found by start-up before any run's log exists, and logged first in it.
    struct {
        std::vector<std::wstring> notes;
        std::vector<std::wstring> warnings;
    } m_early;
};
