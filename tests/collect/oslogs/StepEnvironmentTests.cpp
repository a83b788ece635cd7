// The environment block of the OS log step's programs, on given folders and values.
#include "StepEnvironment.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

TEST(StepEnvironment, BlockIsSortedWithoutRegardToCaseAndEndsWithTwoNulls)
{
    EXPECT_EQ(EnvironmentBlock({{L"windir", L"C:\\W"}, {L"TMP", L"t"}, {L"ComSpec", L"c"}, {L"PATH", L"p"},
                                {L"CommonProgramFiles", L"f"}}),
              L"CommonProgramFiles=f\0ComSpec=c\0PATH=p\0TMP=t\0windir=C:\\W\0\0"s);
    // Names compare in upper case, as Windows keeps them: "_" then sorts after every letter.
    EXPECT_EQ(EnvironmentBlock({{L"A_B", L"x"}, {L"Ab", L"y"}}), L"Ab=y\0A_B=x\0\0"s);
    EXPECT_EQ(EnvironmentBlock({}), std::wstring(2, L'\0'));
}

TEST(StepEnvironment, FixedVariablesFromTheFoldersAndOnlyInheritedOnesWithAValue)
{
    const EnvironmentVariables variables =
        StepVariables(L"C:\\Windows\\system32", L"C:\\Windows", L"C:\\Temp\\KvoVellocsDiag-0a", L"D:\\Out",
                      {{L"CommonProgramFiles", L"C:\\Program Files\\Common Files"}, {L"Unset", L""}});
    const EnvironmentVariables expected = {
        {L"PATH", L"C:\\Windows\\system32;C:\\Windows\\system32\\Wbem;C:\\Windows\\system32\\WindowsPowerShell\\v1.0"},
        {L"TEMP", L"C:\\Temp\\KvoVellocsDiag-0a"},
        {L"TMP", L"C:\\Temp\\KvoVellocsDiag-0a"},
        {L"SystemRoot", L"C:\\Windows"},
        {L"windir", L"C:\\Windows"},
        {L"ComSpec", L"C:\\Windows\\system32\\cmd.exe"},
        {L"PATHEXT", L".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC"},
        {L"VELLOCS_OUTDIR", L"D:\\Out"},
        {L"CommonProgramFiles", L"C:\\Program Files\\Common Files"},
    };
    EXPECT_EQ(variables, expected);
    // Without an output folder the script gets none, rather than an empty one.
    for (const auto& variable : StepVariables(L"S", L"W", L"T", L"", {}))
        EXPECT_NE(variable.first, L"VELLOCS_OUTDIR");
}

} // namespace
