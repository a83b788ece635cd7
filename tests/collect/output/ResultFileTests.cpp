#include "ResultFile.h"
#include "UniqueHandles.h"

#include <TestSupport.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <regex>

using namespace Tallis::ImageUpdate;
using namespace kvotest;
using nlohmann::json;

namespace {

constexpr char kEmptySha256[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
constexpr char kAbcSha256[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

// A run as the session would have filled it: what it was asked and what it found.
struct SampleRun {
    RunRequest request;
    RunRecord record;

    explicit SampleRun(const std::wstring& folder)
    {
        request.layerMode = 2;
        record.toolVersion = L"1.0.0.0";
        record.commandLine = L"KvoVellocsDiag.exe /quiet /zip";
        record.machine = ReadMachineFacts();
        record.started = L"2026-12-09T10:30:00Z";
        record.ended = L"2026-12-09T10:31:05Z";
        record.outputFolder = folder;
        record.uiLanguage = L"en-US";
        record.end = RunEnd::ItemsMissed;
        using Outcome = CollectorRecord::Outcome;
        record.collectors = {CollectorRecord{true, true, Outcome::Ok, 1.5, 3, 4096},
                             CollectorRecord{true, false, Outcome::Unavailable, 0, 0, 0},
                             CollectorRecord{false, true, Outcome::NotSelected, 0, 0, 0}};
        RunErrorEntry error;
        error.utcTime = SYSTEMTIME{2026, 12, 3, 9, 10, 30, 7, 0};
        error.unit = L"CVellocsLogs";
        error.text = L"Copy of a ==> b is incomplete, Error:32";
        record.errors = {error};
    }
};

DWORD Write(const SampleRun& run)
{
    return WriteResultFile(run.request, run.record);
}

json ReadResult(const std::wstring& folder)
{
    const std::string text = ReadFileBytes(folder + L"\\" + kResultFileName);
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.rfind("\xEF\xBB\xBF", 0), 0u) << "no byte order mark";
    return json::parse(text);
}

} // namespace

class ResultFileTest : public ::testing::Test {
protected:
    ScratchFolder folder{L"result"};

    void SetUp() override
    {
        CreateDirectoryW((folder / L"VellocsLogs").c_str(), nullptr);
        CreateDirectoryW((folder / L"VellocsLogs\\empty-folder").c_str(), nullptr);
        WriteFileBytes(folder / L"VellocsLogs\\abc.log", "abc");
        WriteFileBytes(folder / L"VellocsLogs\\\u00e9t\u00e9.txt", "");
        WriteFileBytes(folder / L"KvoVellocsDiag.log", "abc");
    }
};

TEST_F(ResultFileTest, KeysAndTypes)
{
    ASSERT_EQ(Write(SampleRun(folder.Path())), 0u);
    const json doc = ReadResult(folder.Path());

    EXPECT_EQ(doc["schema"], 1);
    EXPECT_EQ(doc["tool"]["name"], "KvoVellocsDiag");
    EXPECT_EQ(doc["tool"]["version"], "1.0.0.0");
    EXPECT_EQ(doc["tool"]["commandLine"], "KvoVellocsDiag.exe /quiet /zip");
    const json& machine = doc["machine"];
    for (const char* key : {"computerName", "osVersion", "user"})
        EXPECT_TRUE(machine[key].is_string() && !machine[key].get<std::string>().empty()) << key;
    EXPECT_TRUE(machine["elevated"].is_boolean());
    EXPECT_EQ(doc["product"]["layerMode"], 2);
    EXPECT_TRUE(doc["product"]["markerVolume"].is_null());
    EXPECT_EQ(doc["run"]["started"], "2026-12-09T10:30:00Z");
    EXPECT_EQ(doc["run"]["ended"], "2026-12-09T10:31:05Z");
    EXPECT_EQ(doc["run"]["outputFolder"], Narrow(folder.Path()));
    EXPECT_EQ(doc["run"]["uiLanguage"], "en-US");
    EXPECT_EQ(doc["run"]["outcome"], "completed-with-errors");

    ASSERT_EQ(doc["collectors"].size(), 3u);
    const json& logs = doc["collectors"][0];
    EXPECT_EQ(logs["name"], "VellocsLogs");
    EXPECT_EQ(logs["selected"], true);
    EXPECT_EQ(logs["available"], true);
    EXPECT_EQ(logs["outcome"], "ok");
    EXPECT_DOUBLE_EQ(logs["seconds"].get<double>(), 1.5);
    EXPECT_EQ(logs["files"], 3);
    EXPECT_EQ(logs["bytes"], 4096);
    EXPECT_EQ(doc["collectors"][1]["outcome"], "unavailable");
    EXPECT_EQ(doc["collectors"][2]["name"], "OSLogs");
    EXPECT_EQ(doc["collectors"][2]["selected"], false);
    EXPECT_FALSE(doc["collectors"][2].contains("script")) << "a script that did not run is not named";

    ASSERT_EQ(doc["errors"].size(), 1u);
    EXPECT_EQ(doc["errors"][0]["time"], "2026-12-09T10:30:07Z");
    EXPECT_EQ(doc["errors"][0]["unit"], "CVellocsLogs");
    EXPECT_EQ(doc["errors"][0]["text"], "Copy of a ==> b is incomplete, Error:32");

    // Read again keeping the order of the keys as written.
    const auto ordered = nlohmann::ordered_json::parse(ReadFileBytes(folder / kResultFileName));
    std::vector<std::string> order;
    for (const auto& item : ordered.items())
        order.push_back(item.key());
    EXPECT_EQ(order, (std::vector<std::string>{"schema", "tool", "machine", "product", "run", "collectors", "errors",
                                                "notCollected", "files"}));
}

TEST_F(ResultFileTest, FilesListedWithSizesAndHashesButNotItself)
{
    SampleRun run(folder.Path());
    run.request.markerVolumeRoot = L"E:\\";
    // A stale temporary from an interrupted run is neither listed nor left behind.
    WriteFileBytes(folder / kResultTempFileName, "{half");
    ASSERT_EQ(Write(run), 0u);
    // The second write replaces the first, which must not list itself either.
    ASSERT_EQ(Write(run), 0u);
    const json doc = ReadResult(folder.Path());
    EXPECT_EQ(doc["product"]["markerVolume"], "E:\\");

    const json& files = doc["files"];
    ASSERT_EQ(files.size(), 3u) << files.dump();
    EXPECT_EQ(files[0]["path"], "KvoVellocsDiag.log");
    EXPECT_EQ(files[0]["size"], 3);
    EXPECT_EQ(files[0]["sha256"], kAbcSha256);
    EXPECT_EQ(files[1]["path"], "VellocsLogs\\abc.log");
    EXPECT_EQ(files[1]["sha256"], kAbcSha256);
    EXPECT_EQ(files[2]["path"], "VellocsLogs\\\xC3\xA9t\xC3\xA9.txt");
    EXPECT_EQ(files[2]["size"], 0);
    EXPECT_EQ(files[2]["sha256"], kEmptySha256);
    for (const json& file : files)
        EXPECT_FALSE(file.contains("error"));

    EXPECT_FALSE(FileExists(folder / kResultTempFileName));
    EXPECT_EQ(ListTree(folder.Path()).size(), 6u) << "result file, log, folder, empty folder and two files";
}

// A copy whose source had several names says so in its entry, found by its place in the output
// folder whatever the case of the path the copy reported.
TEST_F(ResultFileTest, AFileCopiedFromAHardLinkedSourceCarriesItsLinkCount)
{
    SampleRun run(folder.Path());
    run.record.hardLinked = {{folder / L"VELLOCSLOGS\\abc.log", 2}, {folder / L"elsewhere\\abc.log", 5}};
    ASSERT_EQ(Write(run), 0u);
    const json doc = ReadResult(folder.Path());
    const json& files = doc["files"];
    ASSERT_EQ(files.size(), 3u) << files.dump();
    EXPECT_EQ(files[1]["path"], "VellocsLogs\\abc.log");
    EXPECT_EQ(files[1]["links"], 2);
    EXPECT_FALSE(files[0].contains("links"));
    EXPECT_FALSE(files[2].contains("links"));
}

TEST_F(ResultFileTest, TheOsLogCollectorNamesTheScriptThatRan)
{
    SampleRun run(folder.Path());
    run.record.collectors[2] = {true, true, CollectorRecord::Outcome::Ok, 0.5, 0, 0};
    ASSERT_EQ(Write(run), 0u);
    EXPECT_EQ(ReadResult(folder.Path())["collectors"][2]["script"], "carried");

    run.request.script.path = L"D:\\Support\\my script.bat";
    run.request.script.sha256 = Widen(kAbcSha256);
    ASSERT_EQ(Write(run), 0u);
    const json script = ReadResult(folder.Path())["collectors"][2]["script"];
    EXPECT_EQ(script["path"], "D:\\Support\\my script.bat");
    EXPECT_EQ(script["sha256"], kAbcSha256);
}

TEST_F(ResultFileTest, LockedFileIsListedWithItsError)
{
    unique_hfile holder(CreateFileW((folder / L"VellocsLogs\\abc.log").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.is_valid());
    ASSERT_EQ(Write(SampleRun(folder.Path())), 0u);
    const json doc = ReadResult(folder.Path());
    const json& locked = doc["files"][1];
    EXPECT_EQ(locked["path"], "VellocsLogs\\abc.log");
    EXPECT_EQ(locked["size"], 3);
    EXPECT_TRUE(locked["sha256"].is_null());
    EXPECT_EQ(locked["error"], ERROR_SHARING_VIOLATION);
    EXPECT_EQ(doc["files"][0]["sha256"], kAbcSha256);
}

TEST_F(ResultFileTest, UnpairedSurrogateStillGivesValidJson)
{
    SampleRun run(folder.Path());
    run.record.commandLine = std::wstring(L"bad \xD800 text");
    ASSERT_EQ(Write(run), 0u);
    const json doc = ReadResult(folder.Path());
    EXPECT_EQ(doc["tool"]["commandLine"], "bad \xEF\xBF\xBD text");
}

TEST_F(ResultFileTest, DeepPathsAndMissingFolder)
{
    std::wstring deep = folder.Path();
    std::wstring relative;
    for (int i = 0; i < 6; ++i) {
        const std::wstring part(50, wchar_t(L'k' + i));
        deep += L"\\" + part;
        relative += part + L"\\";
        CreateDirectoryW(LongForm(deep).c_str(), nullptr);
    }
    WriteFileBytes(deep + L"\\abc.txt", "abc");
    ASSERT_EQ(Write(SampleRun(folder.Path())), 0u);
    const json files = ReadResult(folder.Path())["files"];
    bool found = false;
    for (const json& file : files)
        if (file["path"] == Narrow(relative + L"abc.txt"))
            found = file["sha256"] == kAbcSha256;
    EXPECT_TRUE(found) << files.dump(1);

    const std::wstring missing = folder / L"not-there";
    EXPECT_EQ(Write(SampleRun(missing)), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(FolderExists(missing));
}

TEST(ResultFileTimeTest, Iso8601Utc)
{
    SYSTEMTIME utc{2026, 12, 3, 9, 7, 5, 3, 999};
    EXPECT_EQ(FormatUtcIso8601(utc), L"2026-12-09T07:05:03Z");
}

TEST(MachineFactsTest, ReadFromThisProcess)
{
    const MachineFacts facts = ReadMachineFacts();
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(name, &length));
    EXPECT_EQ(facts.computerName, name);
    EXPECT_TRUE(std::regex_match(Narrow(facts.osVersion), std::regex(R"(\d+\.\d+\.\d+)"))) << Narrow(facts.osVersion);
    wchar_t user[257];
    length = 257;
    ASSERT_TRUE(GetUserNameW(user, &length));
    const std::wstring& full = facts.user;
    EXPECT_TRUE(full == user || (full.size() > length && full.substr(full.size() - wcslen(user) - 1) ==
                                                             std::wstring(L"\\") + user))
        << Narrow(full);
    // The tests carry the program's resources, so the version resource is this one.
    EXPECT_EQ(ReadToolVersion(), L"1.0.0.0");
}
