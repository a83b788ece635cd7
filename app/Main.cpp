// The program's entry point: the one application object runs start-up and the dialog.
#include "VellocsDiagTool.h"

namespace {
CVellocsDiagTool theTool;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Before anything can load a library: every later load (the folder browser's shell extensions
    // included) searches the system directory only, never the program's or the current folder.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return theTool.Run();
}
