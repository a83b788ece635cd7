// A program without the compiled resources: no script to write and no name to load.
#include "ResourceStrings.h"
#include "TestSupport.h"
#include "WindowsOSLogs.h"

#include <gtest/gtest.h>

TEST(OsLogsWithoutResources, ExtractionFailsAndCreatesNoFile)
{
    kvotest::ScratchFolder scratch(L"oslogs-nores");
    const std::wstring script = scratch / L"OSStats.bat";
    EXPECT_NE(CWindowsOSLogs::ExtractScript(script.c_str()), DWORD(ERROR_SUCCESS));
    EXPECT_FALSE(kvotest::FileExists(script));
}

TEST(OsLogsWithoutResources, ConstructionRaisesTheStringLoadError)
{
    try {
        CWindowsOSLogs collector;
        FAIL() << "constructed without a name";
    } catch (const Tallis::ImageUpdate::StringLoadError& error) {
        EXPECT_STREQ(error.what(), "Load String failed");
    }
}
