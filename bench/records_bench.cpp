// Snapshot record library figures (not a timed test): Save and Load of 100,000 string nodes
// against plain buffered writes and reads of the same bytes, and Intern of 10,000 distinct texts.
// Build with -DKVO_BUILD_BENCH=ON and run under Wine: cmake/wine-run.sh bench/records_bench.exe
#include "BenchSupport.h"
#include "ListNodeData_STR.h"
#include "SortedLinkList.h"
#include "SortedLinkList_STR.h"
#include "TestSupport.h"

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
    // Optional: records_bench [intern texts] [intern time limit in seconds]
    const int internTexts = argc > 1 ? std::atoi(argv[1]) : kInternTexts;
    const double internLimit = argc > 2 ? std::atof(argv[2]) : 600.0;

    kvotest::ScratchFolder scratch(L"records-bench");
    const std::wstring listPath = scratch / L"list.bin";
    const std::wstring plainPath = scratch / L"plain.bin";

    auto start = Clock::now();
    SortedLinkList_STR source;
    for (int i = 0; i < kNodes; ++i)
        source.InsertHead(new ListNodeData_STR(Text(i).c_str()));
    const double build = Seconds(start);
    std::printf("build %d string nodes (InsertHead): %.3f s\n", kNodes, build);
    std::fflush(stdout);

    TimeSaveAndLoad<SortedLinkList>(source, listPath, plainPath, kRuns, kNodes, "nodes",
                                    "Load includes making the nodes and the sort");

    // The parts of Load: making nodes (each with its child list's mutex and semaphore) and sorting.
    start = Clock::now();
    std::vector<ListNodeData_STR*> made;
    made.reserve(kNodes);
    for (int i = 0; i < kNodes; ++i)
        made.push_back(new ListNodeData_STR(L"x"));
    const double make = Seconds(start);
    for (ListNodeData_STR* node : made)
        delete node;
    start = Clock::now();
    source.Sort(1, 0);
    const double sort = Seconds(start);
    std::printf("of which: making %d nodes %.4f s, Sort(1, 0) of %d nodes %.4f s\n", kNodes, make, kNodes, sort);

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
    std::printf("lstrcmpiW: %.2f us per call (%zu-character texts), %.2f us (7 characters) [%d]\n",
                compareCost * 1e6, left.size(), shortCompareCost * 1e6, sink != 0);

    SortedLinkList_STR table;
    start = Clock::now();
    int interned = 0;
    for (; interned < internTexts; ++interned) {
        table.Intern(Text((interned * 7919) % internTexts).c_str(), true);
        if ((interned + 1) % 250 == 0) {
            std::printf("Intern: %d distinct texts after %.3f s\n", interned + 1, Seconds(start));
            std::fflush(stdout);
            if (Seconds(start) > internLimit) {
                ++interned;
                break;
            }
        }
    }
    std::printf("Intern of %d distinct texts: %.3f s (%d stored)%s\n", interned, Seconds(start), table.Count(),
                interned < internTexts ? " - stopped at the time limit" : "");
    return 0;
}
