#pragma once
// The platform's cryptography (CNG) for hashes and random names. bcrypt.dll is not among the
// libraries that Windows always takes from the system directory, so the program does not import
// it: it is loaded from System32 alone at its first use.
#include "NtStatus.h"
#include "UniqueHandles.h"

#include <windows.h>

#include <bcrypt.h>

#include <string>

struct CngApi {
    decltype(&BCryptOpenAlgorithmProvider) openAlgorithmProvider = nullptr;
    decltype(&BCryptCloseAlgorithmProvider) closeAlgorithmProvider = nullptr;
    decltype(&BCryptCreateHash) createHash = nullptr;
    decltype(&BCryptHashData) hashData = nullptr;
    decltype(&BCryptFinishHash) finishHash = nullptr;
    decltype(&BCryptDestroyHash) destroyHash = nullptr;
    decltype(&BCryptGenRandom) genRandom = nullptr;
};

// The functions, loaded once for the process; null when the library or one of them is missing,
// with error telling why.
[[nodiscard]] const CngApi* LoadCng(DWORD& error) noexcept;

namespace cng_detail {
void CloseAlgorithm(BCRYPT_ALG_HANDLE algorithm) noexcept;
void DestroyHash(BCRYPT_HASH_HANDLE hash) noexcept;
} // namespace cng_detail

using unique_bcrypt_algorithm = Tallis::ImageUpdate::unique_any<BCRYPT_ALG_HANDLE, cng_detail::CloseAlgorithm>;
using unique_bcrypt_hash = Tallis::ImageUpdate::unique_any<BCRYPT_HASH_HANDLE, cng_detail::DestroyHash>;

// Lower-case hex of a block of bytes, two digits a byte.
[[nodiscard]] std::wstring LowerHex(const unsigned char* bytes, size_t count);

// `bytes` random bytes from the system's generator as lower-case hex: names no one can guess.
// 0 or the Windows error.
[[nodiscard]] DWORD RandomHex(size_t bytes, std::wstring& hex) noexcept;
