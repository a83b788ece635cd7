#include "ListNodeData_FILEINFO.h"

#include "BlockFields.h"
#include "DiagnosticLog.h"
#include "FileTimeToSTR.h"
#include "RecordStream.h"
#include "SortedLinkList_STR.h"
#include "TextCollation.h"
#include "WideTextOut.h"
#include "Win32FileSize.h"

#include <cwchar>
#include <new>

namespace Tallis::ImageUpdate {
namespace {

using namespace BlockFields;
using Self = ListNodeData_FILEINFO;

constexpr const wchar_t* kUnit = L"ListNodeData_FILEINFO";

// Version 2: the version 3 layout up to offset 135, the file name at 136.
constexpr std::size_t kV2NameAt = 136;
constexpr std::uint32_t kV2Growth = 12;

// Version 1.
constexpr std::size_t kV1StateAt = 8;
constexpr std::size_t kV1AttributesAt = 16; // 64 bytes: attributes to short name
constexpr std::size_t kV1AuxTextAt = 80;
constexpr std::size_t kV1SecurityIdAt = 112;
constexpr std::size_t kV1NameLengthAt = 116;
constexpr std::size_t kV1NameAt = 120;
constexpr std::uint32_t kV1Growth = 28;

// The 64 bytes from attributes up to the end of the short name.
constexpr std::size_t kAttributesToShortName = 64;

// Version 0: a whole directory entry and the security-descriptor text.
constexpr std::size_t kV0StateAt = 8;
constexpr std::size_t kV0FindDataAt = 16;
constexpr std::size_t kV0SdLengthAt = 656;
constexpr std::size_t kV0SdTextAt = 660;

// Offsets inside a WIN32_FIND_DATAW.
constexpr std::size_t kFdAttributes = 0;
constexpr std::size_t kFdCreation = 4;
constexpr std::size_t kFdLastAccess = 12;
constexpr std::size_t kFdLastWrite = 20;
constexpr std::size_t kFdSizeHigh = 28;
constexpr std::size_t kFdSizeLow = 32;
constexpr std::size_t kFdReserved0 = 36;
constexpr std::size_t kFdReserved1 = 40;
constexpr std::size_t kFdFileName = 44;
constexpr std::size_t kFdAlternateName = 564;

constexpr std::size_t kMaxShortNameChars = 13;
constexpr std::size_t kMaxAuxTextChars = 15;

// Every block begins with its version and its length.
constexpr std::size_t kHeaderBytes = 8;

const wchar_t* const kStateNames[] = {L"IGNORED", L"NEW", L"REPLACE", L"REMOVED", L"UPGRADE", L"FLAGSCHANGED",
                                      L"INVALID"};

// The name of nameLength characters at nameAt, with its terminator, lies inside the block.
bool NameFits(const std::uint8_t* block, std::size_t blockBytes, std::size_t nameAt, std::uint32_t nameLength) noexcept
{
    const std::uint64_t end = std::uint64_t(nameAt) + 2 * (std::uint64_t(nameLength) + 1);
    if (end > blockBytes)
        return false;
    return block[end - 2] == 0 && block[end - 1] == 0;
}

bool HeaderAgrees(const std::uint8_t* block, std::uint32_t blockBytes, std::size_t fixedPart) noexcept
{
    return blockBytes >= fixedPart && LoadU32(block, Self::kLengthAt) == blockBytes;
}

Self::Block NewZeroBlock(std::uint64_t bytes) noexcept
{
    if (bytes > 0xFFFFFFFFull)
        return nullptr;
    return Self::Block(new (std::nothrow) std::uint8_t[std::size_t(bytes)]());
}

// A directory entry read field by field from the version 0 block (the entry's layout is fixed,
// but the block gives no alignment guarantee for a struct).
WIN32_FIND_DATAW ReadFindData(const std::uint8_t* block, std::size_t at) noexcept
{
    WIN32_FIND_DATAW entry{};
    entry.dwFileAttributes = LoadU32(block, at + kFdAttributes);
    entry.ftCreationTime = LoadTime(block, at + kFdCreation);
    entry.ftLastAccessTime = LoadTime(block, at + kFdLastAccess);
    entry.ftLastWriteTime = LoadTime(block, at + kFdLastWrite);
    entry.nFileSizeHigh = LoadU32(block, at + kFdSizeHigh);
    entry.nFileSizeLow = LoadU32(block, at + kFdSizeLow);
    entry.dwReserved0 = LoadU32(block, at + kFdReserved0);
    entry.dwReserved1 = LoadU32(block, at + kFdReserved1);
    std::memcpy(entry.cFileName, block + at + kFdFileName, sizeof entry.cFileName);
    std::memcpy(entry.cAlternateFileName, block + at + kFdAlternateName, sizeof entry.cAlternateFileName);
    entry.cFileName[MAX_PATH - 1] = L'\0';
    entry.cAlternateFileName[13] = L'\0';
    return entry;
}

Self::Block UpgradeVersion2(const std::uint8_t* old, std::uint32_t oldBytes) noexcept
{
    if (!HeaderAgrees(old, oldBytes, kV2NameAt))
        return nullptr;
    const std::uint32_t nameLength = LoadU32(old, Self::kNameLengthAt);
    if (!NameFits(old, oldBytes, kV2NameAt, nameLength))
        return nullptr;
    const std::uint64_t newBytes = std::uint64_t(oldBytes) + kV2Growth;
    Self::Block block = NewZeroBlock(newBytes);
    if (!block)
        return nullptr;
    std::uint8_t* b = block.get();
    StoreU32(b, Self::kVersionAt, Self::kVersion);
    StoreU32(b, Self::kLengthAt, std::uint32_t(newBytes));
    for (std::size_t at : {std::size_t(8), std::size_t(12), std::size_t(16), std::size_t(20)})
        StoreU32(b, at, LoadU32(old, at));
    StoreU32(b, Self::kStateAt, LoadU32(old, Self::kStateAt));
    std::memcpy(b + Self::kAttributesAt, old + Self::kAttributesAt, kAttributesToShortName);
    CopyBoundedText(b, Self::kAuxTextAt, old, Self::kAuxTextAt, kMaxAuxTextChars);
    StoreU32(b, Self::kSecurityIdAt, LoadU32(old, Self::kSecurityIdAt));
    StoreU32(b, Self::kNameLengthAt, nameLength);
    std::memcpy(b + Self::kNameAt, old + kV2NameAt, 2 * (std::size_t(nameLength) + 1));
    return block;
}

Self::Block UpgradeVersion1(const std::uint8_t* old, std::uint32_t oldBytes) noexcept
{
    if (!HeaderAgrees(old, oldBytes, kV1NameAt))
        return nullptr;
    const std::uint32_t nameLength = LoadU32(old, kV1NameLengthAt);
    if (!NameFits(old, oldBytes, kV1NameAt, nameLength))
        return nullptr;
    const std::uint64_t newBytes = std::uint64_t(oldBytes) + kV1Growth;
    Self::Block block = NewZeroBlock(newBytes);
    if (!block)
        return nullptr;
    std::uint8_t* b = block.get();
    StoreU32(b, Self::kVersionAt, Self::kVersion);
    StoreU32(b, Self::kLengthAt, std::uint32_t(newBytes));
    StoreU32(b, Self::kAuxValue2At, 0xFFFF);
    StoreU32(b, Self::kStateAt, LoadU32(old, kV1StateAt));
    std::memcpy(b + Self::kAttributesAt, old + kV1AttributesAt, kAttributesToShortName);
    CopyBoundedText(b, Self::kAuxTextAt, old, kV1AuxTextAt, kMaxAuxTextChars);
    StoreU32(b, Self::kSecurityIdAt, LoadU32(old, kV1SecurityIdAt));
    StoreU32(b, Self::kNameLengthAt, nameLength);
    std::memcpy(b + Self::kNameAt, old + kV1NameAt, 2 * (std::size_t(nameLength) + 1));
    return block;
}

Self::Block UpgradeVersion0(const std::uint8_t* old, std::uint32_t oldBytes) noexcept
{
    if (!HeaderAgrees(old, oldBytes, kV0SdTextAt))
        return nullptr;
    // The entry's name must end inside its field: it becomes the record's name.
    if (!IsTerminated(old, kV0FindDataAt + kFdFileName, MAX_PATH))
        return nullptr;
    const wchar_t* securityText = nullptr;
    if (LoadU32(old, kV0SdLengthAt) != 0) {
        if (!IsTerminated(old, kV0SdTextAt, (oldBytes - kV0SdTextAt) / 2))
            return nullptr;
        securityText = TextAt(old, kV0SdTextAt);
    }
    const WIN32_FIND_DATAW entry = ReadFindData(old, kV0FindDataAt);
    return Self::MakeFileRecord(entry, securityText, std::int32_t(LoadU32(old, kV0StateAt)));
}

} // namespace

ListNodeData_FILEINFO::ListNodeData_FILEINFO() = default;

ListNodeData_FILEINFO::ListNodeData_FILEINFO(SearchKeyTag tag, const wchar_t* lookupName) noexcept
    : ListNodeData(tag), m_lookupName(lookupName ? lookupName : L"")
{
}

ListNodeData_FILEINFO::~ListNodeData_FILEINFO() = default;

std::wstring ListNodeData_FILEINFO::StateName(std::int32_t state)
{
    if (state >= 0 && state < std::int32_t(sizeof kStateNames / sizeof kStateNames[0]))
        return kStateNames[state];
    return UnknownValueText(state);
}

bool ListNodeData_FILEINFO::IsWellFormed(const std::uint8_t* block, std::size_t blockBytes) noexcept
{
    if (!block || blockBytes < kNameAt + 2 || blockBytes > 0xFFFFFFFFu)
        return false;
    if (LoadU32(block, kVersionAt) != kVersion || LoadU32(block, kLengthAt) != blockBytes)
        return false;
    if (!IsTerminated(block, kShortNameAt, kShortNameChars) || !IsTerminated(block, kAuxTextAt, kAuxTextChars))
        return false;
    return NameFits(block, blockBytes, kNameAt, LoadU32(block, kNameLengthAt));
}

ListNodeData_FILEINFO::Block ListNodeData_FILEINFO::MakeFileRecord(const WIN32_FIND_DATAW& entry,
                                                                   const wchar_t* securityText,
                                                                   std::int32_t state) noexcept
{
    const std::size_t nameLength = wcsnlen(entry.cFileName, MAX_PATH);
    const std::size_t bytes = kMadeBlockBase + 2 * nameLength;
    Block block = NewZeroBlock(bytes);
    if (!block)
        return nullptr;
    std::uint8_t* b = block.get();
    StoreU32(b, kVersionAt, kVersion);
    StoreU32(b, kAttributesAt, entry.dwFileAttributes);
    StoreTime(b, kCreationTimeAt, entry.ftCreationTime);
    StoreTime(b, kLastAccessTimeAt, entry.ftLastAccessTime);
    StoreTime(b, kLastWriteTimeAt, entry.ftLastWriteTime);
    StoreU32(b, kSizeHighAt, entry.nFileSizeHigh);
    StoreU32(b, kSizeLowAt, entry.nFileSizeLow);
    const std::size_t shortChars = wcsnlen(entry.cAlternateFileName, kMaxShortNameChars);
    std::memcpy(b + kShortNameAt, entry.cAlternateFileName, 2 * shortChars);
    StoreU32(b, kNameLengthAt, std::uint32_t(nameLength));
    std::memcpy(b + kNameAt, entry.cFileName, 2 * nameLength);
    StoreU32(b, kStateAt, std::uint32_t(state));

    std::int32_t securityId = ListNodeData_STR::kNoTextId;
    {
        const ListLock::WriteGuard write(SharedSDPool.Lock());
        securityId = SharedSDPool.Intern(securityText, true);
    }
    StoreU32(b, kSecurityIdAt, std::uint32_t(securityId));

    StoreU32(b, kLengthAt, std::uint32_t(bytes));
    StoreU32(b, kAuxValue2At, 0xFFFF);
    return block;
}

ListNodeData_FILEINFO::Block ListNodeData_FILEINFO::UpgradeFileRecord(Block block, std::uint32_t blockBytes) noexcept
{
    if (!block || blockBytes < kHeaderBytes)
        return nullptr;
    Block upgraded;
    switch (LoadU32(block.get(), kVersionAt)) {
    case 3:
        // Checked against the bytes really held, not against its own length field.
        if (!IsWellFormed(block.get(), blockBytes))
            return nullptr;
        return block;
    case 2:
        upgraded = UpgradeVersion2(block.get(), blockBytes);
        break;
    case 1:
        upgraded = UpgradeVersion1(block.get(), blockBytes);
        break;
    case 0:
        upgraded = UpgradeVersion0(block.get(), blockBytes);
        break;
    default:
        return nullptr;
    }
    // An upgraded block is allocated at the size its length field gives; whatever the stored
    // version, the result must hold together as a current block.
    if (!upgraded || !IsWellFormed(upgraded.get(), LoadU32(upgraded.get(), kLengthAt)))
        return nullptr;
    return upgraded;
}

const wchar_t* ListNodeData_FILEINFO::SecurityText(const std::uint8_t* block) noexcept
{
    if (!block)
        return nullptr;
    const std::int32_t id = std::int32_t(LoadU32(block, kSecurityIdAt));
    if (id < 0) {
        KVO_LOG(LOG_ERROR, kUnit, L"Invalid SD Length in the FileInfo Object for %s", TextAt(block, kNameAt));
        return nullptr;
    }
    // The pool only grows, so the text stays valid after the lock is given back.
    const ListLock::ReadGuard read(SharedSDPool.Lock());
    return SharedSDPool.TextForId(id);
}

bool ListNodeData_FILEINFO::AdoptRecord(Block block, std::uint32_t blockBytes) noexcept
{
    Block upgraded = UpgradeFileRecord(std::move(block), blockBytes);
    if (!upgraded)
        return false;
    m_record = std::move(upgraded);
    return true;
}

const wchar_t* ListNodeData_FILEINFO::FileName() const noexcept
{
    return m_record ? TextAt(m_record.get(), kNameAt) : nullptr;
}

const wchar_t* ListNodeData_FILEINFO::ShortName() const noexcept
{
    return m_record ? TextAt(m_record.get(), kShortNameAt) : nullptr;
}

std::int32_t ListNodeData_FILEINFO::State() const noexcept
{
    return m_record ? std::int32_t(LoadU32(m_record.get(), kStateAt)) : 0;
}

std::uint32_t ListNodeData_FILEINFO::Attributes() const noexcept
{
    return m_record ? LoadU32(m_record.get(), kAttributesAt) : 0;
}

FILETIME ListNodeData_FILEINFO::LastWriteTime() const noexcept
{
    return m_record ? LoadTime(m_record.get(), kLastWriteTimeAt) : FILETIME{};
}

std::int64_t ListNodeData_FILEINFO::Size() const noexcept
{
    if (!m_record)
        return 0;
    const std::uint64_t size =
        (std::uint64_t(LoadU32(m_record.get(), kSizeHighAt)) << 32) | LoadU32(m_record.get(), kSizeLowAt);
    return std::int64_t(size);
}

std::int32_t ListNodeData_FILEINFO::SecurityId() const noexcept
{
    return m_record ? std::int32_t(LoadU32(m_record.get(), kSecurityIdAt)) : ListNodeData_STR::kNoTextId;
}

std::uint64_t ListNodeData_FILEINFO::ContentId() const noexcept
{
    if (!m_record)
        return 0;
    return std::uint64_t(LoadU32(m_record.get(), kContentIdAt)) |
           (std::uint64_t(LoadU32(m_record.get(), kContentIdAt + 4)) << 32);
}

const wchar_t* ListNodeData_FILEINFO::KeyName() const noexcept
{
    if (m_lookupName)
        return m_lookupName;
    const wchar_t* name = FileName();
    return name ? name : L"";
}

std::int32_t ListNodeData_FILEINFO::TypeCode() const
{
    return kTypeCode;
}

void ListNodeData_FILEINFO::WriteText(FILE* stream) const
{
    if (!m_record)
        return;
    const std::uint8_t* b = m_record.get();
    const wchar_t* securityText = SecurityText(b);
    CWin32FileSize size(LoadU32(b, kSizeHighAt), LoadU32(b, kSizeLowAt));
    const CFileTimeToSTR modified(LastWriteTime());
    WriteWideText(stream, L"File        : %s\n", FileName());
    WriteWideText(stream, L"State       : %s\n", StateName(State()).c_str());
    WriteWideText(stream, L"SD          : %s\n", securityText ? securityText : L"");
    WriteWideText(stream, L"Short Name  : %s\n", ShortName());
    WriteWideText(stream, L"Attributes  : 0X%X\n", Attributes());
    WriteWideText(stream, L"Mod    Date : %s\n", modified.GetText());
    WriteWideText(stream, L"File Size   : %s\n", size.GetText());
    WriteWideText(stream, L"\n");
}

void ListNodeData_FILEINFO::LogLine() const
{
    if (!m_record)
        return;
    const wchar_t* securityText = SecurityText(m_record.get());
    KVO_LOG(LOG_INFO, kUnit, L"Name:%s,State:%s,SD:%s", FileName(), StateName(State()).c_str(),
            securityText ? securityText : L"N/A");
}

std::int32_t ListNodeData_FILEINFO::Compare(const ListNodeData* other) const
{
    const ListNodeData_FILEINFO* that = nullptr;
    if (other && other->TypeCode() == kTypeCode)
        that = static_cast<const ListNodeData_FILEINFO*>(other);
    if (!that)
        return 1;
    if (that->GetSortKey() == 1) {
        const std::int64_t mine = Size();
        const std::int64_t theirs = that->Size();
        return mine > theirs ? 1 : (mine < theirs ? -1 : 0);
    }
    return CompareTextsNoCase(KeyName(), that->KeyName());
}

std::int32_t ListNodeData_FILEINFO::Save(FILE* stream) const
{
    if (!m_record)
        return -1;
    const std::uint32_t length = LoadU32(m_record.get(), kLengthAt);
    if (!WriteValue(stream, length))
        return -1;
    if (std::fwrite(m_record.get(), 1, length, stream) != length)
        return -1;
    return 0;
}

std::int32_t ListNodeData_FILEINFO::DataSize() const
{
    return m_record ? std::int32_t(LoadU32(m_record.get(), kLengthAt)) : 0;
}

bool ListNodeData_FILEINFO::MatchesFindData(const WIN32_FIND_DATAW& entry) const
{
    if (!m_record)
        return false;
    return LoadU32(m_record.get(), kSizeLowAt) == entry.nFileSizeLow &&
           LoadU32(m_record.get(), kSizeHighAt) == entry.nFileSizeHigh &&
           SameSecond(LastWriteTime(), entry.ftLastWriteTime);
}

bool ListNodeData_FILEINFO::SameAs(const ListNodeData_FILEINFO* other, bool ignoreContentId) const
{
    if (!m_record || !other || !other->m_record)
        return false;
    if (Size() != other->Size())
        return false;
    if (!ignoreContentId && other->ContentId() != 0 && other->ContentId() != ContentId())
        return false;
    if (Size() == 0)
        return true;
    return SameSecond(LastWriteTime(), other->LastWriteTime());
}

bool ListNodeData_FILEINFO::IsOlderThan(const WIN32_FIND_DATAW& entry, bool& sameTime) const
{
    sameTime = false;
    const SYSTEMTIME mine = UtcFields(LastWriteTime());
    const SYSTEMTIME theirs = UtcFields(entry.ftLastWriteTime);
    const WORD SYSTEMTIME::*const fields[] = {&SYSTEMTIME::wYear, &SYSTEMTIME::wMonth,  &SYSTEMTIME::wDay,
                                              &SYSTEMTIME::wHour, &SYSTEMTIME::wMinute, &SYSTEMTIME::wSecond};
    for (const auto field : fields) {
        if (mine.*field != theirs.*field)
            return theirs.*field > mine.*field;
    }
    sameTime = true;
    return false;
}

bool ListNodeData_FILEINFO::AdoptSecurity(SortedLinkList_STR* source)
{
    if (!m_record || !source || source->Count() == 0)
        return true;
    const std::int32_t id = SecurityId();
    // A copy: the source's node may go away once its lock is given back. The copy may throw
    // std::bad_alloc; the guard gives the read unit back on the way out.
    std::optional<std::wstring> text;
    {
        const ListLock::ReadGuard read(source->Lock());
        if (const wchar_t* found = source->TextForId(id))
            text = found;
    }
    if ((id >= 1000 || id < 0) && !text)
        return false;
    std::int32_t adopted = ListNodeData_STR::kNoTextId;
    {
        const ListLock::WriteGuard write(SharedSDPool.Lock());
        adopted = SharedSDPool.Intern(text ? text->c_str() : nullptr, true);
    }
    StoreU32(m_record.get(), kSecurityIdAt, std::uint32_t(adopted));
    return true;
}

std::int64_t ListNodeData_FILEINFO::SizeIn(std::uint32_t unit) const
{
    if (unit == 0)
        return 0;
    return Size() / std::int64_t(unit);
}

bool ListNodeData_FILEINFO::IsEmpty() const
{
    return !m_record || (LoadU32(m_record.get(), kSizeHighAt) == 0 && LoadU32(m_record.get(), kSizeLowAt) == 0);
}

ListNodeData* ListNodeData_FILEINFO::FromStream(FILE* stream) noexcept
{
    std::uint32_t length = 0;
    if (!ReadValue(stream, length))
        return nullptr;
    Block block = ReadBlock(stream, length);
    if (!block)
        return nullptr;
    Block upgraded = UpgradeFileRecord(std::move(block), length);
    if (!upgraded)
        return nullptr;
    ListNodeData_FILEINFO* node = new (std::nothrow) ListNodeData_FILEINFO();
    if (!node)
        return nullptr;
    node->m_record = std::move(upgraded);
    return node;
}

} // namespace Tallis::ImageUpdate
