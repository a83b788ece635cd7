#include "StepEnvironment.h"

#include "SystemDirectory.h"

#include <algorithm>
#include <new>

using namespace Tallis::ImageUpdate;

namespace {

constexpr const wchar_t* kPathExtensions = L".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC";

bool NameBefore(const std::wstring& a, const std::wstring& b) noexcept
{
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) == CSTR_LESS_THAN;
}

} // namespace

EnvironmentVariables StepVariables(const std::wstring& systemFolder, const std::wstring& windowsFolder,
                                   const std::wstring& privateFolder, const std::wstring& outputFolder,
                                   const EnvironmentVariables& inherited)
{
    EnvironmentVariables variables{
        {L"PATH", systemFolder + L";" + systemFolder + L"\\Wbem;" + systemFolder + L"\\WindowsPowerShell\\v1.0"},
        {L"TEMP", privateFolder},
        {L"TMP", privateFolder},
        {L"SystemRoot", windowsFolder},
        {L"windir", windowsFolder},
        {L"ComSpec", systemFolder + L"\\cmd.exe"},
        {L"PATHEXT", kPathExtensions},
    };
    if (!outputFolder.empty())
        variables.emplace_back(L"VELLOCS_OUTDIR", outputFolder);
    for (const auto& variable : inherited)
        if (!variable.second.empty())
            variables.push_back(variable);
    return variables;
}

std::wstring EnvironmentBlock(EnvironmentVariables variables)
{
    std::stable_sort(variables.begin(), variables.end(),
                     [](const auto& a, const auto& b) { return NameBefore(a.first, b.first); });
    std::wstring block;
    for (const auto& [name, value] : variables) {
        block += name + L"=" + value;
        block += L'\0';
    }
    // An empty block still needs both of its terminating nulls.
    if (block.empty())
        block += L'\0';
    block += L'\0';
    return block;
}

bool ProcessVariable(const wchar_t* name, std::wstring& value)
{
    value.clear();
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0)
        return false;
    value.resize(needed);
    const DWORD length = GetEnvironmentVariableW(name, value.data(), needed);
    // Changed between the two calls: taken as unset rather than cut short.
    value.resize(length < needed ? length : 0);
    return length != 0 && length < needed;
}

DWORD BuildStepEnvironment(const std::wstring& privateFolder, const std::wstring& outputFolder,
                           std::wstring& block) noexcept
{
    try {
        block.clear();
        const std::wstring systemFolder = SystemDirectory();
        wchar_t windowsFolder[MAX_PATH + 1] = {};
        const UINT windowsChars = GetSystemWindowsDirectoryW(windowsFolder, MAX_PATH + 1);
        const DWORD windowsError = GetLastError();
        if (systemFolder.empty())
            return ERROR_PATH_NOT_FOUND;
        if (windowsChars == 0 || windowsChars > MAX_PATH)
            return windowsChars == 0 ? windowsError : DWORD(ERROR_INSUFFICIENT_BUFFER);
        EnvironmentVariables inherited;
        for (const wchar_t* name : kScriptInheritedVariables) {
            std::wstring value;
            if (ProcessVariable(name, value))
                inherited.emplace_back(name, std::move(value));
        }
        block = EnvironmentBlock(StepVariables(systemFolder, windowsFolder, privateFolder, outputFolder, inherited));
        return 0;
    } catch (const std::bad_alloc&) {
        block.clear();
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}
