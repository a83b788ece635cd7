#pragma once
// The application object: start-up, the main dialog, and the end of the program.
#include "WinApplication.h"

class CVellocsDiagTool : public CWinApplication {
public:
    // Always false: the program ends when the dialog has closed or the machine was refused.
    bool InitInstance() override;

    static constexpr const wchar_t* kRefusalText = L"KvoVellocsDiag could not find a valid Velloc attached to the system";
};
