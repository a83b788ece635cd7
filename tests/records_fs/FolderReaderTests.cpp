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

namespace {

using FileAnswer = ListNodeData_FILEINFO*;
using FolderAnswer = ListNodeData_FOLDERINFO*;

std::wstring Numbered(const wchar_t* format, int a, int b = 0)
{
    wchar_t text[64];
    _snwprintf(text, 64, format, a, b);
    return text;
}

// \Users\uNN\Documents\ProjectNN\ folders with short names, files whose names repeat from
// folder to folder, and a Downloads folder of 300 files. The key vectors end in absent keys.
class FolderReaders : public FsFixture {
protected:
    void SetUp() override
    {
        std::string entries;
        const auto add = [&](const std::wstring& path, const std::wstring& shortName, int files) {
            FolderFields folder;
            folder.name = path;
            folder.shortName = shortName;
            std::string fileEntries;
            for (int i = 0; i < files; ++i) {
                FileFields file;
                file.name = Numbered(L"Report-%03d.txt", i);
                file.shortName = Numbered(L"REP%03d~1.TXT", i);
                fileEntries += FileEntry(FileBlockV3(file));
                if ((folderPaths.size() + i) % 5 == 0)
                    filePaths.push_back(path + file.name);
            }
            entries += FolderEntry(FolderBlockV4(folder), files, fileEntries);
            folderPaths.push_back(path);
            shortNames.push_back(shortName);
        };
        add(L"\\", L"", 2);
        add(L"\\Users\\", L"USERS", 1);
        for (int u = 0; u < 12; ++u) {
            add(Numbered(L"\\Users\\u%02d\\", u), Numbered(L"U%02d", u), u % 4);
            for (int p = 0; p < 20; ++p)
                add(Numbered(L"\\Users\\u%02d\\Project%02d\\", u, p), Numbered(L"P%02d%02d~1", u, p), (u + p) % 17);
        }
        add(L"\\Users\\u00\\Downloads\\", L"DOWNLO~1", 300);
        ASSERT_EQ(LoadBytes(list, U32(std::uint32_t(folderPaths.size())) + entries), 0);
        folders = folderPaths.size();
        files = filePaths.size();
        folderPaths.insert(folderPaths.end(), {L"\\Users\\u12\\", L"\\Users\\u01\\Project20\\"});
        shortNames.insert(shortNames.end(), {L"NOSUCH~1", L"P1200~1"});
        filePaths.insert(filePaths.end(), {L"\\Users\\u00\\Absent.txt", L"\\No\\Report-001.txt", L"Report-001.txt"});
    }

    template <typename Answer>
    void ExpectAgree(std::size_t present, std::size_t queries, const std::function<Answer(std::size_t)>& ask,
                     const std::function<void()>& between = {})
    {
        kvotest::ExpectFiveReadersAgree<Answer>(list.Lock(), present, queries, ask, 16, between);
    }

    SortedLinkList_FOLDERINFO list;
    std::vector<std::wstring> folderPaths, shortNames, filePaths;
    std::size_t folders = 0;
    std::size_t files = 0;
};

TEST_F(FolderReaders, FindFolderByShortName)
{
    // From the Users folder on: the root's short name is empty.
    ExpectAgree<FolderAnswer>(folders - 1, shortNames.size() - 1,
                              [&](std::size_t q) { return list.FindFolderByShortName(shortNames[q + 1].c_str()); });
}

TEST_F(FolderReaders, FindFileByShortName)
{
    ListNodeData_FOLDERINFO* downloads = list.FindFolderByPath(L"\\Users\\u00\\Downloads\\", false);
    ASSERT_NE(downloads, nullptr);
    std::vector<std::wstring> names;
    for (int i = 0; i < 300; i += 3)
        names.push_back(Numbered(L"rep%03d~1.txt", i));
    names.insert(names.end(), {L"REP300~1.TXT", L"Report-001.txt"});
    ExpectAgree<FileAnswer>(names.size() - 2, names.size(), [&](std::size_t q) {
        FileAnswer viaFolder = downloads->FindFileByShortName(names[q].c_str());
        return downloads->Files()->FindFileByShortName(names[q].c_str()) == viaFolder ? viaFolder : nullptr;
    });
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
    ExpectAgree<FileAnswer>(files, filePaths.size(), [&](std::size_t q) {
        return list.FindFileInFolder(folderKeys[q].get(), fileKeys[q].get());
    });
}

TEST_F(FolderReaders, PathLookupsAgreeWithOneAnother)
{
    ExpectAgree<FileAnswer>(files, filePaths.size(), [&](std::size_t q) {
        FolderAnswer folder = nullptr;
        FileAnswer file = list.FindFileByPath(filePaths[q].c_str(), &folder);
        const bool agree = file && folder->FindFileByName(file->FileName()) == file && folder->FindFile(file) == file;
        return agree ? file : nullptr;
    });
    ExpectAgree<FolderAnswer>(folders, folderPaths.size(), [&](std::size_t q) {
        const std::wstring& path = folderPaths[q];
        FolderAnswer folder = list.FindFolderByPath(path.c_str(), false);
        std::wstring below = path + L"Absent\\";
        std::wstring above = path.substr(0, path.size() - 1);
        const bool agree = list.LookupFolder(below.data(), true) == folder &&
                           list.FindParentFolder(path.c_str()) == list.LookupFolder(above.data(), true);
        return agree ? folder : nullptr;
    });
}

TEST_F(FolderReaders, FindSubFolderBuildsTheViewOnceForAllReaders)
{
    FolderAnswer users = list.FindFolderByPath(L"\\Users\\", false);
    ASSERT_NE(users, nullptr);
    // Filled by a caller and not sorted: the readers' first searches find no view.
    for (std::size_t q = 2; q < folders; ++q)
        ASSERT_TRUE(users->SubFolders()->InsertHead(list.FindFolderByPath(folderPaths[q].c_str(), false)));
    const auto dropView = [&] {
        ASSERT_TRUE(users->SubFolders()->InsertHead(new ListNodeData_FOLDERINFO()));
        delete users->SubFolders()->TakeFirst(true);
    };
    const auto ask = [&](std::size_t q) { return users->FindSubFolder(folderPaths[q + 2].c_str()); };
    ExpectAgree<FolderAnswer>(folders - 2, folderPaths.size() - 2, ask, dropView);
}

TEST_F(FolderReaders, DumpsSavesAndSizes)
{
    // Each reader writes files of its own.
    const auto own = [&](const wchar_t* kind) { return scratch / (kind + std::to_wstring(GetCurrentThreadId())); };
    kvotest::ExpectFiveReadersAgree<std::string>(list.Lock(), 3, 3, [&](std::size_t q) -> std::string {
        if (q == 0)
            return list.WriteTextFile(own(L"dump").c_str()) > 0 ? kvotest::ReadFileBytes(own(L"dump")) : "";
        if (q == 1)
            return std::to_string(list.DataSize());
        FILE* out = _wfopen(own(L"save").c_str(), L"wb");
        const bool saved = out && list.Save(out) == 0;
        if (out)
            fclose(out);
        return saved ? kvotest::ReadFileBytes(own(L"save")) : "";
    }, 1);
}

} // namespace
