// Runs in its own process: the log must never have been initialised.
#include "LogCapture.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace Tallis::ImageUpdate;

TEST(UninitialisedLog, EntriesOnlyGiveTheNoticeAndWriteNoFile)
{
    kvotest::ScratchFolder folder(L"uninit-log");
    SetCurrentDirectoryW(folder.Path().c_str());
    kvotest::DebugOutputCapture capture;
    LogMessage(LOG_ERROR, 1, L"unit", L"before start-up");
    LogMessage(LOG_INFO, 2, L"unit", L"again");
    EXPECT_EQ(capture.Text(), L"Image update logging is not initialized, logging is disabled\n"
                              L"Image update logging is not initialized, logging is disabled\n");
    EXPECT_TRUE(kvotest::ListTree(folder.Path()).empty());
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    SetCurrentDirectoryW(temp);
}

// Still in a process whose log was never started: many threads start it at the same moment and
// log at once. The lock must be created once, and every entry must arrive whole.
TEST(UninitialisedLog, FirstStartFromManyThreadsAtOnce)
{
    kvotest::ScratchFolder folder(L"uninit-log-race");
    const std::wstring full = folder / L"full.log";
    const std::wstring errors = folder / L"errors.log";
    constexpr int kThreads = 8;
    constexpr int kEntries = 50;
    HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(start, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            WaitForSingleObject(start, INFINITE);
            InitializeLog(full.c_str(), errors.c_str());
            for (int i = 0; i < kEntries; ++i)
                LogMessage(LOG_INFO, 7, L"race", L"thread %d entry %d", t, i);
        });
    }
    SetEvent(start);
    for (auto& thread : threads)
        thread.join();
    CloseHandle(start);

    const auto lines = kvotest::LogLines(kvotest::ReadFileBytes(full));
    int entries = 0;
    for (const std::string& line : lines) {
        if (line.find("Log initialized") != std::string::npos)
            continue;
        EXPECT_NE(line.find("race"), std::string::npos) << line;
        ++entries;
    }
    EXPECT_EQ(entries, kThreads * kEntries);
}
