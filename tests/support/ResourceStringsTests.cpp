// Strings from the current resource module, and the format fields that decide which arguments a
// text reads.
#include "ResourceStrings.h"
#include "resource.h"

#include <gtest/gtest.h>

using namespace Tallis::ImageUpdate;

TEST(ResourceStrings, LoadsFromTheCurrentModuleAndRaisesForMissingIds)
{
    EXPECT_EQ(LoadResourceString(IDS_SELECT_AN_OPTION), L"Please select an option to generate Vellocs diagnostic data");
    EXPECT_EQ(LoadResourceString(IDS_STATUS_PREFIX), L"Status: ");
    try {
        (void)LoadResourceString(4242);
        FAIL() << "a missing string must raise";
    } catch (const StringLoadError& error) {
        EXPECT_STREQ(error.what(), "Load String failed");
    }
    // A module without a string table: every load raises, also for the collectors' names.
    SetResourceModule(GetModuleHandleW(L"kernel32"));
    EXPECT_THROW((void)LoadResourceString(IDS_COLLECTING_LOGS), StringLoadError);
    SetResourceModule(nullptr);
    EXPECT_EQ(GetResourceModule(), GetModuleHandleW(nullptr));
}

TEST(ResourceStrings, FormatConversionsTellWhichArgumentsATextReads)
{
    using Conversions = std::vector<std::wstring>;
    EXPECT_EQ(FormatConversions(L"%u items, 100%% sure"), (Conversions{L"u"}));
    EXPECT_EQ(FormatConversions(L"%-10s|%5.2f|%I64u|%*d|%.*s|%ls|%"),
              (Conversions{L"s", L"f", L"I64u", L"*d", L".*s", L"ls", L""}));
    EXPECT_TRUE(FormatConversions(L"no fields at all").empty());
    // Width and flags do not change what is read; type, size and order do.
    EXPECT_EQ(FormatConversions(L"%08u"), FormatConversions(L"%u"));
    EXPECT_NE(FormatConversions(L"%s %u"), FormatConversions(L"%u %s"));
    EXPECT_NE(FormatConversions(L"%s"), FormatConversions(L"%s%s"));
}
