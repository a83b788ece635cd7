#pragma once
// Hand-built stream bytes of the registry key and value, file-id map and group records,
// written field by field at their documented offsets (little-endian).
#include "RecordTestSupport.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace regtest {

using kvotest::U32;
using kvotest::U64;
using kvotest::Utf16;

struct Value {
    std::wstring name;
    std::uint32_t type = 4;
    std::string data = {};
    std::uint32_t state = 0;
    std::int32_t conflict = 0;
    std::string digest = std::string(16, '\0');
    std::uint32_t aux = 0;
};

// The version 2 block: fixed part, data, filler byte for an odd data size, value name.
std::string ValueRecord(const Value& value);
// Type code 5, length word, block.
std::string ValueEntry(const Value& value);

// The version 4 block: fixed part (value-list slot filled with slot), then the path.
std::string KeyRecord(const std::wstring& path, std::uint32_t state = 1, std::int32_t conflict = 0,
                      std::uint64_t slot = 0x1122334455667788ull, std::uint32_t version = 4);
// Type code 4, length word, block, then the value list (count and value entries).
std::string KeyEntry(const std::wstring& path, const std::vector<Value>& values, std::uint32_t state = 1,
                     std::int32_t conflict = 0);

std::string FileIdRecord(std::int32_t layer, std::uint64_t sourceId, std::int64_t sentinelId,
                         std::uint32_t version = 0);
std::string FileIdEntry(std::int32_t layer, std::uint64_t sourceId, std::int64_t sentinelId);

// A SID: revision 1, the authority, then the sub-authorities.
std::string Sid(std::uint8_t authority, const std::vector<std::uint32_t>& subAuthorities);
// The group block (no size field of its own).
std::string GroupRecord(const std::wstring& name, const std::optional<std::wstring>& comment,
                        const std::vector<std::string>& sids, std::uint32_t version = 0);
// Type code 12, record size, block.
std::string GroupEntry(const std::wstring& name, const std::optional<std::wstring>& comment,
                       const std::vector<std::string>& sids);

// Type code 1, length, id, text.
std::string StringEntry(std::int32_t id, const std::wstring& text);

// A list stream: the count, then the entries.
std::string ListStream(std::int32_t count, const std::vector<std::string>& entries);
inline std::string ListStream(const std::vector<std::string>& entries)
{
    return ListStream(std::int32_t(entries.size()), entries);
}

// The entries of EveryTypeStream, in stream order.
std::vector<std::string> EveryTypeEntries();
// A list of every record type of the library: strings, keys with values, file-id maps, groups.
std::string EveryTypeStream();

} // namespace regtest
