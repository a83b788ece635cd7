#include "RegRecordBytes.h"

namespace regtest {

std::string ValueRecord(const Value& value)
{
    const std::string name = Utf16(value.name);
    const std::string filler(value.data.size() % 2, '\0');
    const std::uint32_t size = std::uint32_t(0x2C + value.data.size() + filler.size() + name.size());
    return U32(2) + U32(size) + U32(value.aux) + U32(std::uint32_t(value.conflict)) + value.digest +
           U32(value.state) + U32(value.type) + U32(std::uint32_t(value.data.size())) + value.data + filler + name;
}

std::string ValueEntry(const Value& value)
{
    const std::string record = ValueRecord(value);
    return U32(5) + U32(std::uint32_t(record.size())) + record;
}

std::string KeyRecord(const std::wstring& path, std::uint32_t state, std::int32_t conflict, std::uint64_t slot,
                      std::uint32_t version)
{
    const std::string text = Utf16(path);
    const std::uint32_t size = std::uint32_t(0x20 + text.size());
    return U32(version) + U32(size) + U32(0xA5A5A5A5u) + U32(std::uint32_t(conflict)) + U64(slot) + U32(state) +
           U32(0) + text;
}

std::string KeyEntry(const std::wstring& path, const std::vector<Value>& values, std::uint32_t state,
                     std::int32_t conflict)
{
    const std::string record = KeyRecord(path, state, conflict);
    std::string bytes = U32(4) + U32(std::uint32_t(record.size())) + record + U32(std::uint32_t(values.size()));
    for (const Value& value : values)
        bytes += ValueEntry(value);
    return bytes;
}

std::string FileIdRecord(std::int32_t layer, std::uint64_t sourceId, std::int64_t sentinelId, std::uint32_t version)
{
    return U32(version) + U32(32) + U32(std::uint32_t(layer)) + U32(0) + U64(sourceId) +
           U64(std::uint64_t(sentinelId));
}

std::string FileIdEntry(std::int32_t layer, std::uint64_t sourceId, std::int64_t sentinelId)
{
    return U32(11) + U32(32) + FileIdRecord(layer, sourceId, sentinelId);
}

std::string Sid(std::uint8_t authority, const std::vector<std::uint32_t>& subAuthorities)
{
    std::string bytes;
    bytes.push_back(1);
    bytes.push_back(char(subAuthorities.size()));
    bytes += std::string(5, '\0');
    bytes.push_back(char(authority));
    for (std::uint32_t sub : subAuthorities)
        bytes += U32(sub);
    return bytes;
}

std::string GroupRecord(const std::wstring& name, const std::optional<std::wstring>& comment,
                        const std::vector<std::string>& sids, std::uint32_t version)
{
    std::string bytes = U32(version) + U32(std::uint32_t(name.size() + 1)) +
                        U32(comment ? std::uint32_t(comment->size() + 1) : 0) + U32(std::uint32_t(sids.size())) +
                        Utf16(name);
    if (comment)
        bytes += Utf16(*comment);
    for (const std::string& sid : sids)
        bytes += U32(std::uint32_t(sid.size())) + sid;
    return bytes;
}

std::string GroupEntry(const std::wstring& name, const std::optional<std::wstring>& comment,
                       const std::vector<std::string>& sids)
{
    const std::string record = GroupRecord(name, comment, sids);
    return U32(12) + U32(std::uint32_t(record.size())) + record;
}

std::string StringEntry(std::int32_t id, const std::wstring& text)
{
    return kvotest::Bytes().StringEntry(id, text).Str();
}

std::string ListStream(std::int32_t count, const std::vector<std::string>& entries)
{
    std::string bytes = U32(std::uint32_t(count));
    for (const std::string& entry : entries)
        bytes += entry;
    return bytes;
}

std::vector<std::string> EveryTypeEntries()
{
    Value dword{L"Start", 4, U32(2), 2, -3, std::string("\x10\x32\x54\x76\x98\xBA\xDC\xFE\x01\x23\x45\x67\x89\xAB\xCD\xEF", 16)};
    Value path{L"ImagePath", 2, Utf16(L"%SystemRoot%\\x.sys"), 1, 0};
    Value odd{L"Odd", 3, std::string("\x01\x02\x03", 3), 3, 7};
    Value empty{L"", 1, Utf16(L"default"), 0, 0};
    const std::string admins = Sid(5, {32, 544});
    const std::string user = Sid(5, {21, 1, 2, 3, 1001});
    return {
        StringEntry(1001, L"D:(A;;FA;;;SY)"),
        KeyEntry(L"\\Registry\\Machine\\Software\\Vendor", {dword, path}, 2, 5),
        FileIdEntry(3, 0x1234, -1),
        KeyEntry(L"\\Registry\\Machine\\Software\\Vendor\\Sub", {odd, empty}, 9, -1),
        GroupEntry(L"Administrators", std::wstring(L"Full control"), {admins, user}),
        StringEntry(1002, L"O:BAG:BA"),
        FileIdEntry(-2, 0xFEDCBA9876543210ull, 0x7FFFFFFFFFFFFFFFll),
        KeyEntry(L"\\Registry\\Machine\\System", {}, 0, 0),
        GroupEntry(L"Guests", std::nullopt, {}),
    };
}

std::string EveryTypeStream()
{
    return ListStream(EveryTypeEntries());
}

} // namespace regtest
