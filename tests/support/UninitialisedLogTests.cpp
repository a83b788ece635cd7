// Runs in its own process: the log must never have been initialised.
#include "LogCapture.h"

#include <gtest/gtest.h>

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
