#include "FileTimeToSTR.h"
#include "RawBytes.h"
#include "Win32FileSize.h"

#include <gtest/gtest.h>

#include <string>

using namespace Tallis::ImageUpdate;

namespace {

std::wstring SizeText(ULONGLONG size)
{
    CWin32FileSize formatter(DWORD(size >> 32), DWORD(size & 0xFFFFFFFF));
    return formatter.GetText();
}

} // namespace

TEST(Win32FileSize, TextsAtEachUnitAndItsBoundaries)
{
    EXPECT_EQ(SizeText(0), L"0 Bytes");
    EXPECT_EQ(SizeText(1023), L"1023 Bytes");
    EXPECT_EQ(SizeText(1024), L"1.000000 KB");
    EXPECT_EQ(SizeText(1536), L"1.500000 KB");
    EXPECT_EQ(SizeText(1048575), L"1023.999023 KB");
    EXPECT_EQ(SizeText(1048576), L"1.000000 MB");
    EXPECT_EQ(SizeText(1073741823), L"1023.999999 MB");
    EXPECT_EQ(SizeText(1073741824), L"1.000000 GB");
    EXPECT_EQ(SizeText(1ull << 40), L"1024.000000 GB");
}

TEST(Win32FileSize, HighHalfCounts)
{
    CWin32FileSize formatter(1, 0);
    EXPECT_STREQ(formatter.GetText(), L"4.000000 GB");
}

TEST(Win32FileSize, FormattedOnceAndReturnedUnchanged)
{
    CWin32FileSize formatter(0, 2048);
    const wchar_t* first = formatter.GetText();
    EXPECT_STREQ(first, L"2.000000 KB");
    EXPECT_EQ(formatter.GetText(), first);
    EXPECT_STREQ(formatter.GetText(), L"2.000000 KB");
}

// The test program runs with TZ=Europe/Berlin (one hour east of UTC in March).
TEST(FileTimeToSTR, LocalTimeMonthFirstTwoBlanksNoSeconds)
{
    SYSTEMTIME utc{};
    utc.wYear = 2016;
    utc.wMonth = 3;
    utc.wDay = 7;
    utc.wHour = 13;
    utc.wMinute = 5;
    utc.wSecond = 30;
    FILETIME fileTime{};
    ASSERT_TRUE(SystemTimeToFileTime(&utc, &fileTime));
    CFileTimeToSTR text(fileTime);
    EXPECT_STREQ(text.GetText(), L"03/07/2016  14:05");
}

TEST(RawBytes, HexTextOfTwoBytes)
{
    const BYTE bytes[] = {0x01, 0xAB};
    CRawBytes raw(bytes, sizeof bytes);
    EXPECT_STREQ(raw.GetHexText(), L"01 AB ");
}

TEST(RawBytes, HexTextShowsOnlySixteenBytes)
{
    BYTE bytes[20];
    for (int i = 0; i < 20; ++i)
        bytes[i] = BYTE(i);
    CRawBytes raw(bytes, sizeof bytes);
    EXPECT_STREQ(raw.GetHexText(), L"00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F ");
}

TEST(RawBytes, EmptyBlockGivesEmptyTexts)
{
    CRawBytes raw(nullptr, 0);
    EXPECT_STREQ(raw.GetHexText(), L"");
    EXPECT_STREQ(raw.GetWideText(), L"");
}

TEST(RawBytes, WideTextOfMultiStringStopsAtFirstZero)
{
    const wchar_t multi[] = L"first\0second\0";
    CRawBytes raw(multi, sizeof multi);
    EXPECT_STREQ(raw.GetWideText(), L"first");
}

TEST(RawBytes, WideTextKeepsAtMost120Characters)
{
    const std::wstring text(300, L'x');
    CRawBytes raw(text.c_str(), DWORD((text.size() + 1) * 2));
    EXPECT_EQ(std::wstring(raw.GetWideText()), std::wstring(120, L'x'));
}

TEST(RawBytes, WideTextWithoutTerminatorEndsWithTheCopy)
{
    const wchar_t text[] = {L'a', L'b', L'c'};
    CRawBytes raw(text, sizeof text);
    EXPECT_STREQ(raw.GetWideText(), L"abc");
}

TEST(RawBytes, OddLengthStopsInsideTheCopy)
{
    // "AB" and a lone byte 'C': the half character is not read.
    const BYTE bytes[] = {'A', 0, 'B', 0, 'C'};
    CRawBytes raw(bytes, sizeof bytes);
    EXPECT_STREQ(raw.GetWideText(), L"AB");
    const BYTE one[] = {'Z'};
    CRawBytes single(one, 1);
    EXPECT_STREQ(single.GetWideText(), L"");
}

TEST(RawBytes, EachCallReplacesTheText)
{
    const wchar_t text[] = L"hi";
    CRawBytes raw(text, sizeof text);
    EXPECT_STREQ(raw.GetHexText(), L"68 00 69 00 00 00 ");
    EXPECT_STREQ(raw.GetWideText(), L"hi");
    EXPECT_STREQ(raw.GetHexText(), L"68 00 69 00 00 00 ");
}
