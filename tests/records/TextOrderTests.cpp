// The lists' order against lstrcmpiW itself, over 100,000 random texts: letter case, digits,
// blanks, hyphens, apostrophes, other symbols, accented Latin letters, sharp s, Greek and CJK,
// with texts that differ only in case or in a hyphen and texts that are prefixes of others.
#include "ListNodeData_STR.h"
#include "SortedLinkList_STR.h"
#include "TextCollation.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace Tallis::ImageUpdate;

namespace {

constexpr int kTexts = 100000;

const std::wstring kAsciiLetters = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
const std::wstring kDigits = L"0123456789";
const std::wstring kSymbols = L" -'!\"#$%&()*+,./:;<=>?@[\\]^_`{|}~\t";
const std::wstring kAccented = L"\u00E0\u00E1\u00E2\u00E4\u00E5\u00E7\u00E8\u00E9\u00EA\u00EB\u00ED\u00EE\u00EF"
                               L"\u00F1\u00F3\u00F4\u00F6\u00F9\u00FA\u00FC\u00FD\u00FF\u00C0\u00C4\u00C5\u00C7"
                               L"\u00C9\u00D1\u00D6\u00DC\u00DF\u0153\u0152";
const std::wstring kGreek = L"\u03B1\u03B2\u03B3\u03B4\u03B5\u03B6\u03B7\u03B8\u03BB\u03BC\u03C0\u03C3\u03C2"
                            L"\u03C9\u0391\u0392\u0393\u0394\u03A3\u03A9\u03AC\u03AD";

bool Less(const std::wstring& a, const std::wstring& b)
{
    return lstrcmpiW(a.c_str(), b.c_str()) < 0;
}

class TextOrder : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_texts = MakeTexts(); }
    static void TearDownTestSuite() { s_texts.clear(); }

    static std::vector<std::wstring> MakeTexts()
    {
        std::mt19937 random(20261209);
        const auto pick = [&](int n) { return int(random() % unsigned(n)); };
        const auto from = [&](const std::wstring& pool) { return pool[std::size_t(pick(int(pool.size())))]; };
        std::vector<std::wstring> texts;
        texts.reserve(kTexts);
        while (int(texts.size()) < kTexts) {
            const int kind = pick(100);
            if (kind < 10 && !texts.empty()) {
                // Only the letter case differs.
                std::wstring text = texts[std::size_t(pick(int(texts.size())))];
                for (wchar_t& c : text) {
                    if (pick(2))
                        CharUpperBuffW(&c, 1);
                    else
                        CharLowerBuffW(&c, 1);
                }
                texts.push_back(text);
            } else if (kind < 18 && !texts.empty()) {
                // A prefix of another text.
                const std::wstring& other = texts[std::size_t(pick(int(texts.size())))];
                texts.push_back(other.substr(0, std::size_t(pick(int(other.size()) + 1))));
            } else if (kind < 24 && !texts.empty()) {
                // The same letters with a hyphen or an apostrophe put in.
                std::wstring text = texts[std::size_t(pick(int(texts.size())))];
                text.insert(std::size_t(pick(int(text.size()) + 1)), 1, pick(2) ? L'-' : L'\'');
                texts.push_back(text);
            } else {
                const bool ascii = kind < 64;
                std::wstring text;
                const int length = pick(14);
                for (int i = 0; i < length; ++i) {
                    const int source = pick(ascii ? 10 : 14);
                    if (source < 5)
                        text += from(kAsciiLetters);
                    else if (source < 7)
                        text += from(kDigits);
                    else if (source < 10)
                        text += from(kSymbols);
                    else if (source < 12)
                        text += from(kAccented);
                    else if (source < 13)
                        text += from(kGreek);
                    else
                        text += wchar_t(0x4E00 + pick(0x5000));
                }
                texts.push_back(text);
            }
        }
        return texts;
    }

    static std::vector<std::wstring> s_texts;
};

std::vector<std::wstring> TextOrder::s_texts;

TEST_F(TextOrder, EveryComparisonGivesLstrcmpiWsResult)
{
    ASSERT_TRUE(AsciiCollationActive()) << "the ASCII weights are not in use: this proves nothing about them";
    std::mt19937 random(7);
    int mismatches = 0;
    for (std::size_t i = 0; i < s_texts.size(); ++i) {
        // A random partner, and the neighbour, which is often a variant of the same text.
        for (const std::size_t j : {std::size_t(random() % s_texts.size()), i == 0 ? 0 : i - 1}) {
            const wchar_t* a = s_texts[i].c_str();
            const wchar_t* b = s_texts[j].c_str();
            if (CompareTextsNoCase(a, b) != lstrcmpiW(a, b) || CompareTextsNoCase(b, a) != lstrcmpiW(b, a)) {
                if (++mismatches <= 5)
                    ADD_FAILURE() << "differs from lstrcmpiW: \"" << testing::PrintToString(s_texts[i]) << "\" and \""
                                  << testing::PrintToString(s_texts[j]) << "\"";
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST_F(TextOrder, SortedViewAndLookupsMatchAReferenceSortedWithLstrcmpiW)
{
    std::vector<std::wstring> reference = s_texts;
    std::sort(reference.begin(), reference.end(), Less);

    SortedLinkList_STR list;
    for (const std::wstring& text : s_texts)
        ASSERT_TRUE(list.InsertHead(new ListNodeData_STR(text.c_str())));
    ASSERT_TRUE(list.Sort(SortedLinkList::kAscending, 0));
    std::size_t position = 0;
    int misplaced = 0;
    for (ListNodeData* node = list.First(); node; node = list.Next(), ++position) {
        const wchar_t* text = static_cast<ListNodeData_STR*>(node)->Text();
        // Equal texts may stand in any order among themselves; every place holds an equal one.
        if (position >= reference.size() || lstrcmpiW(text, reference[position].c_str()) != 0)
            ++misplaced;
    }
    EXPECT_EQ(position, reference.size());
    EXPECT_EQ(misplaced, 0);

    // Look-ups of stored texts in other letter case, and of texts that are not stored.
    std::mt19937 random(11);
    std::vector<std::wstring> probes;
    for (int i = 0; i < 20000; ++i) {
        std::wstring text = s_texts[random() % s_texts.size()];
        CharUpperBuffW(text.data(), DWORD(text.size()));
        probes.push_back(text);
        probes.push_back(text + L"~");
        probes.push_back(L"-" + text);
    }
    int wrong = 0;
    for (const std::wstring& probe : probes) {
        if (probe.empty())
            continue;
        const bool stored = std::binary_search(reference.begin(), reference.end(), probe, Less);
        const wchar_t* found = list.FindText(probe.c_str());
        if (stored != (found != nullptr) || (found && lstrcmpiW(found, probe.c_str()) != 0))
            ++wrong;
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(TextOrder, InternKeepsOneIdPerTextAsLstrcmpiWTellsThemApart)
{
    std::vector<std::wstring> reference = s_texts;
    std::sort(reference.begin(), reference.end(), Less);
    std::size_t distinct = 0;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        if (!reference[i].empty() && (i == 0 || lstrcmpiW(reference[i - 1].c_str(), reference[i].c_str()) != 0))
            ++distinct;
    }

    SortedLinkList_STR table;
    std::vector<std::int32_t> ids;
    ids.reserve(s_texts.size());
    for (const std::wstring& text : s_texts)
        ids.push_back(table.Intern(text.c_str(), true));
    EXPECT_EQ(std::size_t(table.Count()), distinct);
    int wrong = 0;
    for (std::size_t i = 0; i < s_texts.size(); i += 7) {
        const wchar_t* back = table.FindText(s_texts[i].c_str());
        const bool same = s_texts[i].empty() ? ids[i] == 0
                                             : back && lstrcmpiW(back, s_texts[i].c_str()) == 0 &&
                                                   table.FindNode(s_texts[i].c_str())->Id() == ids[i];
        if (!same)
            ++wrong;
        // TextForId walks the whole table: a sample is enough.
        if (i % 4999 == 0 && !s_texts[i].empty()) {
            const wchar_t* byId = table.TextForId(ids[i]);
            if (!byId || lstrcmpiW(byId, s_texts[i].c_str()) != 0)
                ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0);

    // The table's own walk follows the order of lstrcmpiW, strictly: one node per text.
    std::size_t walked = 0;
    int unordered = 0;
    const wchar_t* previous = nullptr;
    for (ListNodeData* node = table.First(); node; node = table.Next(), ++walked) {
        const wchar_t* text = static_cast<ListNodeData_STR*>(node)->Text();
        if (previous && lstrcmpiW(previous, text) >= 0)
            ++unordered;
        previous = text;
    }
    EXPECT_EQ(walked, distinct);
    EXPECT_EQ(unordered, 0);
}

} // namespace
