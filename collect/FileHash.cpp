#include "FileHash.h"

#include "PathBuilder.h"
#include "UniqueHandles.h"

#include <bcrypt.h>
#include <winternl.h>

#include <memory>
#include <new>

using namespace Tallis::ImageUpdate;

namespace {

void CloseAlgorithm(BCRYPT_ALG_HANDLE algorithm) noexcept
{
    BCryptCloseAlgorithmProvider(algorithm, 0);
}
void DestroyHash(BCRYPT_HASH_HANDLE hash) noexcept
{
    BCryptDestroyHash(hash);
}
using unique_bcrypt_alg = unique_any<BCRYPT_ALG_HANDLE, CloseAlgorithm>;
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

DWORD Sha256OfFile(const wchar_t* path, std::wstring& hexOut) noexcept
{
    hexOut.clear();
    if (!path || !*path)
        return ERROR_INVALID_PARAMETER;
    try {
        PathBuilder longPath(path, false);
        unique_hfile file(CreateFileW(longPath.GetLongPath(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file)
            return GetLastError();

        unique_bcrypt_alg algorithm;
        NTSTATUS status = BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
        if (!BCRYPT_SUCCESS(status))
            return Win32FromStatus(status);
        // With no object buffer CNG allocates the hash state itself.
        unique_bcrypt_hash hash;
        status = BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0);
        if (!BCRYPT_SUCCESS(status))
            return Win32FromStatus(status);

        std::unique_ptr<UCHAR[]> block(new UCHAR[kBlockBytes]);
        for (;;) {
            DWORD read = 0;
            if (!ReadFile(file.get(), block.get(), kBlockBytes, &read, nullptr))
                return GetLastError();
            if (read == 0)
                break;
            status = BCryptHashData(hash.get(), block.get(), read, 0);
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
