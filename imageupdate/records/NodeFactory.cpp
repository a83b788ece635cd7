#include "NodeFactory.h"

#include "ListNodeData_FILEIDMAP.h"
#include "ListNodeData_FILEINFO.h"
#include "ListNodeData_FOLDERINFO.h"
#include "ListNodeData_GROUPINFO.h"
#include "ListNodeData_REGKEYINFO.h"
#include "ListNodeData_REGVALUE.h"
#include "ListNodeData_STR.h"

namespace Tallis::ImageUpdate {
namespace {

struct ReaderEntry {
    std::int32_t code;
    NodeReader reader;
};

// The one place where record types are registered.
constexpr ReaderEntry kReaders[] = {
    {ListNodeData_STR::kTypeCode, &ListNodeData_STR::FromStream},
    {ListNodeData_FOLDERINFO::kTypeCode, &ListNodeData_FOLDERINFO::FromStream},
    {ListNodeData_FILEINFO::kTypeCode, &ListNodeData_FILEINFO::FromStream},
    {ListNodeData_REGKEYINFO::kTypeCode, &ListNodeData_REGKEYINFO::FromStream},
    {ListNodeData_REGVALUE::kTypeCode, &ListNodeData_REGVALUE::FromStream},
    {ListNodeData_FILEIDMAP::kTypeCode, &ListNodeData_FILEIDMAP::FromStream},
    {ListNodeData_GROUPINFO::kTypeCode, &ListNodeData_GROUPINFO::FromStream},
};

} // namespace

NodeReader FindNodeReader(std::int32_t code) noexcept
{
    for (const ReaderEntry& entry : kReaders) {
        if (entry.code == code)
            return entry.reader;
    }
    return nullptr;
}

} // namespace Tallis::ImageUpdate
