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

// What has no value is left out rather than set empty (the end-to-end case shows the rest).
TEST(StepEnvironment, NoOutputFolderAndUnsetInheritedVariablesAreLeftOut)
{
    for (const auto& [name, value] : StepVariables(L"S", L"W", L"T", L"", {{L"CommonProgramFiles", L""}})) {
        EXPECT_NE(name, L"VELLOCS_OUTDIR");
        EXPECT_NE(name, L"CommonProgramFiles");
        EXPECT_FALSE(value.empty()) << kvotest::Narrow(name);
    }
}

} // namespace
