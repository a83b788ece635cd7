#pragma once
// Helpers of the file and folder record tests: blocks of every stored version written by hand
// at their documented offsets, stream entries, and a fixture that reads, saves and dumps
// records through scratch files.
#include "RecordTestSupport.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace fstest {

// Zero-filled bytes with little-endian fields put at offsets.
class Block {
public:
    explicit Block(std::size_t size) : m_bytes(size, '\0') {}
    Block& U32(std::size_t at, std::uint32_t value);
    Block& U64(std::size_t at, std::uint64_t value);
    // UTF-16LE characters without a terminator (the zero fill gives one when there is room).
    Block& Chars(std::size_t at, const std::wstring& text);
    Block& Raw(std::size_t at, const std::string& bytes);
    [[nodiscard]] const std::string& Str() const noexcept { return m_bytes; }

private:
    std::string m_bytes;
};

using kvotest::U32;
[[nodiscard]] std::uint32_t ReadU32(const std::string& bytes, std::size_t at);
[[nodiscard]] std::uint32_t ReadU32(const std::uint8_t* bytes, std::size_t at);
// UTF-16LE bytes of text with its terminator.
[[nodiscard]] std::string TextBytes(const std::wstring& text);

// 100-ns units since 1601 of a UTC calendar time.
[[nodiscard]] std::uint64_t Utc(int year, int month, int day, int hour, int minute, int second, int millis = 0);
[[nodiscard]] FILETIME AsFileTime(std::uint64_t value);

struct FileFields {
    std::wstring name = L"report.txt";
    std::wstring shortName = L"REPORT.TXT";
    std::uint32_t attributes = 0x20;
    std::uint64_t creation = 0x01D1000011112222ull;
    std::uint64_t lastAccess = 0x01D1000033334444ull;
    std::uint64_t lastWrite = 0x01D1000055556666ull;
    std::uint32_t sizeHigh = 0;
    std::uint32_t sizeLow = 100;
    std::int32_t state = 1;
    std::int32_t securityId = 1;
    std::uint32_t aux1 = 0x11;
    std::uint32_t aux2 = 0x22;
    std::uint64_t aux3 = 0x0000003300000044ull;
    std::wstring auxText = L"aux";
    std::uint64_t contentId = 0;
    std::size_t spare = 6;
};

// Stored file blocks of each version, laid out by hand.
[[nodiscard]] std::string FileBlockV3(const FileFields& f);
[[nodiscard]] std::string FileBlockV2(const FileFields& f);
[[nodiscard]] std::string FileBlockV1(const FileFields& f);
// sd: none writes SD length 0; a text (also an empty one) writes its size in bytes with the
// terminator, then the text.
[[nodiscard]] std::string FileBlockV0(const FileFields& f, const std::optional<std::wstring>& sd);

struct FolderFields {
    std::wstring name = L"\\data\\";
    std::wstring shortName = L"DATA";
    std::wstring tag = L"tag";
    std::uint32_t aux1 = 0x55;
    std::uint32_t aux2 = 0x66;
    std::uint32_t state = 1;
    std::uint32_t reserved = 0;
    std::uint32_t attributes = 0x10;
    std::uint64_t time = 0;
    std::uint64_t slot = 0;
    std::optional<std::wstring> sd;
    std::string extra;
    std::size_t spare = 2;
};

[[nodiscard]] std::string FolderBlockV4(const FolderFields& f);
[[nodiscard]] std::string FolderBlockV3(const FolderFields& f);
[[nodiscard]] std::string FolderBlockV2(const FolderFields& f);
[[nodiscard]] std::string FolderBlockV1(const FolderFields& f);
[[nodiscard]] std::string FolderBlockV0(const FolderFields& f);

// A heap block holding bytes, as the records take ownership of one.
[[nodiscard]] std::unique_ptr<std::uint8_t[]> OwnedBlock(const std::string& bytes);

// A node's data behind its type code: the length and the block.
[[nodiscard]] std::string Sized(const std::string& block);
// List stream entries: type code, length, block (and for a folder, its file list).
[[nodiscard]] std::string FileEntry(const std::string& block);
[[nodiscard]] std::string FolderEntry(const std::string& block, std::int32_t fileCount, const std::string& files);

class FsFixture : public kvotest::RecordStreamFixture {
protected:
    FsFixture() : RecordStreamFixture(L"records-fs") {}
};

} // namespace fstest
