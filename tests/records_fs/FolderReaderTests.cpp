// Every look-up of the file and folder lists, and their dumps, from five readers at once on one
// loaded snapshot.
#include "FiveReaders.h"
#include "FsTestSupport.h"
#include "ListNodeData_FILEINFO.h"
#include "ListNodeData_FOLDERINFO.h"
#include "SortedLinkList_FILEINFO.h"
#include "SortedLinkList_FOLDERINFO.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace Tallis::ImageUpdate;
using namespace fstest;
using kvotest::ExpectFiveReadersAgree;

namespace {

std::wstring Numbered(const wchar_t* format, int a, int b = 0)
{
    wchar_t text[64];
    _snwprintf(text, 64, format, a, b);
    return text;
}

// A snapshot tree: \Users\uNN\ with Documents\ProjectNN\ folders below, short names on
// folders and files, file names that repeat from folder to folder, and a Downloads folder
// of 300 files. Each vector lists keys that exist first, then absent ones.
class FolderReaders : public FsFixture {
protected:
    static constexpr int kRounds = 6;

    void SetUp() override
    {
        std::string entries;
        int count = 0;
        const auto addFolder = [&](const std::wstring& path, const std::wstring& shortName, int files) {
            FolderFields folder;
            folder.name = path;
            folder.shortName = shortName;
            std::string fileEntries;
            for (int i = 0; i < files; ++i) {
                FileFields file;
                file.name = Numbered(L"Report-%03d.txt", i);
                file.shortName = Numbered(L"REP%03d~1.TXT", i);
                file.sizeLow = std::uint32_t(i * 37 + path.size());
                fileEntries += FileEntry(FileBlockV3(file));
                if ((count + i) % 5 == 0)
                    filePaths.push_back(path + file.name);
            }
            entries += FolderEntry(FolderBlockV4(folder), files, fileEntries);
            folderPaths.push_back(path);
            shortNames.push_back(shortName);
            ++count;
        };
        addFolder(L"\\", L"", 2);
        addFolder(L"\\Users\\", L"USERS", 1);
        for (int u = 0; u < 12; ++u) {
            addFolder(Numbered(L"\\Users\\u%02d\\", u), Numbered(L"U%02d", u), u % 4);
            addFolder(Numbered(L"\\Users\\u%02d\\Documents\\", u), Numbered(L"DOC%02d~1", u), 3);
            for (int p = 0; p < 20; ++p)
                addFolder(Numbered(L"\\Users\\u%02d\\Documents\\Project%02d\\", u, p), Numbered(L"P%02d%02d~1", u, p),
                          (u * 20 + p) % 17);
        }
        addFolder(L"\\Users\\u00\\Downloads\\", L"DOWNLO~1", 300);
        ASSERT_EQ(LoadBytes(list, U32(std::uint32_t(count)) + entries), 0);
        downloads = list.FindFolderByPath(L"\\Users\\u00\\Downloads\\", false);
        ASSERT_NE(downloads, nullptr);
        presentFiles = filePaths.size();
        filePaths.insert(filePaths.end(),
                         {L"\\Users\\u00\\Absent.txt", L"\\Nowhere\\Report-001.txt", L"Report-001.txt"});
        presentFolders = folderPaths.size();
        folderPaths.insert(folderPaths.end(), {L"\\Users\\u12\\", L"\\Users\\u01\\Documents\\Project20\\"});
        shortNames.insert(shortNames.end(), {L"NOSUCH~1", L"P1200~1"});
    }

    template <typename Answer>
    void ExpectAgree(std::size_t present, std::size_t queries, const std::function<Answer(std::size_t)>& ask,
                     const std::function<void()>& between = {}, int rounds = kRounds)
    {
        ExpectFiveReadersAgree<Answer>(list.Lock(), present, queries, ask, rounds, between);
    }

    SortedLinkList_FOLDERINFO list;
    ListNodeData_FOLDERINFO* downloads = nullptr;
    std::vector<std::wstring> folderPaths;
    std::vector<std::wstring> shortNames;
    std::vector<std::wstring> filePaths;
    std::size_t presentFolders = 0;
    std::size_t presentFiles = 0;
};

using FileAnswer = ListNodeData_FILEINFO*;
using FolderAnswer = ListNodeData_FOLDERINFO*;

TEST_F(FolderReaders, FindFolderByShortName)
{
    // The root's short name is empty: queries from the Users folder on.
    ExpectAgree<FolderAnswer>(presentFolders - 1, shortNames.size() - 1,
                              [&](std::size_t q) { return list.FindFolderByShortName(shortNames[q + 1].c_str()); });
}

TEST_F(FolderReaders, FindFileByShortName)
{
    std::vector<std::wstring> names;
    for (int i = 0; i < 300; i += 3)
        names.push_back(Numbered(L"rep%03d~1.txt", i));
    names.insert(names.end(), {L"REP300~1.TXT", L"REPORT~1.TXT", L"Report-001.txt"});
    const std::size_t present = names.size() - 3;
    ExpectAgree<FileAnswer>(present, names.size(),
                            [&](std::size_t q) { return downloads->FindFileByShortName(names[q].c_str()); });
    ExpectAgree<FileAnswer>(present, names.size(),
                            [&](std::size_t q) { return downloads->Files()->FindFileByShortName(names[q].c_str()); });
}

TEST_F(FolderReaders, FindFileInFolder)
{
    std::vector<std::unique_ptr<ListNodeData_FOLDERINFO>> folderKeys;
    std::vector<std::unique_ptr<ListNodeData_FILEINFO>> fileKeys;
    for (const std::wstring& path : filePaths) {
        const std::size_t split = path.rfind(L'\\') + 1;
        folderKeys.push_back(std::make_unique<ListNodeData_FOLDERINFO>(path.substr(0, split).c_str()));
        FileFields fields;
        fields.name = path.substr(split);
        const std::string block = FileBlockV3(fields);
        fileKeys.push_back(std::make_unique<ListNodeData_FILEINFO>());
        ASSERT_TRUE(fileKeys.back()->AdoptRecord(OwnedBlock(block), std::uint32_t(block.size())));
    }
    ExpectAgree<FileAnswer>(presentFiles, filePaths.size(), [&](std::size_t q) {
        return list.FindFileInFolder(folderKeys[q].get(), fileKeys[q].get());
    });
}

TEST_F(FolderReaders, PathLookups)
{
    ExpectAgree<FileAnswer>(presentFiles, filePaths.size(), [&](std::size_t q) {
        ListNodeData_FOLDERINFO* folder = nullptr;
        ListNodeData_FILEINFO* file = list.FindFileByPath(filePaths[q].c_str(), &folder);
        return file && folder && folder->FindFileByName(file->FileName()) == file ? file : nullptr;
    });
    ExpectAgree<FolderAnswer>(presentFolders, folderPaths.size(), [&](std::size_t q) {
        ListNodeData_FOLDERINFO* folder = list.FindFolderByPath(folderPaths[q].c_str(), false);
        std::wstring key = folderPaths[q];
        return folder && list.LookupFolder(key.data(), false) == folder ? folder : nullptr;
    });
    // Every path has an enclosing folder, down to the root.
    ExpectAgree<FolderAnswer>(folderPaths.size(), folderPaths.size(), [&](std::size_t q) {
        ListNodeData_FOLDERINFO* parent = list.FindParentFolder(folderPaths[q].c_str());
        ListNodeData_FOLDERINFO* nearest = list.FindFolderByPath((folderPaths[q] + L"Absent\\").c_str(), true);
        return q == 0 || parent ? nearest : nullptr;
    });
}

TEST_F(FolderReaders, FindSubFolderBuildsTheViewOnceForAllReaders)
{
    ListNodeData_FOLDERINFO* users = list.FindFolderByPath(L"\\Users\\", false);
    ASSERT_NE(users, nullptr);
    // Filled by a caller and not sorted: the first search of each reader finds no view.
    for (std::size_t q = 2; q < presentFolders; ++q)
        ASSERT_TRUE(users->SubFolders()->InsertHead(list.FindFolderByPath(folderPaths[q].c_str(), false)));
    const auto dropView = [&] {
        ASSERT_TRUE(users->SubFolders()->InsertHead(new ListNodeData_FOLDERINFO()));
        delete users->SubFolders()->TakeFirst(true);
        ASSERT_FALSE(users->SubFolders()->HasSortedView());
    };
    ExpectAgree<FolderAnswer>(presentFolders - 2, folderPaths.size() - 2, [&](std::size_t q) {
        return users->FindSubFolder(folderPaths[q + 2].c_str());
    }, dropView);
}

TEST_F(FolderReaders, DumpsSavesAndSizes)
{
    // Each reader writes its own files.
    const auto own = [&](const wchar_t* kind) {
        return scratch / (kind + std::to_wstring(GetCurrentThreadId()));
    };
    ExpectAgree<std::string>(3, 3, [&](std::size_t q) -> std::string {
        if (q == 0)
            return list.WriteTextFile(own(L"dump").c_str()) > 0 ? kvotest::ReadFileBytes(own(L"dump")) : "";
        if (q == 1)
            return std::to_string(list.DataSize());
        FILE* out = _wfopen(own(L"save").c_str(), L"wb");
        const bool saved = out && list.Save(out) == 0;
        if (out)
            fclose(out);
        return saved ? kvotest::ReadFileBytes(own(L"save")) : "";
    }, {}, 1);
}

} // namespace
