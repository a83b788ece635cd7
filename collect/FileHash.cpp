#include "FileHash.h"

#include "PathBuilder.h"
#include "UniqueHandles.h"

#include <bcrypt.h>
#include <winternl.h>

#include <new>

using namespace Tallis::ImageUpdate;

namespace {

void DestroyHash(BCRYPT_HASH_HANDLE hash) noexcept
{
    BCryptDestroyHash(hash);
}
using unique_bcrypt_hash = unique_any<BCRYPT_HASH_HANDLE, DestroyHash>;

constexpr DWORD kBlockBytes = 1u << 20;
constexpr DWORD kDigestBytes = 32;

DWORD Win32FromStatus(NTSTATUS status) noexcept
{
    const ULONG error = RtlNtStatusToDosError(status);
    // ERROR_MR_MID_NOT_FOUND: no Win32 counterpart; still a failure.
    return error != 0 && error != ERROR_MR_MID_NOT_FOUND ? DWORD(error) : DWORD(ERROR_GEN_FAILURE);
}

} // namespace

FileHasher::FileHasher() : m_block(new unsigned char[kBlockBytes])
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    const NTSTATUS status = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (BCRYPT_SUCCESS(status))
        m_algorithm = algorithm;
    else
        m_openError = Win32FromStatus(status);
}

FileHasher::~FileHasher()
{
    if (m_algorithm)
        BCryptCloseAlgorithmProvider(m_algorithm, 0);
}

DWORD FileHasher::Sha256(const wchar_t* path, std::wstring& hexOut) noexcept
{
    hexOut.clear();
    if (!path || !*path)
        return ERROR_INVALID_PARAMETER;
    if (!m_algorithm)
        return m_openError;
    try {
        PathBuilder longPath(path, false);
        unique_hfile file(CreateFileW(longPath.GetLongPath(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file)
            return GetLastError();

        // With no object buffer CNG allocates the hash state itself.
        unique_bcrypt_hash hash;
        NTSTATUS status = BCryptCreateHash(m_algorithm, hash.put(), nullptr, 0, nullptr, 0, 0);
        if (!BCRYPT_SUCCESS(status))
            return Win32FromStatus(status);
        for (;;) {
            DWORD read = 0;
            if (!ReadFile(file.get(), m_block.get(), kBlockBytes, &read, nullptr))
                return GetLastError();
            if (read == 0)
                break;
            status = BCryptHashData(hash.get(), m_block.get(), read, 0);
            if (!BCRYPT_SUCCESS(status))
                return Win32FromStatus(status);
        }
        UCHAR digest[kDigestBytes];
        status = BCryptFinishHash(hash.get(), digest, kDigestBytes, 0);
        if (!BCRYPT_SUCCESS(status))
            return Win32FromStatus(status);

        static constexpr wchar_t kHex[] = L"0123456789abcdef";
        hexOut.resize(kDigestBytes * 2);
        for (DWORD i = 0; i < kDigestBytes; ++i) {
            hexOut[2 * i] = kHex[digest[i] >> 4];
            hexOut[2 * i + 1] = kHex[digest[i] & 0x0F];
        }
        return 0;
    } catch (const std::bad_alloc&) {
        hexOut.clear();
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD Sha256OfFile(const wchar_t* path, std::wstring& hexOut) noexcept
{
    hexOut.clear();
    try {
        FileHasher hasher;
        return hasher.Sha256(path, hexOut);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}
