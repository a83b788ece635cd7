// Who may change a folder or own a marker, judged on descriptors built here: Wine keeps no owners
// and reads every DACL back from Unix mode bits, so only constructed descriptors show the cases.
#include "PrivateSecurity.h"
#include "RelativeFiles.h"
#include "TestSupport.h"
#include "TreeWalk.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace Tallis::ImageUpdate;

namespace {

constexpr const wchar_t* kTrustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr const wchar_t* kOtherUser = L"S-1-5-21-1004336348-1177238915-682003330-1001";

// A descriptor from SDDL, owned by the test.
class Sddl {
public:
    explicit Sddl(const std::wstring& text)
    {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
            m_descriptor.reset(descriptor);
    }
    [[nodiscard]] PSECURITY_DESCRIPTOR Get() const { return m_descriptor.get(); }

private:
    unique_hlocal m_descriptor;
};

// An absolute descriptor owned by SYSTEM whose DACL holds one raw entry of the given type for
// Everyone with full access: how conditional, callback and object entries look to a reader.
class RawEntryDescriptor {
public:
    explicit RawEntryDescriptor(BYTE aceType)
    {
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &m_everyone);
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &m_system);
        const DWORD sidLength = GetLengthSid(m_everyone);
        const DWORD aceSize = DWORD(sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) + sidLength);
        m_acl.resize(sizeof(ACL) + aceSize);
        InitializeAcl(reinterpret_cast<ACL*>(m_acl.data()), DWORD(m_acl.size()), ACL_REVISION_DS);
        auto* acl = reinterpret_cast<ACL*>(m_acl.data());
        BYTE* ace = m_acl.data() + sizeof(ACL);
        auto* header = reinterpret_cast<ACE_HEADER*>(ace);
        header->AceType = aceType;
        header->AceFlags = 0;
        header->AceSize = WORD(aceSize);
        const ACCESS_MASK mask = FILE_ALL_ACCESS;
        std::memcpy(ace + sizeof(ACE_HEADER), &mask, sizeof mask);
        CopySid(sidLength, ace + sizeof(ACE_HEADER) + sizeof(ACCESS_MASK), m_everyone);
        acl->AceCount = 1;
        InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorOwner(&m_descriptor, m_system, FALSE);
        SetSecurityDescriptorDacl(&m_descriptor, TRUE, acl, FALSE);
    }
    ~RawEntryDescriptor()
    {
        FreeSid(m_everyone);
        FreeSid(m_system);
    }
    RawEntryDescriptor(const RawEntryDescriptor&) = delete;
    RawEntryDescriptor& operator=(const RawEntryDescriptor&) = delete;
    [[nodiscard]] PSECURITY_DESCRIPTOR Get() { return &m_descriptor; }

private:
    PSID m_everyone = nullptr;
    PSID m_system = nullptr;
    std::vector<BYTE> m_acl;
    SECURITY_DESCRIPTOR m_descriptor{};
};

ObjectTrust Judge(PSECURITY_DESCRIPTOR descriptor, const std::wstring& self, bool ownerMayBeSelf)
{
    ObjectTrust trust;
    EXPECT_NE(descriptor, nullptr);
    EXPECT_EQ(JudgeDescriptor(descriptor, self, ownerMayBeSelf, trust), 0u);
    return trust;
}

class DescriptorJudgement : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CurrentAccountSid(m_self), 0u); }
    std::wstring m_self;
};

TEST_F(DescriptorJudgement, OnlySystemAdministratorsTrustedInstallerAndWhereAllowedTheRunnerMayOwn)
{
    const std::wstring dacl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    for (const std::wstring& owner : {std::wstring(L"SY"), std::wstring(L"BA"), std::wstring(kTrustedInstaller)}) {
        const Sddl descriptor(L"O:" + owner + dacl);
        EXPECT_TRUE(Judge(descriptor.Get(), m_self, true).ownerTrusted) << kvotest::Narrow(owner);
        EXPECT_TRUE(Judge(descriptor.Get(), m_self, false).ownerTrusted) << kvotest::Narrow(owner);
    }
    const Sddl users(L"O:BU" + dacl);
    const ObjectTrust byUsers = Judge(users.Get(), m_self, true);
    EXPECT_FALSE(byUsers.ownerTrusted);
    EXPECT_NE(byUsers.owner.find(L"Users"), std::wstring::npos) << kvotest::Narrow(byUsers.owner);
    EXPECT_TRUE(byUsers.writers.empty()) << "the owner's rights are not in the DACL";

    EXPECT_FALSE(Judge(Sddl(L"O:" + std::wstring(kOtherUser) + dacl).Get(), m_self, true).ownerTrusted);
    const Sddl self(L"O:" + m_self + dacl);
    EXPECT_TRUE(Judge(self.Get(), m_self, true).ownerTrusted);
    EXPECT_FALSE(Judge(self.Get(), m_self, false).ownerTrusted);
}

TEST_F(DescriptorJudgement, PlainEntriesCountByTheirSidAndRights)
{
    // Reading, denying, and rights only for what is created inside change nothing of the folder.
    const Sddl harmless(L"O:SYD:P(A;OICI;FA;;;SY)(A;;FR;;;WD)(D;;FA;;;BU)(A;OICIIO;FA;;;BU)(A;OICI;FA;;;" + m_self +
                        L")");
    EXPECT_TRUE(Judge(harmless.Get(), m_self, true).writers.empty());

    const Sddl addFiles(L"O:SYD:P(A;OICI;FA;;;SY)(A;;0x2;;;BU)(A;;WD;;;" + std::wstring(kOtherUser) + L")");
    const ObjectTrust trust = Judge(addFiles.Get(), m_self, true);
    ASSERT_EQ(trust.writers.size(), 2u);
    EXPECT_NE(trust.writers[0].find(L"Users"), std::wstring::npos) << kvotest::Narrow(trust.writers[0]);
}

TEST_F(DescriptorJudgement, ANullDaclAndEveryEntryThatIsNotPlainCountAsWriters)
{
    SECURITY_DESCRIPTOR nullDacl{};
    InitializeSecurityDescriptor(&nullDacl, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&nullDacl, TRUE, nullptr, FALSE);
    EXPECT_EQ(Judge(&nullDacl, m_self, true).writers, std::vector<std::wstring>{L"Everyone"});
    // Object (5), allowed callback (9), denied callback (10) and conditional-style callback object
    // entries (11): what they grant depends on more than their SID.
    for (const BYTE type : {BYTE(5), BYTE(9), BYTE(10), BYTE(11)}) {
        RawEntryDescriptor descriptor(type);
        const ObjectTrust trust = Judge(descriptor.Get(), m_self, true);
        EXPECT_TRUE(trust.ownerTrusted);
        EXPECT_EQ(trust.writers.size(), 1u) << int(type);
    }
    RawEntryDescriptor plain(ACCESS_DENIED_ACE_TYPE);
    EXPECT_TRUE(Judge(plain.Get(), m_self, true).writers.empty());
}

// Folders created inside a handle: the name is looked up in the folder the handle holds, even
// after that folder was renamed, and an existing name is never opened as a new folder.
class RelativeFolders : public ::testing::Test {
protected:
    kvotest::ScratchFolder m_scratch{L"relative-folders"};
};

TEST_F(RelativeFolders, AFolderRenamedAfterItWasOpenedStillReceivesTheNewFolder)
{
    const std::wstring base = m_scratch / L"base";
    ASSERT_TRUE(CreateDirectoryW(base.c_str(), nullptr));
    unique_hfile handle;
    ASSERT_EQ(OpenFolderNoFollow(base, handle), 0u);
    ASSERT_TRUE(MoveFileW(base.c_str(), (m_scratch / L"moved").c_str())) << GetLastError();
    ASSERT_TRUE(CreateDirectoryW(base.c_str(), nullptr));

    unique_hfile made;
    ASSERT_EQ(CreateFolderAt(handle.get(), L"new", nullptr, FILE_SHARE_READ, made), 0u);
    EXPECT_TRUE(kvotest::FolderExists(m_scratch / L"moved\\new"));
    EXPECT_FALSE(kvotest::FolderExists(base + L"\\new"));

    unique_hfile again;
    EXPECT_EQ(CreateFolderAt(handle.get(), L"new", nullptr, FILE_SHARE_READ, again), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(again.is_valid());
    EXPECT_EQ(CreateFolderAt(handle.get(), L"a\\b", nullptr, FILE_SHARE_READ, again), DWORD(ERROR_INVALID_NAME));
}

TEST_F(RelativeFolders, ALinkShowsAsALinkAndAFileIsNoFolder)
{
    const std::wstring target = m_scratch / L"target";
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    ASSERT_EQ(kvotest::RunUnixShell("ln -s '" + kvotest::UnixPath(target) + "' '" +
                                    kvotest::UnixPath(m_scratch / L"link") + "'"),
              0);
    kvotest::WriteFileBytes(m_scratch / L"file", "x");
    unique_hfile scratch;
    ASSERT_EQ(OpenFolderNoFollow(m_scratch.Path(), scratch), 0u);

    unique_hfile link;
    ASSERT_EQ(OpenFolderAt(scratch.get(), L"link", link), 0u);
    EntryKind kind = EntryKind::Plain;
    ASSERT_EQ(JudgeOpenedEntry(scratch.get(), L"LINK", link.get(), kind), 0u);
    EXPECT_EQ(kind, EntryKind::Link);
    unique_hfile folder;
    ASSERT_EQ(OpenFolderAt(scratch.get(), L"target", folder), 0u);
    ASSERT_EQ(JudgeOpenedEntry(scratch.get(), L"target", folder.get(), kind), 0u);
    EXPECT_EQ(kind, EntryKind::Plain);
    EXPECT_EQ(JudgeOpenedEntry(scratch.get(), L"missing", folder.get(), kind), DWORD(ERROR_FILE_NOT_FOUND));
    // Another entry's handle under this name: what a swap between listing and opening leaves.
    ASSERT_EQ(JudgeOpenedEntry(scratch.get(), L"file", folder.get(), kind), 0u);
    EXPECT_EQ(kind, EntryKind::Replaced);
    unique_hfile made;
    EXPECT_EQ(CreateFolderAt(scratch.get(), L"link", nullptr, FILE_SHARE_READ, made), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(kvotest::ListTree(target).empty()) << "nothing was made through the link";

    unique_hfile file;
    EXPECT_NE(OpenFolderAt(scratch.get(), L"file", file), 0u);
    kvotest::RemoveTree(m_scratch / L"link");
}

} // namespace
