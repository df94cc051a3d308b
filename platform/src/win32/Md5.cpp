#include "platform/Md5.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstdio>

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

void Md5::update(std::span<const std::uint8_t> bytes) {
    update(bytes.data(), bytes.size());
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

Digest Md5Of(std::span<const std::uint8_t> bytes) {
    Md5 m;
    m.update(bytes);
    return m.finish();
}

std::string DigestHex(const Digest& d) {
    std::string out;
    char buf[3];
    for (std::uint8_t b : d) {
        std::snprintf(buf, sizeof(buf), "%02x", b);
        out += buf;
    }
    return out;
}

}  // namespace platform
