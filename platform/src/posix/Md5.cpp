#include "platform/Md5.h"

#include <openssl/evp.h>

#include <cstdio>

namespace platform {

struct Md5::Context {
    EVP_MD_CTX* evp = nullptr;
};

Md5::Md5() : ctx_(new Context{EVP_MD_CTX_new()}) {
    ok_ = ctx_->evp != nullptr && EVP_DigestInit_ex(ctx_->evp, EVP_md5(), nullptr) == 1;
}

Md5::~Md5() {
    EVP_MD_CTX_free(ctx_->evp);
    delete ctx_;
}

void Md5::update(const void* data, std::size_t len) {
    if (ok_ && len > 0) {
        ok_ = EVP_DigestUpdate(ctx_->evp, data, len) == 1;
    }
}

void Md5::update(std::span<const std::uint8_t> bytes) {
    update(bytes.data(), bytes.size());
}

Digest Md5::finish() {
    Digest d{};
    if (ok_) {
        unsigned int len = 0;
        ok_ = EVP_DigestFinal_ex(ctx_->evp, d.data(), &len) == 1 && len == d.size();
        ok_ = ok_ && EVP_DigestInit_ex(ctx_->evp, EVP_md5(), nullptr) == 1;
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
