// Stands in for the command interpreter where a planted one would lie (beside the program, in the
// current folder): it leaves a mark in the output folder, so a test can tell that it ran.
#include <windows.h>

#include <string>

int wmain()
{
    wchar_t folder[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"VELLOCS_OUTDIR", folder, MAX_PATH) == 0)
        return 1;
    const std::wstring mark = std::wstring(folder) + L"\\fake-cmd-ran.txt";
    HANDLE file = CreateFileW(mark.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    const char text[] = "the stand-in cmd.exe ran\r\n";
    DWORD written = 0;
    WriteFile(file, text, sizeof text - 1, &written, nullptr);
    CloseHandle(file);
    return 0;
}
