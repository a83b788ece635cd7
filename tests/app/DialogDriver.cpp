// A console driver for the running KvoVellocsDiag dialog, used by scripts/demo.sh:
//   DialogDriver.exe state    waits for the dialog and prints its controls
//   DialogDriver.exe ok       clicks OK and waits until the run shows a status line
//   DialogDriver.exe finish   waits for the outcome box, prints and dismisses it, waits for the end
#include "AppDriver.h"

#include "resource.h"

#include <cstdio>
#include <string>

using namespace kvoapp;

namespace {

void Print(const wchar_t* label, const std::wstring& value)
{
    // Console output as UTF-8, whatever the code page.
    std::wstring line = std::wstring(label) + value + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), int(line.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), int(line.size()), bytes.data(), size, nullptr, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), stdout);
    fflush(stdout);
}

const wchar_t* YesNo(bool value)
{
    return value ? L"yes" : L"no";
}

int Fail(const wchar_t* what)
{
    Print(L"driver: ", what);
    return 1;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 1 ? argv[1] : L"";
    HWND dialog = WaitForMainDialog(0, 60000);
    if (!dialog)
        return Fail(L"no KvoVellocsDiag dialog appeared within 60 s");

    if (command == L"state") {
        Print(L"caption:          ", WindowText(dialog));
        Print(L"output folder:    ", ItemText(dialog, IDC_OUTPUT_FOLDER));
        Print(L"Vellocs logs:     ", YesNo(IsChecked(dialog, IDC_COLLECT_LOGS)));
        Print(L"Vellocs metadata: ", YesNo(IsChecked(dialog, IDC_COLLECT_METADATA)));
        Print(L"OS logs:          ", YesNo(IsChecked(dialog, IDC_COLLECT_OSLOGS)));
        Print(L"OK enabled:       ", YesNo(IsItemEnabled(dialog, IDOK)));
        return 0;
    }
    if (command == L"ok") {
        PostClick(dialog, IDOK);
        if (!WaitForItemText(dialog, IDC_STATUS, L":", 30000))
            return Fail(L"the run showed no status line within 30 s");
        Print(L"status:           ", ItemText(dialog, IDC_STATUS));
        Print(L"OK enabled:       ", YesNo(IsItemEnabled(dialog, IDOK)));
        Print(L"progress shown:   ", YesNo(IsItemVisible(dialog, IDC_PROGRESS)));
        return 0;
    }
    if (command == L"finish") {
        DWORD processId = 0;
        GetWindowThreadProcessId(dialog, &processId);
        HWND box = WaitForMessageBox(processId, 600000);
        if (!box)
            return Fail(L"no outcome box within 600 s");
        Print(L"status:           ", ItemText(dialog, IDC_STATUS));
        Print(L"outcome box:      ", ItemText(box, kMessageBoxTextId));
        DismissMessageBox(box);
        if (!WaitForWindowGone(dialog, 30000))
            return Fail(L"the dialog stayed open after the outcome box");
        Print(L"dialog:           ", L"closed");
        return 0;
    }
    return Fail(L"usage: DialogDriver.exe state | ok | finish");
}
