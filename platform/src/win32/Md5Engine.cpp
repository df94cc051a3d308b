#include "platform/Md5.h"

#include <windows.h>

#include <bcrypt.h>

namespace platform {

// Windows' own MD5 through CNG; Debian has no OpenSSL for mingw.
struct Md5::Context {
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;

    bool Start() {
        if (hash != nullptr) {
            ::BCryptDestroyHash(hash);
            hash = nullptr;
        }
        return alg != nullptr &&
               BCRYPT_SUCCESS(::BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0));
    }
};

Md5::Md5() : ctx_(new Context) {
    ok_ = BCRYPT_SUCCESS(
              ::BCryptOpenAlgorithmProvider(&ctx_->alg, BCRYPT_MD5_ALGORITHM, nullptr, 0)) &&
          ctx_->Start();
}

Md5::~Md5() {
    if (ctx_->hash != nullptr) {
        ::BCryptDestroyHash(ctx_->hash);
    }
    if (ctx_->alg != nullptr) {
        ::BCryptCloseAlgorithmProvider(ctx_->alg, 0);
    }
    delete ctx_;
}

void Md5::update(const void* data, std::size_t len) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (ok_ && len > 0) {
        const ULONG piece = len > 0x40000000u ? 0x40000000u : static_cast<ULONG>(len);
        ok_ = BCRYPT_SUCCESS(::BCryptHashData(ctx_->hash, const_cast<PUCHAR>(p), piece, 0));
        p += piece;
        len -= piece;
    }
}

Digest Md5::finish() {
    Digest d{};
    if (ok_) {
        ok_ = BCRYPT_SUCCESS(
                  ::BCryptFinishHash(ctx_->hash, d.data(), static_cast<ULONG>(d.size()), 0)) &&
              ctx_->Start();
    }
    return d;
}

}  // namespace platform
