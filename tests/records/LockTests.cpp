#include "FailingAllocation.h"
#include "FiveReaders.h"
#include "ListNodeData_FILEINFO.h"
#include "ListNodeData_STR.h"
#include "SortedLinkList.h"
#include "SortedLinkList_STR.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace Tallis::ImageUpdate;
using namespace std::chrono_literals;

namespace {

// Waits until condition holds or the time is up; true when it holds.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = 10s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

} // namespace

TEST(ListLock, FiveReadersHoldTheListAtOnceAndASixthWaits)
{
    SortedLinkList list;
    std::atomic<int> inside{0};
    std::atomic<bool> leave{false};
    std::vector<std::thread> readers;
    for (int i = 0; i < 5; ++i) {
        readers.emplace_back([&] {
            list.AcquireRead();
            ++inside;
            WaitFor([&] { return leave.load(); });
            --inside;
            list.ReleaseLock();
        });
    }
    EXPECT_TRUE(WaitFor([&] { return inside.load() == 5; }));

    std::atomic<bool> sixthIn{false};
    std::thread sixth([&] {
        list.AcquireRead();
        sixthIn = true;
        list.ReleaseLock();
    });
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(sixthIn.load());
    leave = true;
    for (std::thread& reader : readers)
        reader.join();
    sixth.join();
    EXPECT_TRUE(sixthIn.load());
}

TEST(ListLock, AWriterWaitsForReadersAndKeepsEveryoneOut)
{
    SortedLinkList list;
    std::atomic<bool> releaseReader{false};
    std::atomic<bool> readerIn{false};
    std::thread reader([&] {
        list.AcquireRead();
        readerIn = true;
        WaitFor([&] { return releaseReader.load(); });
        list.ReleaseLock();
    });
    ASSERT_TRUE(WaitFor([&] { return readerIn.load(); }));

    std::atomic<bool> writerIn{false};
    std::atomic<bool> releaseWriter{false};
    std::thread writer([&] {
        list.AcquireWrite();
        writerIn = true;
        WaitFor([&] { return releaseWriter.load(); });
        list.ReleaseLock();
    });
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(writerIn.load());
    releaseReader = true;
    reader.join();
    EXPECT_TRUE(WaitFor([&] { return writerIn.load(); }));

    std::atomic<bool> laterReaderIn{false};
    std::thread laterReader([&] {
        list.AcquireRead();
        laterReaderIn = true;
        list.ReleaseLock();
    });
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(laterReaderIn.load());
    releaseWriter = true;
    writer.join();
    laterReader.join();
    EXPECT_TRUE(laterReaderIn.load());
}

TEST(ListLock, ReadersAndWritersNeverOverlap)
{
    SortedLinkList list;
    std::atomic<int> readers{0};
    std::atomic<int> writers{0};
    std::atomic<int> maxReaders{0};
    std::atomic<int> violations{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        const bool isWriter = t < 2;
        threads.emplace_back([&, isWriter] {
            for (int i = 0; i < 150; ++i) {
                if (isWriter) {
                    list.AcquireWrite();
                    if (++writers != 1 || readers.load() != 0)
                        ++violations;
                    std::this_thread::yield();
                    --writers;
                    list.ReleaseLock();
                } else {
                    list.AcquireRead();
                    const int now = ++readers;
                    int seen = maxReaders.load();
                    while (now > seen && !maxReaders.compare_exchange_weak(seen, now)) {
                    }
                    if (writers.load() != 0 || now > 5)
                        ++violations;
                    std::this_thread::yield();
                    --readers;
                    list.ReleaseLock();
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(violations.load(), 0);
    EXPECT_LE(maxReaders.load(), 5);
}

TEST(ListLock, ConcurrentInternIntoSharedSDPoolLosesNothing)
{
    constexpr int kThreads = 4;
    constexpr int kTexts = 60;
    const std::int32_t before = SharedSDPool.Count();
    std::vector<std::vector<std::int32_t>> ids(kThreads, std::vector<std::int32_t>(kTexts));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kTexts; ++i) {
                // Every thread interns the same texts, in its own order and letter case.
                const int n = (i + t * 17) % kTexts;
                wchar_t text[64];
                _snwprintf(text, 64, t % 2 ? L"LOCKTEST-SD-%d" : L"locktest-sd-%d", n);
                SharedSDPool.AcquireWrite();
                ids[t][n] = SharedSDPool.Intern(text, true);
                SharedSDPool.ReleaseLock();
                SharedSDPool.AcquireRead();
                const wchar_t* back = SharedSDPool.TextForId(ids[t][n]);
                const bool same = back && lstrcmpiW(back, text) == 0;
                SharedSDPool.ReleaseLock();
                EXPECT_TRUE(same);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(SharedSDPool.Count(), before + kTexts);
    std::set<std::int32_t> distinct;
    for (int n = 0; n < kTexts; ++n) {
        for (int t = 1; t < kThreads; ++t)
            EXPECT_EQ(ids[t][n], ids[0][n]) << n;
        distinct.insert(ids[0][n]);
    }
    EXPECT_EQ(distinct.size(), size_t(kTexts));
}

TEST(ListLock, ConcurrentStringNodesGetDistinctIds)
{
    constexpr int kThreads = 4;
    constexpr int kNodes = 500;
    std::vector<std::vector<std::int32_t>> ids(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kNodes; ++i) {
                ListNodeData_STR node(L"same text");
                ids[t].push_back(node.Id());
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::set<std::int32_t> distinct;
    for (const auto& list : ids)
        distinct.insert(list.begin(), list.end());
    EXPECT_EQ(distinct.size(), size_t(kThreads * kNodes));
    EXPECT_GT(*distinct.begin(), 1000);
}

TEST(ListLock, ReadersLookingUpIdsAtOnceEachFindTheirText)
{
    // Five readers walk one table at the same time, as SecurityText does on SharedSDPool.
    constexpr int kEntries = 200;
    SortedLinkList_STR table;
    std::vector<std::pair<std::int32_t, std::wstring>> entries;
    for (int i = 0; i < kEntries; ++i) {
        wchar_t text[32];
        _snwprintf(text, 32, L"D:(A;;FA;;;S-1-5-%d)", i);
        entries.emplace_back(table.Intern(text, true), text);
    }
    ASSERT_NE(table.FindText(entries[0].second.c_str()), nullptr);
    ASSERT_TRUE(table.HasSortedView());

    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < ListLock::kReaderUnits; ++t) {
        readers.emplace_back([&, t] {
            for (int i = 0; i < 1000; ++i) {
                const auto& [id, text] = entries[std::size_t((t * 37 + i * 11) % kEntries)];
                const wchar_t* found = nullptr;
                {
                    const ListLock::ReadGuard read(table.Lock());
                    found = table.TextForId(id);
                }
                if (!found || text != found)
                    ++wrong;
            }
        });
    }
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(ListLock, ReadersSearchingTextsAtOnceAgreeAndBuildTheViewOnce)
{
    SortedLinkList_STR table;
    std::vector<std::wstring> texts;
    for (int i = 0; i < 300; ++i) {
        wchar_t text[48];
        _snwprintf(text, 48, L"O:BAG:SYD:(A;;FA;;;S-1-5-21-%d)", 7000 + i);
        table.Intern(text, true);
        // Asked for in another letter case.
        texts.push_back(std::wstring(L"o:bag:syd:") + (text + 10));
    }
    const std::size_t present = texts.size();
    texts.insert(texts.end(), {L"O:BAG:SYD:(A;;FA;;;S-1-5-21-6999)", L"D:"});
    // A text interned after the answers were taken leaves the table without its view: the
    // readers' first searches find none.
    const auto addText = [&] {
        table.Intern(L"O:SYG:SYD:(A;;GA;;;WD)", true);
        ASSERT_FALSE(table.HasSortedView());
    };
    kvotest::ExpectFiveReadersAgree<const wchar_t*>(table.Lock(), present, texts.size(), [&](std::size_t q) {
        const ListNodeData_STR* node = table.FindNode(texts[q].c_str());
        const wchar_t* text = table.FindText(texts[q].c_str());
        return node && node->Text() == text && table.TextForId(node->Id()) == text ? text : nullptr;
    }, 10, addText);
    EXPECT_TRUE(table.HasSortedView());
}

TEST(ListLock, AdoptSecurityGivesTheReadUnitBackWhenItsCopyFails)
{
    // A text of its own length, so that its copy is the allocation that fails.
    const std::wstring securityText = L"O:BAG:SYD:" + std::wstring(2999, L'X');
    SortedLinkList_STR source;
    const std::int32_t id = source.Intern(securityText.c_str(), true);

    WIN32_FIND_DATAW entry{};
    wcscpy(entry.cFileName, L"adopted.txt");
    ListNodeData_FILEINFO::Block block = ListNodeData_FILEINFO::MakeFileRecord(entry, nullptr, 1);
    ASSERT_NE(block, nullptr);
    std::uint32_t bytes = 0;
    std::memcpy(&bytes, block.get() + ListNodeData_FILEINFO::kLengthAt, sizeof bytes);
    std::memcpy(block.get() + ListNodeData_FILEINFO::kSecurityIdAt, &id, sizeof id);
    ListNodeData_FILEINFO file;
    ASSERT_TRUE(file.AdoptRecord(std::move(block), bytes));

    kvotest::FailNextAllocationOf(sizeof(wchar_t) * (securityText.size() + 1));
    EXPECT_THROW((void)file.AdoptSecurity(&source), std::bad_alloc);

    // Every reader unit is back: a writer gets the table.
    std::atomic<bool> writerIn{false};
    std::thread writer([&] {
        source.AcquireWrite();
        writerIn = true;
        source.ReleaseLock();
    });
    const bool entered = WaitFor([&] { return writerIn.load(); }, 3s);
    if (!entered)
        source.ReleaseLock(); // the unit that was lost, so that the writer can finish
    writer.join();
    EXPECT_TRUE(entered);

    EXPECT_TRUE(file.AdoptSecurity(&source));
    EXPECT_STREQ(ListNodeData_FILEINFO::SecurityText(file.Record()), securityText.c_str());
}
