// File and folder record figures (not a timed test): Save and Load of a folder list of 10,000
// folders with 10 file records each against plain buffered writes and reads of the same bytes,
// and FindFileByPath for every file of that list.
// Build with -DKVO_BUILD_BENCH=ON and run under Wine: cmake/wine-run.sh bench/records_fs_bench.exe
#include "BenchSupport.h"
#include "ListNodeData_FILEINFO.h"
#include "ListNodeData_FOLDERINFO.h"
#include "SortedLinkList_FOLDERINFO.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace Tallis::ImageUpdate;
using namespace kvobench;

namespace {

constexpr int kFolders = 10000;
constexpr int kFilesPerFolder = 10;
constexpr int kRuns = 3;

void Put32(std::uint8_t* block, std::size_t at, std::uint32_t value)
{
    std::memcpy(block + at, &value, sizeof value);
}

// A current folder block: name, a security-descriptor text, no extra data.
ListNodeData_FOLDERINFO* MakeFolder(const std::wstring& name)
{
    static const std::wstring sd = L"O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
    const std::size_t bytes = ListNodeData_FOLDERINFO::kNameAt + 2 * (name.size() + 1) + 2 * (sd.size() + 1) + 2;
    ListNodeData_FOLDERINFO::Block block(new std::uint8_t[bytes]());
    Put32(block.get(), ListNodeData_FOLDERINFO::kVersionAt, ListNodeData_FOLDERINFO::kVersion);
    Put32(block.get(), ListNodeData_FOLDERINFO::kSizeAt, std::uint32_t(bytes));
    Put32(block.get(), ListNodeData_FOLDERINFO::kStateAt, 1);
    Put32(block.get(), ListNodeData_FOLDERINFO::kAttributesAt, FILE_ATTRIBUTE_DIRECTORY);
    Put32(block.get(), ListNodeData_FOLDERINFO::kNameLengthAt, std::uint32_t(name.size()));
    Put32(block.get(), ListNodeData_FOLDERINFO::kTextLengthAt, std::uint32_t(sd.size()));
    std::memcpy(block.get() + ListNodeData_FOLDERINFO::kNameAt, name.c_str(), 2 * name.size());
    std::memcpy(block.get() + ListNodeData_FOLDERINFO::kNameAt + 2 * (name.size() + 1), sd.c_str(), 2 * sd.size());
    auto* folder = new ListNodeData_FOLDERINFO();
    if (!folder->AdoptRecord(std::move(block), std::uint32_t(bytes)))
        std::printf("folder block refused\n");
    return folder;
}

ListNodeData_FILEINFO* MakeFile(const std::wstring& name, int i)
{
    WIN32_FIND_DATAW entry{};
    entry.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    entry.ftLastWriteTime = FILETIME{DWORD(i * 10000000u), 0x01D90000};
    entry.nFileSizeLow = DWORD(i * 37);
    wcsncpy(entry.cFileName, name.c_str(), MAX_PATH - 1);
    ListNodeData_FILEINFO::Block block = ListNodeData_FILEINFO::MakeFileRecord(entry, nullptr, 1);
    std::uint32_t bytes;
    std::memcpy(&bytes, block.get() + ListNodeData_FILEINFO::kLengthAt, sizeof bytes);
    auto* file = new ListNodeData_FILEINFO();
    if (!file->AdoptRecord(std::move(block), bytes))
        std::printf("file block refused\n");
    return file;
}

} // namespace

int main()
{
    ScratchRoot scratch(L"records-fs-bench");
    const std::wstring listPath = scratch / L"folders.bin";
    const std::wstring plainPath = scratch / L"plain.bin";

    auto start = Clock::now();
    SortedLinkList_FOLDERINFO source;
    std::vector<std::wstring> filePaths;
    filePaths.reserve(kFolders * kFilesPerFolder);
    for (int f = 0; f < kFolders; ++f) {
        wchar_t name[64];
        _snwprintf(name, 64, L"\\Volume%02d\\Users\\Folder%05d\\", f % 17, f);
        ListNodeData_FOLDERINFO* folder = MakeFolder(name);
        for (int i = 0; i < kFilesPerFolder; ++i) {
            wchar_t fileName[64];
            _snwprintf(fileName, 64, L"document-%05d-%02d.txt", f, i);
            folder->AddFile(MakeFile(fileName, f * kFilesPerFolder + i));
            filePaths.push_back(std::wstring(name) + fileName);
        }
        folder->SortFiles();
        source.InsertHead(folder);
    }
    std::printf("build %d folders with %d file records: %.3f s\n", kFolders, kFolders * kFilesPerFolder,
                Seconds(start));

    TimeSaveAndLoad<SortedLinkList_FOLDERINFO>(source, listPath, plainPath, kRuns, kFolders, "folders",
                                               "Load makes the nodes, their lists and sorts");

    source.Sort(SortedLinkList::kAscending, 0);
    std::vector<double> lookups;
    for (int run = 0; run < kRuns; ++run) {
        int found = 0;
        start = Clock::now();
        for (const std::wstring& path : filePaths)
            found += source.FindFileByPath(path.c_str(), nullptr) ? 1 : 0;
        lookups.push_back(Seconds(start));
        if (found != int(filePaths.size()))
            std::printf("FindFileByPath found %d of %zu\n", found, filePaths.size());
    }
    const double lookup = Median(lookups);
    std::printf("FindFileByPath of %zu files: %.4f s, %.0f lookups/s\n", filePaths.size(), lookup,
                double(filePaths.size()) / lookup);

    // What one look-up is made of: each binary-search step compares paths with lstrcmpiW.
    constexpr int kCompares = 1000000;
    int sink = 0;
    start = Clock::now();
    for (int i = 0; i < kCompares; ++i)
        sink += lstrcmpiW(filePaths[std::size_t(i) % filePaths.size()].c_str(), filePaths[0].c_str()) > 0;
    std::printf("lstrcmpiW on these paths: %.0f ns per call (%d)\n", Seconds(start) * 1e9 / kCompares, sink);
    return 0;
}
