// The program's entry point: the one application object runs start-up and the dialog.
#include "VellocsDiagTool.h"

namespace {
CVellocsDiagTool theTool;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return theTool.Run();
}
