#include "FileHash.h"
#include "UniqueHandles.h"

#include <TestSupport.h>

#include <gtest/gtest.h>

using namespace Tallis::ImageUpdate;
using namespace kvotest;

namespace {

constexpr wchar_t kEmptySha256[] = L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
constexpr wchar_t kAbcSha256[] = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

// A folder chain deep enough that the file's path passes MAX_PATH.
std::wstring MakeDeepFolder(const std::wstring& base)
{
    std::wstring path = base;
    for (int i = 0; i < 6; ++i) {
        path += L"\\" + std::wstring(50, wchar_t(L'a' + i));
        CreateDirectoryW(LongForm(path).c_str(), nullptr);
    }
    return path;
}

} // namespace

class FileHashTest : public ::testing::Test {
protected:
    ScratchFolder folder{L"hash"};

    std::wstring Hash(const std::wstring& path, DWORD expectedError = 0)
    {
        std::wstring hex = L"unchanged";
        EXPECT_EQ(FileHasher().Sha256(path.c_str(), hex), expectedError) << Narrow(path);
        return hex;
    }
};

TEST_F(FileHashTest, KnownVectors)
{
    WriteFileBytes(folder / L"empty", "");
    WriteFileBytes(folder / L"abc", "abc");
    EXPECT_EQ(Hash(folder / L"empty"), kEmptySha256);
    EXPECT_EQ(Hash(folder / L"abc"), kAbcSha256);
}

TEST_F(FileHashTest, FilesSpanningSeveralBlocks)
{
    std::string repeated;
    for (int i = 0; i < 1000000; ++i)
        repeated += "abc";
    WriteFileBytes(folder / L"repeated", repeated);
    EXPECT_EQ(Hash(folder / L"repeated"), L"f4096a131e7e6ebfa7a512b5c299e13b065df34d15624ee1202ab394cc4d7e90");

    // Not a multiple of the block size, and not a repetition of a short unit.
    std::string pattern(3 * (1u << 20) + 5, '\0');
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = char((i * 7 + (i >> 9)) & 0xFF);
    WriteFileBytes(folder / L"pattern", pattern);
    EXPECT_EQ(Hash(folder / L"pattern"), L"bbf63387736ccd6c1edd079d0bee68ee64048c6d45bc966cbaae36e7505ddc7c");
}

TEST_F(FileHashTest, BytesInMemoryHashAsTheSameFileWould)
{
    FileHasher hasher;
    std::wstring hex;
    EXPECT_EQ(hasher.Sha256("abc", 3, hex), 0u);
    EXPECT_EQ(hex, kAbcSha256);
    std::string pattern(3 * (1u << 20) + 5, '\0');
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = char((i * 7 + (i >> 9)) & 0xFF);
    EXPECT_EQ(hasher.Sha256(pattern.data(), pattern.size(), hex), 0u);
    EXPECT_EQ(hex, L"bbf63387736ccd6c1edd079d0bee68ee64048c6d45bc966cbaae36e7505ddc7c");
    EXPECT_EQ(hasher.Sha256("", 0, hex), 0u);
    EXPECT_EQ(hex, kEmptySha256);
}

TEST_F(FileHashTest, PathLongerThanMaxPath)
{
    const std::wstring file = MakeDeepFolder(folder.Path()) + L"\\abc.txt";
    ASSERT_GT(file.size(), size_t(MAX_PATH));
    WriteFileBytes(file, "abc");
    EXPECT_EQ(Hash(file), kAbcSha256);
}

TEST_F(FileHashTest, FileOpenForWritingByAnotherIsHashed)
{
    const std::wstring path = folder / L"service.log";
    unique_hfile writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer.is_valid());
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer.get(), "abc", 3, &written, nullptr));
    EXPECT_EQ(Hash(path), kAbcSha256);
}

TEST_F(FileHashTest, FailuresGiveTheWin32CodeAndNoDigest)
{
    EXPECT_EQ(Hash(folder / L"missing", ERROR_FILE_NOT_FOUND), L"") << "a failure must not leave an old digest";
    EXPECT_EQ(Hash(L"", ERROR_INVALID_PARAMETER), L"");
    std::wstring hex;
    EXPECT_EQ(FileHasher().Sha256(nullptr, hex), DWORD(ERROR_INVALID_PARAMETER));

    const std::wstring path = folder / L"exclusive";
    WriteFileBytes(path, "abc");
    unique_hfile holder(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.is_valid());
    EXPECT_EQ(FileHasher().Sha256(path.c_str(), hex), DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(hex.empty());
}
