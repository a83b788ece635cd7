#pragma once
// The environment of the OS log step's programs, built by the tool rather than inherited. An
// elevated process carries the environment of whoever elevated it: a PATH entry or a TEMP in a
// folder another account can write would let cmd and the programs it starts run what lies there.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

using EnvironmentVariables = std::vector<std::pair<std::wstring, std::wstring>>;

// What the carried script reads from the environment beyond what the tool sets itself.
inline constexpr const wchar_t* kScriptInheritedVariables[] = {L"CommonProgramFiles"};

// PATH of the system directory and its Wbem and WindowsPowerShell\v1.0 folders, TEMP and TMP the
// private folder, SystemRoot and windir the Windows folder, ComSpec the system's cmd.exe, the
// usual PATHEXT, VELLOCS_OUTDIR (unless empty), then the inherited ones that have a value.
[[nodiscard]] EnvironmentVariables StepVariables(const std::wstring& systemFolder, const std::wstring& windowsFolder,
                                                 const std::wstring& privateFolder, const std::wstring& outputFolder,
                                                 const EnvironmentVariables& inherited);

// A CREATE_UNICODE_ENVIRONMENT block: "NAME=value\0" sorted by name without regard to case, as
// Windows keeps its own, and a closing "\0".
[[nodiscard]] std::wstring EnvironmentBlock(EnvironmentVariables variables);

// A variable of this process's environment; false when it is not set.
[[nodiscard]] bool ProcessVariable(const wchar_t* name, std::wstring& value);

// The block for this process's step: its system and Windows folders, and kScriptInheritedVariables
// as they are now. 0 or the Windows error.
[[nodiscard]] DWORD BuildStepEnvironment(const std::wstring& privateFolder, const std::wstring& outputFolder,
                                         std::wstring& block) noexcept;
