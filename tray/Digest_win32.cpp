#include <windows.h>

#include <wincrypt.h>

#include "tray/Digest.h"

namespace tray {

namespace {

// The headers name SHA-256 only for builds aimed above Windows XP; the provider has it from XP SP3.
#ifndef CALG_SHA_256
constexpr ALG_ID CALG_SHA_256 = ALG_CLASS_HASH | ALG_TYPE_ANY | 12;
#endif

}  // namespace

std::string Sha256Hex(const std::string& bytes) {
    // The AES provider has SHA-256 from Windows XP SP3 on.
    HCRYPTPROV provider = 0;
    if (!::CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        return std::string();
    std::string hex;
    HCRYPTHASH hash = 0;
    if (::CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
        BYTE digest[32];
        DWORD length = sizeof digest;
        if (::CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()),
                            static_cast<DWORD>(bytes.size()), 0) &&
            ::CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0)) {
            static const char kDigits[] = "0123456789abcdef";
            for (DWORD i = 0; i < length; ++i) {
                hex += kDigits[digest[i] >> 4];
                hex += kDigits[digest[i] & 0x0F];
            }
        }
        ::CryptDestroyHash(hash);
    }
    ::CryptReleaseContext(provider, 0);
    return hex;
}

}  // namespace tray
