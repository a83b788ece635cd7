#pragma once
// Fixture of the registry, file-id map and group record tests: streams in a scratch folder,
// text dumps and saved bytes read back as strings.
#include "ListNodeData.h"
#include "NodeFactory.h"
#include "SortedLinkList.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace regtest {

class RecordFixture : public ::testing::Test {
protected:
    kvotest::ScratchFolder scratch{L"records-reg"};

    // Writes bytes to a file and loads them into list; Load's result.
    int LoadBytes(Tallis::ImageUpdate::SortedLinkList& list, const std::string& bytes);
    // Runs a stream reader on bytes (the part behind the type code); also reports in
    // consumed how many bytes it read.
    std::unique_ptr<Tallis::ImageUpdate::ListNodeData> ReadNode(Tallis::ImageUpdate::NodeReader reader,
                                                                const std::string& bytes, long* consumed = nullptr);
    // The node's or the list's text dump, line ends as "\n".
    std::string Dump(const Tallis::ImageUpdate::ListNodeData& node);
    std::string DumpList(Tallis::ImageUpdate::SortedLinkList& list);
    // The bytes that Save writes.
    std::string Saved(const Tallis::ImageUpdate::ListNodeData& node);
    std::string SavedList(Tallis::ImageUpdate::SortedLinkList& list);

private:
    std::string ReadText(const std::wstring& path);
    int m_serial = 0;
    std::wstring NextPath();
};

} // namespace regtest
