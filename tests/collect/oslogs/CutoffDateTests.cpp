#include "WindowsOSLogs.h"

#include <gtest/gtest.h>

#include <string>

namespace {

SYSTEMTIME Local(WORD year, WORD month, WORD day, WORD hour = 12, WORD minute = 0)
{
    SYSTEMTIME time{};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = hour;
    time.wMinute = minute;
    return time;
}

std::wstring Cutoff(WORD year, WORD month, WORD day, WORD hour = 12, WORD minute = 0)
{
    return CWindowsOSLogs::FormatCutoffDate(Local(year, month, day, hour, minute));
}

} // namespace

TEST(CutoffDate, HasTheFixedShapeOfTwentyFourCharacters)
{
    const std::wstring date = Cutoff(2024, 6, 20);
    EXPECT_EQ(date.size(), CWindowsOSLogs::kCutoffDateChars);
    EXPECT_EQ(date, L"20240521000000.000000-60");
}

TEST(CutoffDate, ThirtyDaysBackAcrossFebruary)
{
    EXPECT_EQ(Cutoff(2024, 2, 15), L"20240116000000.000000-60"); // leap year, within January
    EXPECT_EQ(Cutoff(2023, 3, 10), L"20230208000000.000000-60"); // February of 28 days
    EXPECT_EQ(Cutoff(2024, 3, 10), L"20240209000000.000000-60"); // February of 29 days
    EXPECT_EQ(Cutoff(2100, 3, 1), L"21000130000000.000000-60");  // no leap day in 2100
    EXPECT_EQ(Cutoff(2000, 3, 1), L"20000131000000.000000-60");  // but in 2000
    EXPECT_EQ(Cutoff(2024, 3, 31), L"20240301000000.000000-60");
}

TEST(CutoffDate, TurnOfTheYear)
{
    EXPECT_EQ(Cutoff(2025, 1, 10), L"20241211000000.000000-60");
    EXPECT_EQ(Cutoff(2025, 1, 30), L"20241231000000.000000-60");
    EXPECT_EQ(Cutoff(2025, 1, 31), L"20250101000000.000000-60");
    EXPECT_EQ(Cutoff(2024, 12, 31), L"20241201000000.000000-60");
}

// The suite runs with TZ=Europe/Berlin: daylight saving time starts on 2024-03-31 at 02:00 and
// ends on 2024-10-27 at 03:00. Times shortly after midnight are where a zone-aware normalisation
// with a stale daylight flag slips into the previous day.
TEST(CutoffDate, DaylightSavingChangesDoNotMoveTheDate)
{
    EXPECT_EQ(Cutoff(2024, 4, 30, 0, 30), L"20240331000000.000000-60"); // summer time back to the switch day
    EXPECT_EQ(Cutoff(2024, 4, 30, 2, 30), L"20240331000000.000000-60"); // lands in the skipped hour
    EXPECT_EQ(Cutoff(2024, 3, 31, 0, 30), L"20240301000000.000000-60"); // on the switch day itself
    EXPECT_EQ(Cutoff(2024, 3, 31, 23, 59), L"20240301000000.000000-60");
    EXPECT_EQ(Cutoff(2024, 11, 26, 0, 15), L"20241027000000.000000-60"); // back to the day of the fall-back
    EXPECT_EQ(Cutoff(2024, 10, 27, 2, 30), L"20240927000000.000000-60"); // the repeated hour
    EXPECT_EQ(Cutoff(2024, 11, 1, 0, 0), L"20241002000000.000000-60");   // winter time into summer time
}

TEST(CutoffDate, TimeOfDayNeverMattersOnAnyDayOfTheYear)
{
    SYSTEMTIME morning = Local(2024, 1, 1, 0, 0);
    SYSTEMTIME evening = Local(2024, 1, 1, 23, 59);
    FILETIME step{};
    for (int day = 0; day < 366; ++day) {
        const std::wstring early = CWindowsOSLogs::FormatCutoffDate(morning);
        ASSERT_EQ(early, CWindowsOSLogs::FormatCutoffDate(evening)) << "day " << day;
        // Independent check through the system's own calendar: the day 30 days earlier.
        ULARGE_INTEGER value{};
        SystemTimeToFileTime(&morning, &step);
        value.LowPart = step.dwLowDateTime;
        value.HighPart = step.dwHighDateTime;
        value.QuadPart -= 30ull * 24 * 3600 * 10000000;
        step.dwLowDateTime = value.LowPart;
        step.dwHighDateTime = value.HighPart;
        SYSTEMTIME back{};
        FileTimeToSystemTime(&step, &back);
        wchar_t expected[32];
        _snwprintf(expected, 32, L"%04u%02u%02u000000.000000-60", back.wYear, back.wMonth, back.wDay);
        ASSERT_EQ(early, expected) << "day " << day;
        // Next day, both at midnight and one minute before the next.
        value.QuadPart += 31ull * 24 * 3600 * 10000000;
        step.dwLowDateTime = value.LowPart;
        step.dwHighDateTime = value.HighPart;
        FileTimeToSystemTime(&step, &morning);
        evening = morning;
        evening.wHour = 23;
        evening.wMinute = 59;
    }
}
