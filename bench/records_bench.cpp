// Snapshot record library figures (not a timed test): Save and Load of 100,000 string nodes
// against plain buffered writes and reads of the same bytes, deleting the loaded list, and Intern
// of 10,000 and 20,000 distinct texts.
// Build with -DKVO_BUILD_BENCH=ON and run under Wine: cmake/wine-run.sh bench/records_bench.exe
#include "BenchSupport.h"
#include "ListNodeData_STR.h"
#include "SortedLinkList.h"
#include "SortedLinkList_STR.h"
#include "TextCollation.h"

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

using namespace Tallis::ImageUpdate;
using namespace kvobench;

namespace {

constexpr int kNodes = 100000;
constexpr int kInternTexts = 10000;
constexpr int kRuns = 3;

std::wstring Text(int i)
{
    wchar_t text[96];
    _snwprintf(text, 96, L"O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)#%06d", i);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    // Optional: records_bench [intern text counts...] (default 10000 20000)
    std::vector<int> internCounts;
    for (int i = 1; i < argc; ++i)
        internCounts.push_back(std::atoi(argv[i]));
    if (internCounts.empty())
        internCounts = {kInternTexts, 2 * kInternTexts};

    ScratchRoot scratch(L"records-bench");
    const std::wstring listPath = scratch / L"list.bin";
    const std::wstring plainPath = scratch / L"plain.bin";

    auto start = Clock::now();
    SortedLinkList_STR source;
    for (int i = 0; i < kNodes; ++i) {
        if (!source.InsertHead(new ListNodeData_STR(Text(i).c_str())))
            std::printf("InsertHead failed\n");
    }
    const double build = Seconds(start);
    std::printf("build %d string nodes (InsertHead): %.3f s\n", kNodes, build);
    std::fflush(stdout);

    TimeSaveAndLoad<SortedLinkList>(source, listPath, plainPath, kRuns, kNodes, "nodes",
                                    "Load includes making the nodes and the sort");

    // What Load is made of: making nodes, and a sort (here of a scattered chain, where the sort
    // really runs; a loaded stream gives a chain in reverse order, which is only turned round).
    start = Clock::now();
    std::vector<ListNodeData_STR*> made;
    made.reserve(kNodes);
    for (int i = 0; i < kNodes; ++i)
        made.push_back(new ListNodeData_STR(L"x"));
    const double make = Seconds(start);
    for (ListNodeData_STR* node : made)
        delete node;
    SortedLinkList_STR scattered;
    for (int i = 0; i < kNodes; ++i) {
        if (!scattered.InsertHead(new ListNodeData_STR(Text(int((std::int64_t(i) * 7919) % kNodes)).c_str())))
            std::printf("InsertHead failed\n");
    }
    start = Clock::now();
    if (!scattered.Sort(1, 0))
        std::printf("Sort failed\n");
    const double sort = Seconds(start);
    std::printf("making %d nodes %.4f s; Sort(1, 0) of %d nodes in scattered order %.4f s\n", kNodes, make, kNodes,
                sort);

    // The comparison that every string Compare makes (lstrcmpiW), on two texts of the list.
    const std::wstring left = Text(4711);
    const std::wstring right = Text(4712);
    constexpr int kCompares = 20000;
    int sink = 0;
    start = Clock::now();
    for (int i = 0; i < kCompares; ++i)
        sink += lstrcmpiW(left.c_str(), right.c_str());
    const double compareCost = Seconds(start) / kCompares;
    start = Clock::now();
    for (int i = 0; i < kCompares; ++i)
        sink += lstrcmpiW(L"short-a", L"short-b");
    const double shortCompareCost = Seconds(start) / kCompares;
    start = Clock::now();
    for (int i = 0; i < kCompares; ++i)
        sink += CompareTextsNoCase(left.c_str(), right.c_str());
    const double ownCompareCost = Seconds(start) / kCompares;
    std::printf("lstrcmpiW: %.2f us per call (%zu-character texts), %.2f us (7 characters); "
                "CompareTextsNoCase %.3f us (%zu characters) [%d]\n",
                compareCost * 1e6, left.size(), shortCompareCost * 1e6, ownCompareCost * 1e6, left.size(), sink != 0);

    // Intern of n distinct texts in a scattered order; twice the texts should cost little more
    // than twice the time.
    double previous = 0.0;
    int previousTexts = 0;
    for (const int texts : internCounts) {
        SortedLinkList_STR table;
        start = Clock::now();
        for (int i = 0; i < texts; ++i) {
            if (table.Intern(Text(int((std::int64_t(i) * 7919) % texts)).c_str(), true) == 1)
                std::printf("Intern failed\n");
        }
        const double took = Seconds(start);
        std::printf("Intern of %d distinct texts: %.3f s (%d stored)", texts, took, table.Count());
        if (previousTexts != 0)
            std::printf(", %.2fx the time of %d", took / previous, previousTexts);
        std::printf("\n");
        std::fflush(stdout);
        previous = took;
        previousTexts = texts;
    }
    return 0;
}
