#include "EnvTestHelpers.h"
#include "LayerEnvironment.h"

#include "DiagnosticLog.h"
#include "PathBuilder.h"
#include "PrivateSecurity.h"

#include <sddl.h>

using namespace envtest;
using namespace kvotest;

namespace {

class DriverStateTest : public ::testing::Test {
protected:
    // Reads the mode from a value that does not hold 0, so that a missing reset shows.
    DWORD Read(DWORD& mode)
    {
        mode = 0xDEADBEEF;
        return ReadLayerVirtualizationMode(mode);
    }

    DriverKey m_key;
};

TEST_F(DriverStateTest, MissingKeyGivesModeZeroAndAnError)
{
    DWORD mode = 0;
    EXPECT_EQ(Read(mode), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(mode, 0u);
}

TEST_F(DriverStateTest, KeyWithoutValueGivesModeZeroAndAnError)
{
    m_key.Create();
    DWORD mode = 0;
    EXPECT_EQ(Read(mode), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(mode, 0u);
}

TEST_F(DriverStateTest, DwordValueIsTheMode)
{
    const DWORD value = 3;
    m_key.SetValue(REG_DWORD, &value, sizeof value);
    DWORD mode = 0;
    EXPECT_EQ(Read(mode), 0u);
    EXPECT_EQ(mode, 3u);

    const DWORD zero = 0;
    m_key.SetValue(REG_DWORD, &zero, sizeof zero);
    EXPECT_EQ(Read(mode), 0u);
    EXPECT_EQ(mode, 0u);
}

TEST_F(DriverStateTest, ShortBinaryValueIsInvalidDataButKeepsItsBytes)
{
    const BYTE bytes[] = {0x01, 0x00};
    m_key.SetValue(REG_BINARY, bytes, sizeof bytes);
    DWORD mode = 0;
    EXPECT_EQ(Read(mode), DWORD(ERROR_INVALID_DATA));
    // The upper bytes come from the reset to 0, not from what the caller passed in.
    EXPECT_EQ(mode, 1u);
}

TEST_F(DriverStateTest, LongStringValueDoesNotFitAndGivesModeZero)
{
    const wchar_t text[] = L"12";
    m_key.SetValue(REG_SZ, text, sizeof text);
    DWORD mode = 0;
    EXPECT_EQ(Read(mode), DWORD(ERROR_MORE_DATA));
    EXPECT_EQ(mode, 0u);

    const BYTE eight[] = {1, 2, 3, 4, 5, 6, 7, 8};
    m_key.SetValue(REG_BINARY, eight, sizeof eight);
    EXPECT_EQ(Read(mode), DWORD(ERROR_MORE_DATA));
    EXPECT_EQ(mode, 0u);
}

TEST_F(DriverStateTest, FailureIsLoggedAsAnErrorWithItsCode)
{
    ScratchFolder scratch(L"env-driverstate-log");
    InitializeLogForTest(scratch);
    const BYTE bytes[] = {0x01, 0x00};
    m_key.SetValue(REG_BINARY, bytes, sizeof bytes);
    DWORD mode = 0;
    (void)Read(mode);
    const std::string entry = "Failed to read layer virtualization mode. Error 13.";
    EXPECT_EQ(CountInFile(scratch / L"full.log", entry), 1);
    EXPECT_EQ(CountInFile(scratch / L"errors.log", entry), 1);
    EXPECT_EQ(CountInFile(scratch / L"errors.log", "]NorrowNative   ["), 1);

    const DWORD value = 1;
    m_key.SetValue(REG_DWORD, &value, sizeof value);
    EXPECT_EQ(Read(mode), 0u);
    EXPECT_EQ(CountInFile(scratch / L"errors.log", "layer virtualization"), 1) << "a good read logs nothing";
}

class MarkerVolumeTest : public ::testing::Test {
protected:
    void SetUp() override { RemoveMarkers(); }
    void TearDown() override { RemoveMarkers(); }

    static void Mark(const wchar_t* root, int marker)
    {
        WriteFileBytes(std::wstring(root) + kMarkerFiles[marker], "{6F1A2C3D-8B4E-4F60-9A71-0C2D3E4F5A6B}\r\n");
    }
};

TEST_F(MarkerVolumeTest, NoMarkerAnywhereLeavesTheRootAlone)
{
    std::wstring root = L"unchanged";
    EXPECT_EQ(FindMarkerVolume(root), nullptr);
    EXPECT_EQ(root, L"unchanged");
}

TEST_F(MarkerVolumeTest, EachMarkerAloneIsFound)
{
    for (int marker = 0; marker < 3; ++marker) {
        SCOPED_TRACE(marker);
        RemoveMarkers();
        Mark(L"E:\\", marker);
        std::wstring root;
        const wchar_t* found = FindMarkerVolume(root);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found, root.c_str());
        EXPECT_EQ(root, L"E:\\");
    }
}

TEST_F(MarkerVolumeTest, DriveOrderDecidesWhateverMarkerEachCarries)
{
    Mark(L"C:\\", 2);
    Mark(L"E:\\", 0);
    std::wstring root;
    ASSERT_NE(FindMarkerVolume(root), nullptr);
    EXPECT_EQ(root, L"C:\\");

    RemoveMarkers();
    Mark(L"E:\\", 1);
    Mark(L"F:\\", 0);
    std::wstring second;
    ASSERT_NE(FindMarkerVolume(second), nullptr);
    EXPECT_EQ(second, L"E:\\");
}

TEST_F(MarkerVolumeTest, MarkerNamesAreMatchedWithoutCase)
{
    WriteFileBytes(L"F:\\{3a12bf49-9afe-4a94-98ee-3456dbb8c431}.vellocs.vol.guid", "x");
    std::wstring root;
    EXPECT_NE(FindMarkerVolume(root), nullptr);
    EXPECT_EQ(root, L"F:\\");
    DeleteFileW(L"F:\\{3a12bf49-9afe-4a94-98ee-3456dbb8c431}.vellocs.vol.guid");
}

// Any account may make a folder in a drive root, and a link may lead anywhere: only a file counts.
TEST_F(MarkerVolumeTest, AFolderOrALinkWithAMarkersNameIsNoMarker)
{
    const std::wstring folder = std::wstring(L"E:\\") + kMarkerFiles[2];
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ScratchFolder target(L"env-marker-target");
    const std::wstring link = std::wstring(L"F:\\") + kMarkerFiles[0];
    ASSERT_EQ(RunUnixShell("ln -s '" + UnixPath(target.Path()) + "' '" + UnixPath(link) + "'"), 0);
    std::wstring root;
    const wchar_t* found = FindMarkerVolume(root);
    RemoveDirectoryW(folder.c_str());
    RemoveTree(link);
    EXPECT_EQ(found, nullptr);
    EXPECT_TRUE(root.empty());
}

TEST_F(MarkerVolumeTest, UnreadableDriveIsPassedOver)
{
    // E: loses its folder (the link dangles) while F: carries a marker.
    Mark(L"F:\\", 2);
    const std::string folder = DriveFolder('e');
    ASSERT_EQ(RunUnixShell("mv '" + folder + "' '" + folder + ".away'"), 0);
    std::wstring root;
    const wchar_t* found = FindMarkerVolume(root);
    EXPECT_EQ(RunUnixShell("mv '" + folder + ".away' '" + folder + "'"), 0);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(root, L"F:\\");
}

// Wine reads every file back as owned by the running account, which may own a marker: the owners
// that may not are shown on descriptors built here.
TEST_F(MarkerVolumeTest, AnElevatedSearchTakesOnlyMarkersOfTrustedOwners)
{
    Mark(L"E:\\", 1);
    MarkerSearch search;
    FindMarkerVolume(true, search);
    EXPECT_EQ(search.root, L"E:\\");
    EXPECT_TRUE(search.warnings.empty());

    std::wstring self;
    ASSERT_EQ(Tallis::ImageUpdate::CurrentAccountSid(self), 0u);
    const auto judge = [&](const std::wstring& owner, std::wstring& name) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW((L"O:" + owner + L"D:(A;;FA;;;WD)").c_str(),
                                                                         SDDL_REVISION_1, &descriptor, nullptr));
        Tallis::ImageUpdate::unique_hlocal owned(descriptor);
        return IsTrustedMarkerOwner(descriptor, self, name);
    };
    std::wstring name;
    for (const std::wstring& owner : {std::wstring(L"SY"), std::wstring(L"BA"), self,
                                      std::wstring(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464")})
        EXPECT_TRUE(judge(owner, name)) << Narrow(owner);
    EXPECT_FALSE(judge(L"BU", name));
    EXPECT_NE(name.find(L"Users"), std::wstring::npos) << Narrow(name);
    EXPECT_FALSE(judge(L"S-1-5-21-1004336348-1177238915-682003330-1001", name));
    EXPECT_FALSE(judge(L"WD", name));
}

TEST(ProductDataFolder, IsBelowCommonApplicationData)
{
    std::wstring folder = L"replaced";
    GetProductDataFolder(folder, L"Vellocs");
    EXPECT_EQ(folder, kProductData + L"\\Vellocs");
    GetProductDataFolder(folder, L"Halvrun");
    EXPECT_EQ(folder, kProductData + L"\\Halvrun");
}

} // namespace
