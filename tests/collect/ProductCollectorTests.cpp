#include "EnvTestHelpers.h"
#include "LayerEnvironment.h"

#include "DiagnosticLog.h"
#include "SupportTestSeams.h"
#include "UniqueHandles.h"
#include "VellocsLogs.h"
#include "VellocsMetadata.h"

using namespace envtest;
using namespace kvotest;

namespace {

const std::wstring kVolumes = kProductData + L"\\Vellocs\\Volumes";
const std::wstring kServiceLogs = kProductData + L"\\Halvrun\\LOGS";

// Each case starts from a machine without product data, driver log or marked test drives, and
// with its own output folder and tool log.
class CollectorTest : public ::testing::Test {
protected:
    CollectorTest() : m_scratch(L"env-collectors") {}

    void SetUp() override
    {
        Clean();
        InitializeLogForTest(m_scratch);
    }
    void TearDown() override
    {
        Tallis::ImageUpdate::SetSystemDirectoryForTest(nullptr);
        Clean();
    }
    static void Clean()
    {
        RemoveTree(kProductData);
        RemoveTree(kDriverLog);
        RemoveTree(L"E:\\HRNLOGS");
        RemoveTree(L"E:\\KorvaneHrn");
        RemoveTree(L"E:\\VantfsLogFile.log");
        RemoveMarkers();
    }

    // Two volumes with logs and layer definitions, both with sub-folders.
    static void TwoVolumes()
    {
        for (const wchar_t* volume : {L"{A}", L"{B}"}) {
            const std::wstring root = kVolumes + L"\\" + volume;
            WriteTree(root, {{L"Logs\\VolumeService.log", "attach\r\n"},
                             {L"Logs\\Attach\\attach-0001.log", std::string("merge ") + Narrow(volume)},
                             {L"Metadata\\Settings\\LayerDef\\LayerDef.xml", "<LayerDefinition/>"},
                             {L"Metadata\\Settings\\LayerDef\\Layers\\Base.layer", std::string("\0\1\2", 3)},
                             {L"Metadata\\Settings\\volume.ini", "not collected"}});
        }
    }

    std::wstring Out(const std::wstring& relative = L"") const
    {
        return relative.empty() ? m_scratch / L"out" : m_scratch / (L"out\\" + relative);
    }
    int Logged(const std::string& text) const { return CountInFile(m_scratch / L"full.log", text); }
    int LoggedError(const std::string& text) const { return CountInFile(m_scratch / L"errors.log", text); }

    ScratchFolder m_scratch;
    CVellocsLogs m_logs;
    CVellocsMetadata m_metadata;
};

TEST_F(CollectorTest, NamesComeFromTheStringTable)
{
    EXPECT_STREQ(m_logs.GetName(), L"Collecting Vellocs Logs");
    EXPECT_STREQ(m_metadata.GetName(), L"Collecting Vellocs Metadata");
    EXPECT_TRUE(m_logs.IsAvailable());
    EXPECT_TRUE(m_metadata.IsAvailable());
}

TEST_F(CollectorTest, NoOutputFolderFailsAndWritesNothing)
{
    TwoVolumes();
    EXPECT_EQ(m_logs.Collect(nullptr, L"E:\\", 2), 0);
    EXPECT_EQ(m_metadata.Collect(nullptr, L"E:\\", 2), 0);
    EXPECT_FALSE(FolderExists(Out()));
}

TEST_F(CollectorTest, MetadataPerVolumeSkipsPlainFilesAndUnbracedFolders)
{
    TwoVolumes();
    WriteTree(kVolumes, {{L"{C}", "a plain file with a braced name"},
                         {L"Staging\\Metadata\\Settings\\LayerDef\\LayerDef.xml", "not a volume"}});
    // A marker volume root is ignored while the driver reports a mode.
    WriteTree(L"E:", {{L"KorvaneHrn\\Settings\\LayerDef\\LayerDef.xml", "marker volume"}});

    EXPECT_EQ(m_metadata.Collect(Out().c_str(), L"E:\\", 2), 1);
    const std::vector<std::wstring> top = {L"{A}\\", L"{B}\\"};
    std::vector<std::wstring> found;
    for (const auto& entry : ListTree(Out(L"VellocsMetadata")))
        if (entry.find(L'\\') == entry.size() - 1 || entry.find(L'\\') == std::wstring::npos)
            found.push_back(entry);
    EXPECT_EQ(found, top);
    EXPECT_TRUE(TreesEqual(kVolumes + L"\\{A}\\Metadata\\Settings\\LayerDef", Out(L"VellocsMetadata\\{A}")));
    EXPECT_TRUE(TreesEqual(kVolumes + L"\\{B}\\Metadata\\Settings\\LayerDef", Out(L"VellocsMetadata\\{B}")));
}

TEST_F(CollectorTest, ModeZeroWithoutMarkerVolumeMakesOnlyTheLogsFolder)
{
    TwoVolumes();
    EXPECT_EQ(m_metadata.Collect(Out().c_str(), nullptr, 0), 1);
    EXPECT_EQ(m_logs.Collect(Out().c_str(), nullptr, 0), 1);
    EXPECT_FALSE(FolderExists(Out(L"VellocsMetadata")));
    EXPECT_TRUE(FolderExists(Out(L"VellocsLogs")));
    EXPECT_TRUE(ListTree(Out(L"VellocsLogs")).empty());
    EXPECT_EQ(Logged("No driver log at C:\\VantfsLogFile.log"), 1);
}

// Inside the output folder everything is this run's own: a folder that is there already may be a
// link planted by another account, and nothing is written into it or through it.
TEST_F(CollectorTest, AnOutputFolderThatExistsAlreadyGetsNothing)
{
    WriteFileBytes(kDriverLog, "fresh driver log\r\n");
    WriteTree(kServiceLogs, {{L"HalvrunService.log", "service\r\n"}});
    const std::string stale = "stale content that is longer than the fresh one";
    WriteTree(Out(L"VellocsLogs"), {{L"VantfsLogFile.log", stale}});
    EXPECT_EQ(m_logs.Collect(Out().c_str(), nullptr, 2), 1);
    EXPECT_EQ(ReadFileBytes(Out(L"VellocsLogs\\VantfsLogFile.log")), stale);
    EXPECT_EQ(ListTree(Out(L"VellocsLogs")), std::vector<std::wstring>{L"VantfsLogFile.log"});
    EXPECT_EQ(LoggedError("VellocsLogs exists already: this run did not make it"), 1);
}

// A source root that is a link is not read through: the product's folders are copied from where
// they are, never from where a link planted in their place leads.
TEST_F(CollectorTest, ASourceRootThatIsALinkIsNotFollowed)
{
    ScratchFolder elsewhere(L"env-collectors-elsewhere");
    WriteTree(elsewhere.Path(), {{L"private.txt", "another profile's file"}});
    CreateDirectoryW(kProductData.c_str(), nullptr);
    CreateDirectoryW((kProductData + L"\\Halvrun").c_str(), nullptr);
    ASSERT_EQ(RunUnixShell("ln -s '" + UnixPath(elsewhere.Path()) + "' '" + UnixPath(kServiceLogs) + "'"), 0);
    ASSERT_EQ(RunUnixShell("ln -s '" + UnixPath(elsewhere.Path()) + "' '" + UnixPath(L"E:\\HRNLOGS") + "'"), 0);

    EXPECT_EQ(m_logs.Collect(Out(L"driver").c_str(), nullptr, 2), 1);
    EXPECT_EQ(m_logs.Collect(Out(L"marker").c_str(), L"E:\\", 0), 1);
    RemoveTree(kServiceLogs);
    RemoveTree(L"E:\\HRNLOGS");

    EXPECT_FALSE(FolderExists(Out(L"driver\\VellocsLogs\\ServiceLogs-DeliveryMode")));
    EXPECT_FALSE(FolderExists(Out(L"marker\\VellocsLogs\\ServiceLogs-CreationMode")));
    EXPECT_EQ(LoggedError("The source folder " + Narrow(kServiceLogs) + " is a link to "), 1);
    EXPECT_EQ(LoggedError("The source folder E:\\HRNLOGS is a link to "), 1);
    EXPECT_EQ(LoggedError("private.txt"), 0);
}

// A folder on the way to a source root that is a link (the product's own data folder, planted by
// another account) is not followed either, and the estimate counts nothing behind it.
TEST_F(CollectorTest, ALinkedFolderAboveASourceRootIsNotFollowedNorCounted)
{
    ScratchFolder elsewhere(L"env-collectors-elsewhere");
    WriteTree(elsewhere.Path(), {{L"LOGS\\private.log", "another profile's file"}});
    CreateDirectoryW(kProductData.c_str(), nullptr);
    const std::wstring halvrun = kProductData + L"\\Halvrun";
    ASSERT_EQ(RunUnixShell("ln -s '" + UnixPath(elsewhere.Path()) + "' '" + UnixPath(halvrun) + "'"), 0);

    Tallis::ImageUpdate::TreeSize size;
    m_logs.EstimateSize(nullptr, 2, size);
    EXPECT_EQ(m_logs.Collect(Out().c_str(), nullptr, 2), 1);
    RemoveTree(halvrun);

    EXPECT_EQ(size.files, 0u);
    EXPECT_FALSE(FolderExists(Out(L"VellocsLogs\\ServiceLogs-DeliveryMode")));
    EXPECT_EQ(LoggedError("The source folder " + Narrow(kServiceLogs) + " lies below " + Narrow(halvrun) +
                          ", which is a link to " + Narrow(elsewhere.Path())),
              1);
    EXPECT_EQ(LoggedError("private.log"), 0);
}

// The estimate counts a file over /maxfile as the part the copy keeps, and names the largest.
TEST_F(CollectorTest, TheEstimateCountsEachFileAtMostTheCap)
{
    WriteFileBytes(kDriverLog, std::string(3000, 'd'));
    WriteTree(kServiceLogs, {{L"HalvrunService.log", std::string(5000, 's')},
                             {L"old\\HalvrunService.1.log", std::string(700, 'o')}});
    Tallis::ImageUpdate::TreeSize size;
    size.fileCap = 1000;
    m_logs.EstimateSize(nullptr, 2, size);
    EXPECT_EQ(size.files, 3u);
    EXPECT_EQ(size.bytes, 1000u + 1000 + 700);
    EXPECT_EQ(size.largest[0].bytes, 1000u);
    EXPECT_EQ(size.largest[2].path, kServiceLogs + L"\\old\\HalvrunService.1.log");
    EXPECT_EQ(size.largest[2].bytes, 700u);
    EXPECT_EQ(size.largest[3].bytes, 0u);
}

UINT SystemOnDriveE(wchar_t* buffer, UINT size)
{
    wcsncpy(buffer, L"E:\\Windows\\system32", size);
    return 19;
}
UINT SystemDirectoryFails(wchar_t*, UINT)
{
    return 0;
}
UINT SystemDirectoryTooLong(wchar_t* buffer, UINT)
{
    buffer[0] = L'\0'; // nothing usable: only the needed size is reported
    return 300;
}

TEST_F(CollectorTest, DriverLogComesFromTheSystemDriveRoot)
{
    WriteFileBytes(kDriverLog, "from C\r\n");
    WriteFileBytes(L"E:\\VantfsLogFile.log", "from E\r\n");

    Tallis::ImageUpdate::SetSystemDirectoryForTest(SystemOnDriveE);
    EXPECT_EQ(m_logs.Collect(Out(L"e").c_str(), nullptr, 0), 1);
    EXPECT_EQ(ReadFileBytes(Out(L"e\\VellocsLogs\\VantfsLogFile.log")), "from E\r\n");

    Tallis::ImageUpdate::SetSystemDirectoryForTest(SystemDirectoryFails);
    EXPECT_EQ(m_logs.Collect(Out(L"fails").c_str(), nullptr, 0), 1);
    EXPECT_EQ(ReadFileBytes(Out(L"fails\\VellocsLogs\\VantfsLogFile.log")), "from C\r\n");

    Tallis::ImageUpdate::SetSystemDirectoryForTest(SystemDirectoryTooLong);
    EXPECT_EQ(m_logs.Collect(Out(L"long").c_str(), nullptr, 0), 1);
    EXPECT_EQ(ReadFileBytes(Out(L"long\\VellocsLogs\\VantfsLogFile.log")), "from C\r\n");
}

TEST_F(CollectorTest, VolumeWithoutLogsOrLayerDefGetsAnEmptyFolder)
{
    WriteTree(kVolumes, {{L"{Empty}\\Metadata\\Settings\\volume.ini", "no layer definition yet"}});
    EXPECT_EQ(m_logs.Collect(Out().c_str(), nullptr, 1), 1);
    EXPECT_EQ(m_metadata.Collect(Out().c_str(), nullptr, 1), 1);
    EXPECT_TRUE(FolderExists(Out(L"VellocsLogs\\ServiceLogs-CreationMode\\{Empty}")));
    EXPECT_TRUE(ListTree(Out(L"VellocsLogs\\ServiceLogs-CreationMode\\{Empty}")).empty());
    EXPECT_TRUE(FolderExists(Out(L"VellocsMetadata\\{Empty}")));
    EXPECT_TRUE(ListTree(Out(L"VellocsMetadata\\{Empty}")).empty());
    EXPECT_EQ(Logged("{Empty}\\Logs not found"), 1);
    EXPECT_EQ(Logged("{Empty}\\Metadata\\Settings\\LayerDef not found"), 1);
    EXPECT_EQ(Logged("Halvrun\\LOGS not found"), 1);
    EXPECT_FALSE(FileExists(m_scratch / L"errors.log"));
}

TEST_F(CollectorTest, MissingVolumesFolderMakesNoVolumeFolders)
{
    WriteTree(kServiceLogs, {{L"HalvrunService.log", "started\r\n"}});
    EXPECT_EQ(m_logs.Collect(Out().c_str(), nullptr, 1), 1);
    EXPECT_EQ(m_metadata.Collect(Out().c_str(), nullptr, 1), 1);
    EXPECT_TRUE(TreesEqual(kServiceLogs, Out(L"VellocsLogs\\ServiceLogs-DeliveryMode")));
    EXPECT_FALSE(FolderExists(Out(L"VellocsLogs\\ServiceLogs-CreationMode")));
    EXPECT_FALSE(FolderExists(Out(L"VellocsMetadata")));
    EXPECT_EQ(Logged("No volume folders found for C:\\ProgramData\\Korvane\\Vellocs\\Volumes\\{*}"), 2);
}

TEST_F(CollectorTest, UnreadableFileStopsItsTreeButNotTheCollector)
{
    TwoVolumes();
    WriteTree(kServiceLogs, {{L"HalvrunService.log", "started\r\n"}});
    const std::wstring locked = kServiceLogs + L"\\HalvrunService.log";
    Tallis::ImageUpdate::unique_hfile hold(
        CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(hold.is_valid());

    EXPECT_EQ(m_logs.Collect(Out().c_str(), nullptr, 1), 1);
    hold.reset();
    EXPECT_FALSE(FileExists(Out(L"VellocsLogs\\ServiceLogs-DeliveryMode\\HalvrunService.log")));
    EXPECT_EQ(LoggedError("CopyFile C:\\ProgramData\\Korvane\\Halvrun\\LOGS\\HalvrunService.log ==> "), 1);
    EXPECT_EQ(LoggedError("Copy of C:\\ProgramData\\Korvane\\Halvrun\\LOGS ==> "), 1);
    // The volumes after the broken tree are still collected in full.
    EXPECT_TRUE(TreesEqual(kVolumes + L"\\{A}\\Logs", Out(L"VellocsLogs\\ServiceLogs-CreationMode\\{A}")));
    EXPECT_TRUE(TreesEqual(kVolumes + L"\\{B}\\Logs", Out(L"VellocsLogs\\ServiceLogs-CreationMode\\{B}")));
}

TEST_F(CollectorTest, MarkerVolumeThatVanishesAfterDetection)
{
    WriteFileBytes(std::wstring(L"E:\\") + kMarkerFiles[2], "x");
    WriteTree(L"E:", {{L"HRNLOGS\\HrnService.log", "hrn\r\n"},
                      {L"KorvaneHrn\\Settings\\LayerDef\\LayerDef.xml", "<LayerDefinition/>"}});
    std::wstring root;
    ASSERT_NE(FindMarkerVolume(root), nullptr);
    ASSERT_EQ(root, L"E:\\");

    const std::string folder = DriveFolder('e');
    ASSERT_EQ(RunUnixShell("mv '" + folder + "' '" + folder + ".away'"), 0);
    const INT32 logsResult = m_logs.Collect(Out().c_str(), root.c_str(), 0);
    const INT32 metadataResult = m_metadata.Collect(Out().c_str(), root.c_str(), 0);
    ASSERT_EQ(RunUnixShell("mv '" + folder + ".away' '" + folder + "'"), 0);

    EXPECT_EQ(logsResult, 1);
    EXPECT_EQ(metadataResult, 1);
    EXPECT_TRUE(FolderExists(Out(L"VellocsLogs\\ServiceLogs-CreationMode")));
    EXPECT_TRUE(ListTree(Out(L"VellocsLogs\\ServiceLogs-CreationMode")).empty());
    EXPECT_TRUE(FolderExists(Out(L"VellocsMetadata")));
    EXPECT_TRUE(ListTree(Out(L"VellocsMetadata")).empty());
    EXPECT_EQ(Logged("Source folder E:\\HRNLOGS not found"), 1);
    EXPECT_EQ(Logged("Source folder E:\\KorvaneHrn\\Settings\\LayerDef not found"), 1);
}

} // namespace
