#include "FsTestSupport.h"

#include <cstring>

using namespace Tallis::ImageUpdate;

namespace fstest {

Block& Block::U32(std::size_t at, std::uint32_t value)
{
    for (int b = 0; b < 4; ++b)
        m_bytes.at(at + std::size_t(b)) = char((value >> (8 * b)) & 0xFF);
    return *this;
}

Block& Block::U64(std::size_t at, std::uint64_t value)
{
    U32(at, std::uint32_t(value));
    return U32(at + 4, std::uint32_t(value >> 32));
}

Block& Block::Chars(std::size_t at, const std::wstring& text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        m_bytes.at(at + 2 * i) = char(text[i] & 0xFF);
        m_bytes.at(at + 2 * i + 1) = char((text[i] >> 8) & 0xFF);
    }
    return *this;
}

Block& Block::Raw(std::size_t at, const std::string& bytes)
{
    for (std::size_t i = 0; i < bytes.size(); ++i)
        m_bytes.at(at + i) = bytes[i];
    return *this;
}

std::uint32_t ReadU32(const std::string& bytes, std::size_t at)
{
    return ReadU32(reinterpret_cast<const std::uint8_t*>(bytes.data()), at);
}

std::uint32_t ReadU32(const std::uint8_t* bytes, std::size_t at)
{
    return std::uint32_t(bytes[at]) | (std::uint32_t(bytes[at + 1]) << 8) | (std::uint32_t(bytes[at + 2]) << 16) |
           (std::uint32_t(bytes[at + 3]) << 24);
}

std::string TextBytes(const std::wstring& text)
{
    return Block(2 * (text.size() + 1)).Chars(0, text).Str();
}

std::uint64_t Utc(int year, int month, int day, int hour, int minute, int second, int millis)
{
    SYSTEMTIME fields{};
    fields.wYear = WORD(year);
    fields.wMonth = WORD(month);
    fields.wDay = WORD(day);
    fields.wHour = WORD(hour);
    fields.wMinute = WORD(minute);
    fields.wSecond = WORD(second);
    fields.wMilliseconds = WORD(millis);
    FILETIME time{};
    EXPECT_TRUE(SystemTimeToFileTime(&fields, &time));
    return (std::uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME AsFileTime(std::uint64_t value)
{
    return FILETIME{DWORD(value), DWORD(value >> 32)};
}

namespace {

// Versions 3 and 2 share the layout up to offset 135; version 2 has no contentId and its name
// begins at 136.
std::string FileBlockV3OrV2(const FileFields& f, std::uint32_t version)
{
    const std::size_t nameAt = version == 3 ? 144 : 136;
    const std::size_t size = nameAt + 2 * (f.name.size() + 1) + f.spare;
    Block block(size);
    block.U32(0, version)
        .U32(4, std::uint32_t(size))
        .U32(8, f.aux1)
        .U32(12, f.aux2)
        .U64(16, f.aux3)
        .U32(24, std::uint32_t(f.state))
        .U32(32, f.attributes)
        .U64(36, f.creation)
        .U64(44, f.lastAccess)
        .U64(52, f.lastWrite)
        .U32(60, f.sizeHigh)
        .U32(64, f.sizeLow)
        .Chars(68, f.shortName)
        .Chars(96, f.auxText)
        .U32(128, std::uint32_t(f.securityId))
        .U32(132, std::uint32_t(f.name.size()))
        .Chars(nameAt, f.name);
    if (version == 3)
        block.U64(136, f.contentId);
    return block.Str();
}

} // namespace

std::string FileBlockV3(const FileFields& f)
{
    return FileBlockV3OrV2(f, 3);
}

std::string FileBlockV2(const FileFields& f)
{
    return FileBlockV3OrV2(f, 2);
}

std::string FileBlockV1(const FileFields& f)
{
    const std::size_t size = 120 + 2 * (f.name.size() + 1) + f.spare;
    return Block(size)
        .U32(0, 1)
        .U32(4, std::uint32_t(size))
        .U32(8, std::uint32_t(f.state))
        .U32(12, 0xDEADBEEF) // not read
        .U32(16, f.attributes)
        .U64(20, f.creation)
        .U64(28, f.lastAccess)
        .U64(36, f.lastWrite)
        .U32(44, f.sizeHigh)
        .U32(48, f.sizeLow)
        .Chars(52, f.shortName)
        .Chars(80, f.auxText)
        .U32(112, std::uint32_t(f.securityId))
        .U32(116, std::uint32_t(f.name.size()))
        .Chars(120, f.name)
        .Str();
}

std::string FileBlockV0(const FileFields& f, const std::optional<std::wstring>& sd)
{
    const std::size_t size = 660 + (sd ? 2 * (sd->size() + 1) : 0);
    Block block(size);
    block.U32(0, 0)
        .U32(4, std::uint32_t(size))
        .U32(8, std::uint32_t(f.state))
        .U32(16 + 0, f.attributes)
        .U64(16 + 4, f.creation)
        .U64(16 + 12, f.lastAccess)
        .U64(16 + 20, f.lastWrite)
        .U32(16 + 28, f.sizeHigh)
        .U32(16 + 32, f.sizeLow)
        .Chars(16 + 44, f.name)
        .Chars(16 + 564, f.shortName);
    if (sd)
        block.U32(656, std::uint32_t(2 * (sd->size() + 1))).Chars(660, *sd); // bytes with the NUL
    return block.Str();
}

namespace {

std::string FolderVariablePart(const FolderFields& f, bool withTextAndExtra)
{
    std::string part = TextBytes(f.name);
    if (withTextAndExtra) {
        if (f.sd)
            part += TextBytes(*f.sd);
        part += f.extra;
    }
    return part + std::string(f.spare, '\0');
}

std::uint32_t TextLength(const FolderFields& f)
{
    return f.sd ? std::uint32_t(f.sd->size()) : 0;
}

} // namespace

std::string FolderBlockV4(const FolderFields& f)
{
    const std::string variable = FolderVariablePart(f, true);
    const std::size_t size = 0x6C + variable.size();
    return Block(size)
        .U32(0x00, 4)
        .U32(0x04, std::uint32_t(size))
        .U32(0x08, f.aux1)
        .U32(0x0C, f.aux2)
        .Chars(0x10, f.tag)
        .U64(0x28, f.slot)
        .U32(0x30, f.state)
        .U32(0x34, f.reserved)
        .U32(0x38, f.attributes)
        .U64(0x3C, f.time)
        .Chars(0x44, f.shortName)
        .U32(0x60, std::uint32_t(f.name.size()))
        .U32(0x64, TextLength(f))
        .U32(0x68, std::uint32_t(f.extra.size()))
        .Raw(0x6C, variable)
        .Str();
}

std::string FolderBlockV3(const FolderFields& f)
{
    const std::string variable = FolderVariablePart(f, true);
    const std::size_t size = 0x64 + variable.size();
    return Block(size)
        .U32(0x00, 3)
        .U32(0x04, std::uint32_t(size))
        .U32(0x08, f.aux1)
        .U32(0x0C, f.aux2)
        .Chars(0x10, f.tag)
        .U32(0x30, f.state)
        .U32(0x38, f.attributes)
        .Chars(0x3C, f.shortName)
        .U32(0x58, std::uint32_t(f.name.size()))
        .U32(0x5C, TextLength(f))
        .U32(0x60, std::uint32_t(f.extra.size()))
        .Raw(0x64, variable)
        .Str();
}

namespace {

// Versions 2 and 1 share the layout up to offset 0x57; version 1 has no text or extra data and
// its variable part begins at 0x5C.
std::string FolderBlockV2OrV1(const FolderFields& f, std::uint32_t version)
{
    const bool withTextAndExtra = version == 2;
    const std::string variable = FolderVariablePart(f, withTextAndExtra);
    const std::size_t variableAt = withTextAndExtra ? 0x60 : 0x5C;
    const std::size_t size = variableAt + variable.size();
    Block block(size);
    block.U32(0x00, version)
        .U32(0x04, std::uint32_t(size))
        .U32(0x08, f.aux1)
        .U32(0x0C, f.aux2)
        .Chars(0x10, f.tag)
        .U32(0x2C, f.state)
        .U32(0x34, f.attributes)
        .Chars(0x38, f.shortName)
        .U32(0x54, std::uint32_t(f.name.size()));
    if (withTextAndExtra)
        block.U32(0x58, TextLength(f)).U32(0x5C, std::uint32_t(f.extra.size()));
    else
        block.U32(0x58, 0x77777777); // not a field of this version
    return block.Raw(variableAt, variable).Str();
}

} // namespace

std::string FolderBlockV2(const FolderFields& f)
{
    return FolderBlockV2OrV1(f, 2);
}

std::string FolderBlockV1(const FolderFields& f)
{
    return FolderBlockV2OrV1(f, 1);
}

std::string FolderBlockV0(const FolderFields& f)
{
    const std::string variable = FolderVariablePart(f, false);
    const std::size_t size = 0x3C + variable.size();
    return Block(size)
        .U32(0x00, 0)
        .U32(0x04, std::uint32_t(size))
        .U32(0x08, 0x12345678) // no auxValue1 in this version
        .U32(0x0C, f.state)
        .U32(0x14, f.attributes)
        .Chars(0x18, f.shortName)
        .U32(0x34, std::uint32_t(f.name.size()))
        .Raw(0x3C, variable)
        .Str();
}

std::unique_ptr<std::uint8_t[]> OwnedBlock(const std::string& bytes)
{
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[bytes.empty() ? 1 : bytes.size()]);
    std::memcpy(block.get(), bytes.data(), bytes.size());
    return block;
}

std::string Sized(const std::string& block)
{
    return U32(std::uint32_t(block.size())) + block;
}

std::string FileEntry(const std::string& block)
{
    return U32(3) + Sized(block);
}

std::string FolderEntry(const std::string& block, std::int32_t fileCount, const std::string& files)
{
    return U32(2) + Sized(block) + U32(std::uint32_t(fileCount)) + files;
}

} // namespace fstest
