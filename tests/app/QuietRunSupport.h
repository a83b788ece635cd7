#pragma once
// Unattended runs of the real program, and independent checks of what they leave: the result file
// against hashes computed on the Linux side, the archive against the folder with Python's zipfile.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <windows.h>

#include <string>

namespace kvoapp {

struct ProgramRun {
    DWORD exitCode = DWORD(-1);
    std::string output; // standard output and error, UTF-8
};

// The built KvoVellocsDiag.exe.
[[nodiscard]] std::wstring BuiltProgramPath();

// Runs the program with the arguments to its end, at most timeoutMs (then it is ended and the
// exit code is STILL_ACTIVE).
[[nodiscard]] ProgramRun RunProgram(const std::wstring& arguments, DWORD timeoutMs = 300000);

// The one "VellocsDiag_*" folder in base; empty when there is none or more than one.
[[nodiscard]] std::wstring FindOutputFolder(const std::wstring& base);

// Reads the folder's result file.
[[nodiscard]] ::testing::AssertionResult ReadResultFile(const std::wstring& folder, nlohmann::json& result);

// The result file's "files" are exactly the folder's files (but the result file), with sizes and
// SHA-256 digests that sha256sum computes on the Linux side.
[[nodiscard]] ::testing::AssertionResult FilesMatchFolder(const nlohmann::json& result, const std::wstring& folder);

// Python's zipfile opens the archive, finds no CRC error, and every entry equals the file below
// the folder's parent byte for byte (names start with the folder's name), folders included.
[[nodiscard]] ::testing::AssertionResult ArchiveMatchesFolder(const std::wstring& archive, const std::wstring& folder);

} // namespace kvoapp
