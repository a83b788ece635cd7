// Unattended runs over product logs that the old recursive walks could not take: a tree 1,500
// folders deep with a pair of hard-linked files, and a run refused for space that names the
// largest files it would have copied.
#include "QuietRunSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace kvoapp;
using kvotest::Narrow;
using kvotest::RunUnixShell;
using kvotest::UnixPath;

namespace {

// Every walk of a deep folder costs time in proportion to its depth under Wine.
constexpr DWORD kDeepRunMs = 2400000;
constexpr int kDepth = 1500;
const std::wstring kServiceLogs = L"C:\\ProgramData\\Korvane\\Halvrun\\LOGS";

std::wstring Quote(const std::wstring& path)
{
    return L"\"" + path + L"\"";
}

// Removed from the Unix side: the test helpers' own walks recurse.
void RemoveDeep(const std::wstring& path)
{
    const std::string unixPath = UnixPath(path);
    if (!unixPath.empty())
        (void)RunUnixShell("rm -rf '" + unixPath + "'");
}

std::string DeepUnixRelative()
{
    std::string relative;
    for (int level = 0; level < kDepth; ++level)
        relative += "d/";
    return relative;
}

class DeepTreeRun : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override
    {
        Clean();
        // The output holds the deep copy too; the scratch folder's own removal would recurse.
        (void)RunUnixShell("rm -rf '" + UnixPath(base.Path()) + "'/*");
    }
    static void Clean()
    {
        RemoveDeep(kServiceLogs + L"\\deep");
        RemoveDeep(kServiceLogs + L"\\linked-a.log");
        RemoveDeep(kServiceLogs + L"\\linked-b.log");
        for (int i = 0; i < 6; ++i)
            RemoveDeep(kServiceLogs + L"\\large-" + std::to_wstring(i) + L".log");
    }

    kvotest::ScratchFolder base{L"deep-run"};
};

TEST_F(DeepTreeRun, AQuietRunCopiesTheDeepestFileAndMarksHardLinkedFiles)
{
    const std::string logs = UnixPath(kServiceLogs);
    ASSERT_FALSE(logs.empty());
    const std::string deepest = logs + "/deep/" + DeepUnixRelative() + "deepest.log";
    ASSERT_EQ(RunUnixShell("mkdir -p '" + logs + "/deep/" + DeepUnixRelative() + "' && printf 'the deepest file' > '" +
                           deepest + "' && printf 'one file, two names' > '" + logs + "/linked-a.log' && ln '" +
                           logs + "/linked-a.log' '" + logs + "/linked-b.log'",
                           120000),
              0);

    const ProgramRun run = RunProgram(L"/quiet /zip /collect logs /reserve 0 /out " + Quote(base.Path()), kDeepRunMs);
    EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.exitCode << "\n" << run.output;
    const std::wstring folder = FindOutputFolder(base.Path());
    ASSERT_FALSE(folder.empty()) << run.output;

    const std::string copied = UnixPath(folder) + "/VellocsLogs/ServiceLogs-DeliveryMode/deep/" + DeepUnixRelative() +
                               "deepest.log";
    EXPECT_EQ(RunUnixShell("cmp -s '" + deepest + "' '" + copied + "'"), 0) << "the deepest file was not copied";

    nlohmann::json result;
    ASSERT_TRUE(ReadResultFile(folder, result));
    std::string deepestPath = "VellocsLogs\\ServiceLogs-DeliveryMode\\deep\\";
    for (int level = 0; level < kDepth; ++level)
        deepestPath += "d\\";
    deepestPath += "deepest.log";
    bool deepestListed = false;
    int linked = 0;
    for (const auto& file : result["files"]) {
        const std::string path = file["path"];
        if (path == deepestPath) {
            deepestListed = true;
            EXPECT_EQ(file["size"], 16);
            EXPECT_TRUE(file["sha256"].is_string());
        }
        const bool pair = path.find("ServiceLogs-DeliveryMode\\linked-") != std::string::npos;
        EXPECT_EQ(file.contains("links"), pair) << path;
        if (pair) {
            EXPECT_EQ(file["links"], 2) << path;
            ++linked;
        }
    }
    EXPECT_TRUE(deepestListed);
    EXPECT_EQ(linked, 2);

    // The archive holds the deepest file as well, read back by Python's zipfile.
    const std::string check = "python3 -c \"import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
                              "assert z.testzip() is None; n = [i for i in z.namelist() if i.endswith('/deepest.log')]; "
                              "assert len(n) == 1 and n[0].split('/').count('d') == " + std::to_string(kDepth) +
                              " and z.read(n[0]) == b'the deepest file'\" '" + UnixPath(folder + L".zip") + "'";
    EXPECT_EQ(RunUnixShell(check, 300000), 0) << "the archive lacks the deepest file";
}

// The refusal names the largest files, each as /maxfile would cut it, so that the administrator can
// choose /maxfile or another volume.
TEST_F(DeepTreeRun, ARunThatDoesNotFitNamesTheLargestFiles)
{
    const std::string logs = UnixPath(kServiceLogs);
    ASSERT_EQ(RunUnixShell("for i in 0 1 2 3 4 5; do head -c $(( (i + 3) * 1048576 )) /dev/zero > '" + logs +
                           "'/large-$i.log; done"),
              0);
    const ProgramRun run = RunProgram(L"/quiet /collect logs /reserve 16000000 /maxfile 7 /out " + Quote(base.Path()));
    EXPECT_EQ(run.exitCode, 4u) << run.output;
    EXPECT_NE(run.output.find("not enough free space on"), std::string::npos) << run.output;
    // 3 to 8 MB, cut at 7 MB: 8 and 7 count 7 MB each, then 6, 5 and 4; the 3 MB file is left out.
    const std::string path = Narrow(kServiceLogs) + "\\large-";
    for (const char* line : {"7.0 MB  ", "6.0 MB  ", "5.0 MB  ", "4.0 MB  "})
        EXPECT_NE(run.output.find(line + path), std::string::npos) << line << " in:\n" << run.output;
    EXPECT_EQ(run.output.find("8.0 MB  " + path), std::string::npos) << run.output;
    for (int i : {1, 2, 3, 4, 5})
        EXPECT_NE(run.output.find(path + std::to_string(i) + ".log"), std::string::npos) << i << ":\n" << run.output;
    EXPECT_EQ(run.output.find(path + "0.log"), std::string::npos) << run.output;
    EXPECT_TRUE(FindOutputFolder(base.Path()).empty());
}

} // namespace
