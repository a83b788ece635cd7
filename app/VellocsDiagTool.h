#pragma once
// The application object: start-up, the main dialog or the unattended run, and the exit code.
#include "CommandLine.h"
#include "WinApplication.h"

#include <string>
#include <vector>

class CVellocsDiag;
struct SessionRequest;

class CVellocsDiagTool : public CWinApplication {
public:
    // Always false: the program ends when the dialog has closed, the unattended run has ended or
    // the machine was refused. The exit code tells which (see CommandLine.h).
    bool InitInstance() override;

    static constexpr const wchar_t* kRefusalText = L"KvoVellocsDiag could not find a valid Velloc attached to the system";

private:
    // Tells the user: on the console when there is one, else in a box unless the run is quiet.
    void Tell(const std::wstring& text, UINT boxFlags) const;
    void ApplySpaceOptions(SessionRequest& request) const;
    int RunQuiet(CVellocsDiag& holder, const wchar_t* markerVolumeRoot, INT32 layerMode,
                 const std::wstring& outputFolder, const std::vector<std::wstring>& startWarnings);

    CommandLineOptions m_options;
};
