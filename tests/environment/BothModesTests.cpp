// A machine whose driver reports a mode and whose second drive carries a marker: the marker
// volume is what the collectors read, in the dialog and unattended. Then the same volume as a
// CD-ROM drive, which any user may bring: no marker is taken from it.
#include "AppDriver.h"
#include "QuietRunSupport.h"
#include "TestSupport.h"
#include "resource.h"

#include <gtest/gtest.h>

using namespace kvoapp;

namespace {

constexpr DWORD kRunMs = 300000;
const std::wstring kMarkerRoot = L"M:\\";

class BothModes : public ::testing::Test {
protected:
    std::wstring Arguments() const { return L"/out \"" + m_base.Path() + L"\" /reserve 0"; }

    // What a run with the marker volume leaves, whoever started it.
    void ExpectReadFromTheMarkerVolume()
    {
        const std::wstring folder = FindOutputFolder(m_base.Path());
        ASSERT_FALSE(folder.empty());
        nlohmann::json result;
        ASSERT_TRUE(ReadResultFile(folder, result));
        EXPECT_EQ(result["product"]["layerMode"], 0);
        EXPECT_EQ(result["product"]["markerVolume"], "M:\\");
        const std::wstring logs = folder + L"\\VellocsLogs\\";
        EXPECT_TRUE(kvotest::TreesEqual(kMarkerRoot + L"HRNLOGS", logs + L"ServiceLogs-CreationMode"));
        EXPECT_FALSE(kvotest::FolderExists(logs + L"ServiceLogs-DeliveryMode"));
        EXPECT_TRUE(kvotest::TreesEqual(kMarkerRoot + L"KorvaneHrn\\Settings\\LayerDef", folder + L"\\VellocsMetadata"));
    }

    kvotest::ScratchFolder m_base{L"both-modes"};
};

TEST_F(BothModes, AQuietRunReadsTheMarkerVolume)
{
    const ProgramRun run = RunProgram(L"/quiet /collect logs,metadata " + Arguments(), kRunMs);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    ExpectReadFromTheMarkerVolume();
    // Wine accepts the redirection-trust mitigation but does not enforce it: one INFO line says so.
    const std::string log = kvotest::ReadFileBytes(FindOutputFolder(m_base.Path()) + L"\\KvoVellocsDiag.log");
    const std::string note = "The redirection-trust mitigation is not in force on this system";
    const size_t at = log.find(note);
    ASSERT_NE(at, std::string::npos) << log;
    const size_t lineStart = log.rfind('\n', at) == std::string::npos ? 0 : log.rfind('\n', at) + 1;
    EXPECT_NE(log.substr(lineStart, at - lineStart).find("[INFO "), std::string::npos) << log.substr(lineStart, 80);
    EXPECT_EQ(log.find(note, at + note.size()), std::string::npos) << "once";
}

TEST_F(BothModes, ADialogRunReadsTheMarkerVolume)
{
    AppProcess program;
    ASSERT_TRUE(program.Start(BuiltProgramPath(), {}, Arguments()));
    HWND dialog = WaitForMainDialog(program.Id(), 60000);
    ASSERT_NE(dialog, nullptr);
    SetChecked(dialog, IDC_COLLECT_OSLOGS, false);
    PostClick(dialog, IDOK);
    HWND box = WaitForMessageBox(program.Id(), kRunMs);
    ASSERT_NE(box, nullptr);
    EXPECT_NE(ItemText(box, kMessageBoxTextId).find(L"successfully generated"), std::wstring::npos);
    DismissMessageBox(box);
    EXPECT_EQ(program.WaitForExit(60000), 0u);
    ExpectReadFromTheMarkerVolume();
}

TEST(MarkerOnACdRom, TheDriversModeServesAndTheDriveIsNamedInTheLog)
{
    kvotest::ScratchFolder base{L"marker-cdrom"};
    ASSERT_TRUE(kvotest::FileExists(kMarkerRoot + L"{3A12BF49-9AFE-4A94-98EE-3456DBB8C431}.VELLOCS.VOL.GUID"));
    const ProgramRun run =
        RunProgram(L"/quiet /collect logs /reserve 0 /out \"" + base.Path() + L"\"", kRunMs);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    const std::wstring folder = FindOutputFolder(base.Path());
    ASSERT_FALSE(folder.empty());
    nlohmann::json result;
    ASSERT_TRUE(ReadResultFile(folder, result));
    EXPECT_EQ(result["product"]["layerMode"], 2);
    EXPECT_TRUE(result["product"]["markerVolume"].is_null());
    EXPECT_TRUE(kvotest::FolderExists(folder + L"\\VellocsLogs\\ServiceLogs-DeliveryMode"));
    const std::string log = kvotest::ReadFileBytes(folder + L"\\KvoVellocsDiag.log");
    EXPECT_NE(log.find("Drive M:\\ is a CD-ROM drive: no marker is looked for there"), std::string::npos) << log;
}

} // namespace
