// The real program run unattended on the simulated machine in each of its modes: it refuses a
// machine without layering with exit 3 and no window, and in driver and marker mode it collects
// with exit 0 and a result file whose listing matches the folder.
#include "AppDriver.h"
#include "QuietRunSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace kvoapp;

namespace {

constexpr DWORD kRunMs = 300000;

class QuietRunByMode : public ::testing::Test {
protected:
    void ExpectCollected(int layerMode, const char* markerVolume)
    {
        const ProgramRun run = RunProgram(L"/quiet /out \"" + m_base.Path() + L"\"", kRunMs);
        EXPECT_EQ(run.exitCode, 0u) << run.output;
        const std::wstring folder = FindOutputFolder(m_base.Path());
        ASSERT_FALSE(folder.empty()) << run.output;
        nlohmann::json result;
        ASSERT_TRUE(ReadResultFile(folder, result));
        EXPECT_EQ(result["run"]["outcome"], "ok") << result["errors"].dump();
        EXPECT_EQ(result["product"]["layerMode"], layerMode);
        if (markerVolume)
            EXPECT_EQ(result["product"]["markerVolume"], markerVolume);
        else
            EXPECT_TRUE(result["product"]["markerVolume"].is_null());
        for (const auto& collector : result["collectors"])
            EXPECT_EQ(collector["outcome"], "ok") << collector.dump();
        EXPECT_TRUE(FilesMatchFolder(result, folder));
    }

    kvotest::ScratchFolder m_base{L"quiet-by-mode"};
};

TEST_F(QuietRunByMode, NoLayeringExitsThreeWithoutAWindow)
{
    AppProcess program;
    ASSERT_TRUE(program.Start(BuiltProgramPath(), {}, L"/quiet /out \"" + m_base.Path() + L"\""));
    EXPECT_EQ(WaitForMessageBox(program.Id(), 3000), nullptr);
    EXPECT_EQ(program.WaitForExit(60000), 3u);
    EXPECT_TRUE(kvotest::ListTree(m_base.Path()).empty());
}

// Every account may create a folder in C:\: one named like the product's marker is no marker.
TEST_F(QuietRunByMode, AMarkerFolderInTheSystemRootDoesNotMakeALayeredMachine)
{
    const std::wstring spoof = L"C:\\{3A12BF49-9AFE-4A94-98EE-3456DBB8C431}.VELLOCS.VOL.GUID";
    ASSERT_TRUE(CreateDirectoryW(spoof.c_str(), nullptr));
    const ProgramRun run = RunProgram(L"/quiet /out \"" + m_base.Path() + L"\"", 60000);
    RemoveDirectoryW(spoof.c_str());
    EXPECT_EQ(run.exitCode, 3u) << run.output;
    EXPECT_TRUE(kvotest::ListTree(m_base.Path()).empty());
}

TEST_F(QuietRunByMode, DriverModeCollects)
{
    ExpectCollected(2, nullptr);
}

TEST_F(QuietRunByMode, MarkerModeCollects)
{
    ExpectCollected(0, "M:\\");
}

} // namespace
