// The whole collection run on the simulated machine of tests/simmachine, once per mode: ctest
// prepares the prefix in that mode and runs only the matching case.
#include "EnvTestHelpers.h"
#include "LayerEnvironment.h"

#include "VellocsDiag.h"
#include "VellocsLogs.h"
#include "VellocsMetadata.h"

#include <algorithm>

using namespace envtest;
using namespace kvotest;

namespace {

struct Detection {
    DWORD readResult = 0;
    DWORD driverMode = 0;
    std::wstring markerRoot;
    const wchar_t* marker = nullptr;
};

// What start-up does: with a marker volume the collectors get its root and mode 0.
Detection Detect()
{
    Detection detection;
    detection.readResult = ReadLayerVirtualizationMode(detection.driverMode);
    detection.marker = FindMarkerVolume(detection.markerRoot);
    return detection;
}

std::vector<std::wstring> TopLevel(const std::wstring& folder)
{
    std::vector<std::wstring> entries;
    for (const auto& entry : ListTree(folder)) {
        const size_t separator = entry.find(L'\\');
        if (separator == std::wstring::npos || separator == entry.size() - 1)
            entries.push_back(entry);
    }
    return entries;
}

std::vector<std::wstring> BracedFolders(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    for (const auto& entry : TopLevel(folder))
        if (entry.front() == L'{' && entry.size() > 2 && entry[entry.size() - 2] == L'}' && entry.back() == L'\\')
            names.push_back(entry.substr(0, entry.size() - 1));
    return names;
}

class SimMachine : public ::testing::Test {
protected:
    SimMachine() : m_scratch(L"env-simmachine"), m_output(m_scratch / L"VellocsDiag_1765260000") {}

    bool Run(const wchar_t* markerRoot, INT32 layerMode)
    {
        m_logs.selected = 1;
        m_metadata.selected = 1;
        m_holder.SetComponent(CVellocsDiag::kProductLogs, &m_logs);
        m_holder.SetComponent(CVellocsDiag::kMetadata, &m_metadata);
        return m_holder.GenerateReport(m_output.c_str(), markerRoot, layerMode);
    }

    std::wstring Out(const std::wstring& relative) const { return m_output + L"\\" + relative; }
    int Logged(const std::string& text) const { return CountInFile(Out(L"KvoVellocsDiag.log"), text); }

    void ExpectCleanToolLog(int copies)
    {
        EXPECT_EQ(Logged("Log initialized, Full log:" + Narrow(Out(L"KvoVellocsDiag.log"))), 1);
        EXPECT_EQ(Logged("] Copying "), copies);
        EXPECT_EQ(Logged("[ERROR]"), 0);
        EXPECT_FALSE(FileExists(Out(L"KvoVellocsDiag.Errors.log")));
    }

    ScratchFolder m_scratch;
    std::wstring m_output;
    CVellocsLogs m_logs;
    CVellocsMetadata m_metadata;
    CVellocsDiag m_holder;
};

TEST_F(SimMachine, DriverMode)
{
    const Detection detection = Detect();
    ASSERT_EQ(detection.readResult, 0u);
    ASSERT_NE(detection.driverMode, 0u);
    ASSERT_EQ(detection.marker, nullptr);

    const std::wstring volumes = kProductData + L"\\Vellocs\\Volumes";
    const auto ids = BracedFolders(volumes);
    ASSERT_GE(ids.size(), 2u) << "the simulated machine should carry several volumes";
    ASSERT_TRUE(FileExists(volumes + L"\\VolumeIndex.dat"));

    ASSERT_TRUE(Run(nullptr, INT32(detection.driverMode)));

    EXPECT_EQ(TopLevel(m_output), (std::vector<std::wstring>{L"KvoVellocsDiag.log", L"VellocsLogs\\",
                                                             L"VellocsMetadata\\"}));
    EXPECT_EQ(TopLevel(Out(L"VellocsLogs")),
              (std::vector<std::wstring>{L"ServiceLogs-CreationMode\\", L"ServiceLogs-DeliveryMode\\",
                                         L"VantfsLogFile.log"}));
    EXPECT_EQ(ReadFileBytes(Out(L"VellocsLogs\\VantfsLogFile.log")), ReadFileBytes(kDriverLog));
    EXPECT_FALSE(ReadFileBytes(kDriverLog).empty());
    EXPECT_TRUE(TreesEqual(kProductData + L"\\Halvrun\\LOGS", Out(L"VellocsLogs\\ServiceLogs-DeliveryMode")));
    EXPECT_EQ(BracedFolders(Out(L"VellocsLogs\\ServiceLogs-CreationMode")), ids);
    EXPECT_EQ(TopLevel(Out(L"VellocsMetadata")).size(), ids.size());
    int volumesWithoutLogs = 0;
    for (const auto& id : ids) {
        SCOPED_TRACE(Narrow(id));
        EXPECT_TRUE(TreesEqual(volumes + L"\\" + id + L"\\Logs", Out(L"VellocsLogs\\ServiceLogs-CreationMode\\" + id)));
        EXPECT_TRUE(TreesEqual(volumes + L"\\" + id + L"\\Metadata\\Settings\\LayerDef",
                               Out(L"VellocsMetadata\\" + id)));
        if (!FolderExists(volumes + L"\\" + id + L"\\Logs"))
            ++volumesWithoutLogs;
    }

    // The hard cases of the simulated data arrived: a non-ASCII name and a path beyond 260.
    const auto delivered = ListTree(Out(L"VellocsLogs\\ServiceLogs-DeliveryMode"));
    EXPECT_TRUE(std::any_of(delivered.begin(), delivered.end(), [](const std::wstring& name) {
        return std::any_of(name.begin(), name.end(), [](wchar_t c) { return c > 0x7F; });
    }));
    size_t longest = 0;
    for (const auto& entry : ListTree(Out(L"VellocsLogs\\ServiceLogs-CreationMode")))
        longest = std::max(longest, Out(L"VellocsLogs\\ServiceLogs-CreationMode\\" + entry).size());
    EXPECT_GT(longest, 300u);

    // One copy for the service logs and two per volume.
    ExpectCleanToolLog(1 + 2 * int(ids.size()));
    EXPECT_EQ(Logged("Logs not found"), volumesWithoutLogs);
}

TEST_F(SimMachine, MarkerMode)
{
    const Detection detection = Detect();
    ASSERT_NE(detection.marker, nullptr) << "no marker volume";
    EXPECT_EQ(detection.driverMode, 0u);
    EXPECT_EQ(detection.readResult, 0u);
    const std::wstring& root = detection.markerRoot;
    EXPECT_EQ(root, L"M:\\");

    ASSERT_TRUE(Run(root.c_str(), 0));

    EXPECT_EQ(TopLevel(m_output), (std::vector<std::wstring>{L"KvoVellocsDiag.log", L"VellocsLogs\\",
                                                             L"VellocsMetadata\\"}));
    EXPECT_EQ(TopLevel(Out(L"VellocsLogs")),
              (std::vector<std::wstring>{L"ServiceLogs-CreationMode\\", L"VantfsLogFile.log"}));
    EXPECT_EQ(ReadFileBytes(Out(L"VellocsLogs\\VantfsLogFile.log")), ReadFileBytes(kDriverLog));
    EXPECT_TRUE(TreesEqual(root + L"HRNLOGS", Out(L"VellocsLogs\\ServiceLogs-CreationMode")));
    EXPECT_TRUE(TreesEqual(root + L"KorvaneHrn\\Settings\\LayerDef", Out(L"VellocsMetadata")));
    EXPECT_GE(ListTree(Out(L"VellocsMetadata")).size(), 4u);
    ExpectCleanToolLog(2);
}

TEST_F(SimMachine, NoLayering)
{
    const Detection detection = Detect();
    EXPECT_EQ(detection.readResult, DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(detection.driverMode, 0u);
    EXPECT_EQ(detection.marker, nullptr);

    // Start-up refuses such a machine; a run driven anyway collects nothing but stays sound.
    ASSERT_TRUE(Run(nullptr, 0));
    EXPECT_EQ(TopLevel(m_output), (std::vector<std::wstring>{L"KvoVellocsDiag.log", L"VellocsLogs\\"}));
    EXPECT_TRUE(ListTree(Out(L"VellocsLogs")).empty());
    EXPECT_EQ(Logged("No driver log at C:\\VantfsLogFile.log"), 1);
    ExpectCleanToolLog(0);
}

} // namespace
