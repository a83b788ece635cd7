#include "ListNodeData_FOLDERINFO.h"

#include "BlockFields.h"
#include "DiagnosticLog.h"
#include "ListNodeData_FILEINFO.h"
#include "RecordStream.h"
#include "SortedLinkList_FILEINFO.h"
#include "SortedLinkList_FOLDERINFO.h"
#include "TextCollation.h"
#include "WideTextOut.h"

#include <new>

namespace Tallis::ImageUpdate {
namespace {

using namespace BlockFields;
using Self = ListNodeData_FOLDERINFO;

constexpr const wchar_t* kUnit = L"ListNodeData_FOLDERINFO";
constexpr std::size_t kNone = std::size_t(-1);
constexpr std::size_t kHeaderBytes = 8;
constexpr std::size_t kMaxShortNameChars = 13;
constexpr std::size_t kMaxTagTextChars = 11;

const wchar_t* const kStateNames[] = {L"IGNORED", L"NEW", L"REPLACE", L"REMOVED", L"PATCHIT", L"CREATE"};

// Where the fields of an older stored version lie, and what its upgrade copies.
struct OldLayout {
    std::uint32_t version;
    std::size_t fixedPart;
    std::uint32_t growth;
    bool keepsAuxFields; // auxValue1, auxValue2 and the tag text at the same offsets
    std::size_t stateAt;
    std::size_t attributesAt;
    std::size_t shortNameAt;
    std::size_t nameLengthAt;
    std::size_t textLengthAt;  // kNone: the text length becomes 0
    std::size_t extraLengthAt; // kNone: the extra data length becomes 0
};

constexpr OldLayout kOldLayouts[] = {
    {3, 0x64, 8, true, 0x30, 0x38, 0x3C, 0x58, 0x5C, 0x60},
    {2, 0x60, 12, true, 0x2C, 0x34, 0x38, 0x54, 0x58, 0x5C},
    {1, 0x5C, 16, true, 0x2C, 0x34, 0x38, 0x54, kNone, kNone},
    {0, 0x3C, 48, false, 0x0C, 0x14, 0x18, 0x34, kNone, kNone},
};

// A text of `chars` characters with its terminator at `at` lies inside the block.
bool TextFits(const std::uint8_t* block, std::size_t blockBytes, std::uint64_t at, std::uint32_t chars) noexcept
{
    const std::uint64_t end = at + 2 * (std::uint64_t(chars) + 1);
    if (end > blockBytes)
        return false;
    return block[end - 2] == 0 && block[end - 1] == 0;
}

Self::Block Upgrade(const OldLayout& layout, const std::uint8_t* old, std::uint32_t oldBytes) noexcept
{
    if (oldBytes < layout.fixedPart || LoadU32(old, Self::kSizeAt) != oldBytes)
        return nullptr;
    const std::uint64_t newBytes = std::uint64_t(oldBytes) + layout.growth;
    if (newBytes > 0xFFFFFFFFull)
        return nullptr;
    Self::Block block(new (std::nothrow) std::uint8_t[std::size_t(newBytes)]());
    if (!block)
        return nullptr;
    std::uint8_t* b = block.get();
    StoreU32(b, Self::kVersionAt, Self::kVersion);
    StoreU32(b, Self::kSizeAt, std::uint32_t(newBytes));
    if (layout.keepsAuxFields) {
        StoreU32(b, Self::kAuxValue1At, LoadU32(old, Self::kAuxValue1At));
        StoreU32(b, Self::kAuxValue2At, LoadU32(old, Self::kAuxValue2At));
        CopyBoundedText(b, Self::kTagTextAt, old, Self::kTagTextAt, kMaxTagTextChars);
    } else {
        StoreU32(b, Self::kAuxValue2At, 0xFFFF);
    }
    StoreU32(b, Self::kStateAt, LoadU32(old, layout.stateAt));
    StoreU32(b, Self::kAttributesAt, LoadU32(old, layout.attributesAt));
    CopyBoundedText(b, Self::kShortNameAt, old, layout.shortNameAt, kMaxShortNameChars);
    StoreU32(b, Self::kNameLengthAt, LoadU32(old, layout.nameLengthAt));
    if (layout.textLengthAt != kNone)
        StoreU32(b, Self::kTextLengthAt, LoadU32(old, layout.textLengthAt));
    if (layout.extraLengthAt != kNone)
        StoreU32(b, Self::kExtraLengthAt, LoadU32(old, layout.extraLengthAt));
    // The variable part without its last 2 bytes, as the earlier layouts are converted.
    const std::size_t variable = oldBytes - layout.fixedPart;
    if (variable > 2)
        std::memcpy(b + Self::kNameAt, old + layout.fixedPart, variable - 2);
    return block;
}

thread_local int t_nesting = 0;

struct NestingGuard {
    NestingGuard() noexcept { ++t_nesting; }
    ~NestingGuard() { --t_nesting; }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;
};

} // namespace

ListNodeData_FOLDERINFO::ListNodeData_FOLDERINFO() : m_subFolders(std::make_unique<SortedLinkList_FOLDERINFO>()) {}

ListNodeData_FOLDERINFO::ListNodeData_FOLDERINFO(const wchar_t* path)
    : m_subFolders(std::make_unique<SortedLinkList_FOLDERINFO>()),
      m_lookupPath(std::wstring(path ? path : L""))
{
}

ListNodeData_FOLDERINFO::ListNodeData_FOLDERINFO(SearchKeyTag tag, const wchar_t* path) noexcept
    : ListNodeData(tag), m_borrowedKey(path ? path : L"")
{
}

ListNodeData_FOLDERINFO::~ListNodeData_FOLDERINFO() = default;

std::wstring ListNodeData_FOLDERINFO::StateName(std::uint32_t state)
{
    if (state < sizeof kStateNames / sizeof kStateNames[0])
        return kStateNames[state];
    return UnknownValueText(state);
}

bool ListNodeData_FOLDERINFO::IsWellFormed(const std::uint8_t* block, std::size_t blockBytes) noexcept
{
    if (!block || blockBytes < kNameAt + 2 || blockBytes > 0xFFFFFFFFu)
        return false;
    if (LoadU32(block, kVersionAt) != kVersion || LoadU32(block, kSizeAt) != blockBytes)
        return false;
    if (!IsTerminated(block, kTagTextAt, kTagTextChars) || !IsTerminated(block, kShortNameAt, kShortNameChars))
        return false;
    const std::uint32_t nameLength = LoadU32(block, kNameLengthAt);
    if (!TextFits(block, blockBytes, kNameAt, nameLength))
        return false;
    std::uint64_t at = kNameAt + 2 * (std::uint64_t(nameLength) + 1);
    const std::uint32_t textLength = LoadU32(block, kTextLengthAt);
    if (textLength != 0) {
        if (!TextFits(block, blockBytes, at, textLength))
            return false;
        at += 2 * (std::uint64_t(textLength) + 1);
    }
    return at + LoadU32(block, kExtraLengthAt) <= blockBytes;
}

ListNodeData_FOLDERINFO::Block ListNodeData_FOLDERINFO::UpgradeFolderRecord(Block block,
                                                                            std::uint32_t blockBytes) noexcept
{
    if (!block || blockBytes < kHeaderBytes)
        return nullptr;
    const std::uint32_t version = LoadU32(block.get(), kVersionAt);
    if (version == kVersion)
        return IsWellFormed(block.get(), blockBytes) ? std::move(block) : nullptr;
    for (const OldLayout& layout : kOldLayouts) {
        if (layout.version != version)
            continue;
        Block upgraded = Upgrade(layout, block.get(), blockBytes);
        // Names, texts and extra data of the old record must fit the new block as well.
        if (!upgraded || !IsWellFormed(upgraded.get(), std::size_t(blockBytes) + layout.growth))
            return nullptr;
        return upgraded;
    }
    return nullptr;
}

bool ListNodeData_FOLDERINFO::AdoptRecord(Block block, std::uint32_t blockBytes) noexcept
{
    Block upgraded = UpgradeFolderRecord(std::move(block), blockBytes);
    if (!upgraded)
        return false;
    m_record = std::move(upgraded);
    return true;
}

std::size_t ListNodeData_FOLDERINFO::TextAt() const noexcept
{
    return kNameAt + 2 * (std::size_t(LoadU32(m_record.get(), kNameLengthAt)) + 1);
}

std::size_t ListNodeData_FOLDERINFO::ExtraAt() const noexcept
{
    const std::uint32_t textLength = LoadU32(m_record.get(), kTextLengthAt);
    return TextAt() + (textLength ? 2 * (std::size_t(textLength) + 1) : 0);
}

const wchar_t* ListNodeData_FOLDERINFO::Name() const noexcept
{
    return m_record ? BlockFields::TextAt(m_record.get(), kNameAt) : nullptr;
}

const wchar_t* ListNodeData_FOLDERINFO::ShortName() const noexcept
{
    return m_record ? BlockFields::TextAt(m_record.get(), kShortNameAt) : nullptr;
}

const wchar_t* ListNodeData_FOLDERINFO::TagText() const noexcept
{
    return m_record ? BlockFields::TextAt(m_record.get(), kTagTextAt) : nullptr;
}

const wchar_t* ListNodeData_FOLDERINFO::SecurityText() const noexcept
{
    if (!m_record || LoadU32(m_record.get(), kTextLengthAt) == 0)
        return nullptr;
    return BlockFields::TextAt(m_record.get(), TextAt());
}

const std::uint8_t* ListNodeData_FOLDERINFO::ExtraData() const noexcept
{
    if (!m_record || LoadU32(m_record.get(), kExtraLengthAt) == 0)
        return nullptr;
    return m_record.get() + ExtraAt();
}

std::uint32_t ListNodeData_FOLDERINFO::ExtraDataLength() const noexcept
{
    return m_record ? LoadU32(m_record.get(), kExtraLengthAt) : 0;
}

std::uint32_t ListNodeData_FOLDERINFO::State() const noexcept
{
    return m_record ? LoadU32(m_record.get(), kStateAt) : 0;
}

std::uint32_t ListNodeData_FOLDERINFO::Attributes() const noexcept
{
    return m_record ? LoadU32(m_record.get(), kAttributesAt) : 0;
}

FILETIME ListNodeData_FOLDERINFO::Time() const noexcept
{
    return m_record ? LoadTime(m_record.get(), kTimeAt) : FILETIME{};
}

const wchar_t* ListNodeData_FOLDERINFO::LookupPath() const noexcept
{
    if (m_borrowedKey)
        return m_borrowedKey;
    return m_lookupPath ? m_lookupPath->c_str() : nullptr;
}

const wchar_t* ListNodeData_FOLDERINFO::Key() const noexcept
{
    if (m_borrowedKey)
        return m_borrowedKey;
    if (m_lookupPath)
        return m_lookupPath->c_str();
    const wchar_t* name = Name();
    return name ? name : L"";
}

std::int32_t ListNodeData_FOLDERINFO::TypeCode() const
{
    return kTypeCode;
}

void ListNodeData_FOLDERINFO::WriteText(FILE* stream) const
{
    if (!m_record)
        return;
    const wchar_t* securityText = SecurityText();
    WriteWideText(stream, L"[%s]\n", Name());
    WriteWideText(stream, L"State     : %s\n", StateName(State()).c_str());
    WriteWideText(stream, L"SD        : %s\n", securityText ? securityText : L"");
    WriteWideText(stream, L"Short Name: %s\n", ShortName());
    WriteWideText(stream, L"Attributes: 0X%X\n", Attributes());
    WriteWideText(stream, L"\n\n");
    if (m_files)
        m_files->WriteText(stream);
}

void ListNodeData_FOLDERINFO::LogLine() const
{
    if (!m_record)
        return;
    const wchar_t* securityText = SecurityText();
    KVO_LOG(LOG_INFO, kUnit, L"Name:%s, State:%s, SD:%s", Name(), StateName(State()).c_str(),
            securityText ? securityText : L"");
    if (m_files)
        m_files->LogAll();
}

std::int32_t ListNodeData_FOLDERINFO::Compare(const ListNodeData* other) const
{
    const wchar_t* otherKey = L"";
    if (other && other->TypeCode() == kTypeCode)
        otherKey = static_cast<const ListNodeData_FOLDERINFO*>(other)->Key();
    return CompareTextsNoCase(Key(), otherKey);
}

std::int32_t ListNodeData_FOLDERINFO::Save(FILE* stream) const
{
    if (!m_record)
        return -1;
    const std::uint32_t size = LoadU32(m_record.get(), kSizeAt);
    if (!WriteValue(stream, size))
        return -1;
    if (std::fwrite(m_record.get(), 1, size, stream) != size)
        return -1;
    if (m_files)
        return m_files->Save(stream);
    // A folder made without the reader has no file list: it is saved as an empty one, so the
    // stream still reads back.
    return WriteValue(stream, std::int32_t(0)) ? 0 : -1;
}

std::int32_t ListNodeData_FOLDERINFO::DataSize() const
{
    return m_record ? std::int32_t(LoadU32(m_record.get(), kSizeAt)) : 0;
}

bool ListNodeData_FOLDERINFO::SameExtraData(const ListNodeData_FOLDERINFO* other) const
{
    if (!other)
        return false;
    const std::uint32_t length = ExtraDataLength();
    if (length != other->ExtraDataLength())
        return false;
    return length == 0 || std::memcmp(ExtraData(), other->ExtraData(), length) == 0;
}

bool ListNodeData_FOLDERINFO::SameTime(const ListNodeData_FOLDERINFO* other) const
{
    if (!other)
        return false;
    const FILETIME theirs = other->Time();
    if (theirs.dwLowDateTime == 0 && theirs.dwHighDateTime == 0)
        return true;
    return SameSecond(Time(), theirs);
}

ListNodeData_FOLDERINFO* ListNodeData_FOLDERINFO::FirstSubFolder()
{
    return m_subFolders ? m_subFolders->FirstFolder() : nullptr;
}

ListNodeData_FOLDERINFO* ListNodeData_FOLDERINFO::NextSubFolder()
{
    return m_subFolders ? m_subFolders->NextFolder() : nullptr;
}

ListNodeData_FOLDERINFO* ListNodeData_FOLDERINFO::FindSubFolder(const wchar_t* path)
{
    return m_subFolders ? m_subFolders->FindFolderByPath(path, false) : nullptr;
}

bool ListNodeData_FOLDERINFO::AddFile(ListNodeData_FILEINFO* file)
{
    if (!file)
        return false;
    if (!m_files) {
        m_files.reset(new (std::nothrow) SortedLinkList_FILEINFO());
        if (!m_files)
            return false;
    }
    return m_files->InsertHead(file);
}

bool ListNodeData_FOLDERINFO::SortFiles()
{
    return m_files ? m_files->Sort(SortedLinkList::kAscending, 0) : false;
}

ListNodeData_FILEINFO* ListNodeData_FOLDERINFO::FindFile(const ListNodeData_FILEINFO* key)
{
    return m_files ? m_files->FindFile(key) : nullptr;
}

ListNodeData_FILEINFO* ListNodeData_FOLDERINFO::FindFileByName(const wchar_t* name)
{
    return m_files ? m_files->FindFileByName(name) : nullptr;
}

ListNodeData_FILEINFO* ListNodeData_FOLDERINFO::FindFileByShortName(const wchar_t* shortName)
{
    return m_files ? m_files->FindFileByShortName(shortName) : nullptr;
}

ListNodeData_FILEINFO* ListNodeData_FOLDERINFO::TakeFirstFile(bool remove)
{
    return m_files ? m_files->TakeFirstFile(remove) : nullptr;
}

ListNodeData_FILEINFO* ListNodeData_FOLDERINFO::FirstFile()
{
    return m_files ? m_files->FirstFile() : nullptr;
}

ListNodeData_FILEINFO* ListNodeData_FOLDERINFO::NextFile()
{
    return m_files ? m_files->NextFile() : nullptr;
}

ListNodeData* ListNodeData_FOLDERINFO::FromStream(FILE* stream) noexcept
{
    if (t_nesting >= kMaxNesting)
        return nullptr;
    const NestingGuard nested;
    std::uint32_t length = 0;
    if (!ReadValue(stream, length))
        return nullptr;
    try {
        std::unique_ptr<ListNodeData_FOLDERINFO> node(new ListNodeData_FOLDERINFO());
        Block block = ReadBlock(stream, length);
        if (!block)
            return nullptr;
        node->m_record = UpgradeFolderRecord(std::move(block), length);
        if (!node->m_record)
            return nullptr;
        node->m_files = std::make_unique<SortedLinkList_FILEINFO>();
        // A file list that is not read whole leaves the stream inside it: the folder is refused,
        // so the outer list stops instead of reading file records as records of its own.
        if (node->m_files->Load(stream) != 0)
            return nullptr;
        SortedLinkList::Link* position = nullptr;
        std::int32_t index = 0;
        for (ListNodeData* file = node->m_files->FirstAt(position, index); file;
             file = node->m_files->NextAt(position, index)) {
            if (!SortedLinkList_FILEINFO::AsFile(file))
                return nullptr;
        }
        return node.release();
    } catch (...) {
        return nullptr;
    }
}

} // namespace Tallis::ImageUpdate
