#include "LogCapture.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

using namespace Tallis::ImageUpdate;
using namespace kvotest;

namespace {

// [LEVEL][MM-DD-YYYY hh:mm:ss]unit-padded-to-15[line] message
const std::regex kEntry(R"(^\[(DEBUG|INFO |WARN |ERROR)\]\[\d\d-\d\d-\d{4} \d\d:\d\d:\d\d\].{15}\[\d{4,}\] .*$)");

} // namespace

class DiagnosticLogFiles : public ::testing::Test {
protected:
    ScratchLog log{L"diaglog"};
};

TEST_F(DiagnosticLogFiles, NewFilesStartWithBomAndEntriesEndInCrLf)
{
    LogMessage(LOG_INFO, 85, L"WSFileSystem", L"plain %s and %d", L"wide", 42);
    const std::string raw = ReadFileBytes(log.FullLogPath());
    ASSERT_EQ(raw.rfind("\xEF\xBB\xBF", 0), 0u) << "no UTF-8 byte order mark";
    const auto lines = LogLines(log.FullLog());
    ASSERT_EQ(lines.size(), 2u); // the initialisation entry and ours
    EXPECT_TRUE(std::regex_match(lines[0], kEntry)) << lines[0];
    EXPECT_NE(lines[0].find("]Image_Log      ["), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("] Log initialized, Full log:"), std::string::npos) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], kEntry)) << lines[1];
    EXPECT_EQ(lines[1].substr(0, 7), "[INFO ]");
    EXPECT_EQ(lines[1].substr(28), "WSFileSystem   [0085] plain wide and 42");
    EXPECT_EQ(raw.back(), '\n');
    EXPECT_EQ(raw[raw.size() - 2], '\r');
    EXPECT_EQ(raw.find("\n\n"), std::string::npos);
    EXPECT_EQ(log.ErrorLog(), "") << "info entries stay out of the error log";
}

TEST_F(DiagnosticLogFiles, LevelsReachTheirFiles)
{
    LogMessage(LOG_DEBUG, 1, L"unit", L"debug entry");
    LogMessage(LOG_WARN, 2, L"unit", L"warn entry");
    LogMessage(LOG_ERROR, 3, L"unit", L"error entry");
    const std::string full = log.FullLog();
    EXPECT_EQ(full.find("debug entry"), std::string::npos);
    EXPECT_NE(full.find("[WARN ]"), std::string::npos);
    const auto errors = LogLines(log.ErrorLog());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].substr(0, 7), "[ERROR]");
    EXPECT_NE(errors[0].find("[0003] error entry"), std::string::npos);
    // The same line stands in the full log.
    EXPECT_NE(full.find(errors[0] + "\r\n"), std::string::npos);
}

TEST_F(DiagnosticLogFiles, SourceUnitLineAndMessageAreCutAsFormatted)
{
    LogMessage(LOG_INFO, 12345, L"imageupdate_lib\\ListNodeData_REGVALUE", L"x");
    LogMessage(LOG_INFO, 7, nullptr, L"%s", std::wstring(1100, L'm').c_str());
    LogMessage(LOG_INFO, 8, L"unit", L"caf\u00e9 \u4e2d %s", L"\u00fc");
    const auto lines = LogLines(log.FullLog());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1].substr(28), "ListNodeData   [12345] x");
    EXPECT_EQ(lines[2].substr(28, 22), "               [0007] ");
    EXPECT_EQ(lines[2].size() - 50, 1024u) << "the message is cut to 1024 characters";
    EXPECT_EQ(lines[3].substr(50), "caf\xC3\xA9 \xE4\xB8\xAD \xC3\xBC");
}

TEST_F(DiagnosticLogFiles, EveryEntryAlsoReachesTheDebuggerOutput)
{
    DebugOutputCapture capture;
    LogMessage(LOG_DEBUG, 4, L"unit", L"only here");
    LogMessage(LOG_ERROR, 5, L"unit", L"everywhere");
    const std::wstring text = capture.Text();
    EXPECT_NE(text.find(L"[DEBUG]"), std::wstring::npos);
    EXPECT_NE(text.find(L"[0004] only here\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"[0005] everywhere\n"), std::wstring::npos);
}

TEST_F(DiagnosticLogFiles, ConcurrentWritersNeverInterleave)
{
    constexpr int kThreads = 8;
    constexpr int kEntries = 150;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < kEntries; ++i)
                LogMessage(i % 3 == 0 ? LOG_ERROR : LOG_INFO, t, L"thread", L"writer %d entry %d %s", t, i,
                           std::wstring(200, wchar_t(L'a' + t)).c_str());
        });
    }
    for (auto& writer : writers)
        writer.join();
    const auto lines = LogLines(log.FullLog());
    ASSERT_EQ(lines.size(), size_t(1 + kThreads * kEntries));
    const std::regex entry(R"(^\[(INFO |ERROR)\]\[[^\]]+\]thread         \[(\d{4})\] writer (\d) entry (\d+) ([a-h]{200})$)");
    std::vector<int> next(kThreads, 0);
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, entry)) << "mangled line " << i << ": " << lines[i];
        const int writer = std::stoi(match[3]);
        EXPECT_EQ(std::stoi(match[2]), writer);
        EXPECT_EQ(std::stoi(match[4]), next[size_t(writer)]++) << "entries of one writer out of order";
        EXPECT_EQ(match[5].str(), std::string(200, char('a' + writer)));
    }
    EXPECT_EQ(LogLines(log.ErrorLog()).size(), size_t(kThreads * ((kEntries + 2) / 3)));
}

class DiagnosticLogSetup : public ::testing::Test {
protected:
    ScratchFolder folder{L"diaglog-setup"};
};

TEST_F(DiagnosticLogSetup, RotatesOnlyAboveTwoMebibytesAtInitialisation)
{
    const std::wstring full = folder / L"full.log";
    const std::wstring errors = folder / L"errors.log";
    const std::string atLimit(2097152, 'x');
    WriteFileBytes(full, atLimit);
    WriteFileBytes(errors, atLimit + "y");
    WriteFileBytes(errors + L".bak", "older backup");

    InitializeLog(full.c_str(), errors.c_str());
    EXPECT_FALSE(FileExists(full + L".bak")) << "a log of exactly 2 MiB is kept";
    EXPECT_EQ(ReadFileBytes(full).substr(0, 2097152), atLimit);
    EXPECT_EQ(ReadFileBytes(errors + L".bak"), atLimit + "y") << "one byte more is rotated, replacing the old backup";
    EXPECT_FALSE(FileExists(errors)) << "the error log starts again with its next entry";

    // Logging grows a file past the limit without rotating it.
    for (int i = 0; i < 3; ++i)
        LogMessage(LOG_INFO, 1, L"unit", L"%s", std::wstring(1000, L'z').c_str());
    EXPECT_FALSE(FileExists(full + L".bak"));
    EXPECT_GT(ReadFileBytes(full).size(), 2097152u + 3000u);
}

TEST_F(DiagnosticLogSetup, EmptyErrorLogNameSendsErrorsToTheFullLogOnly)
{
    const std::wstring full = folder / L"only-full.log";
    InitializeLog(full.c_str(), L"");
    LogMessage(LOG_ERROR, 9, L"unit", L"lonely error");
    EXPECT_NE(ReadFileBytes(full).find("[0009] lonely error\r\n"), std::string::npos);
}

TEST_F(DiagnosticLogSetup, UnopenableFullLogGoesToTheDebuggerOutput)
{
    const std::wstring full = folder / L"missing\\full.log";
    InitializeLog(full.c_str(), (folder / L"missing\\errors.log").c_str());
    DebugOutputCapture capture;
    LogMessage(LOG_WARN, 10, L"unit", L"nowhere to go");
    const std::wstring text = capture.Text();
    EXPECT_NE(text.find(L"Failed to open the log file " + full + L"  \n[WARN ]"), std::wstring::npos)
        << Narrow(text);
    EXPECT_NE(text.find(L"[0010] nowhere to go\n"), std::wstring::npos);
    EXPECT_FALSE(FolderExists(folder / L"missing"));
}

TEST_F(DiagnosticLogSetup, EmptyFullLogNameOnlyGivesTheNotice)
{
    InitializeLog(L"", L"");
    DebugOutputCapture capture;
    LogMessage(LOG_ERROR, 11, L"unit", L"dropped");
    EXPECT_EQ(capture.Text(), L"Image update log file names are not initialized, logging is disabled\n");
}

TEST_F(DiagnosticLogSetup, OverlongNamesAreCutAndDoNotEndTheProcess)
{
    // 2047 characters is the longest name kept; rotation then needs room for ".bak" beyond it.
    const std::wstring name = folder.Path() + L"\\" + std::wstring(2100, L'n');
    InitializeLog(name.c_str(), name.c_str());
    DebugOutputCapture capture;
    LogMessage(LOG_INFO, 12, L"unit", L"still alive");
    EXPECT_NE(capture.Text().find(L"Failed to open the log file " + name.substr(0, 2047) + L"  \n"),
              std::wstring::npos);
}
