#include "wire/Md5.h"

#include <openssl/evp.h>

#include <cstdio>
#include <stdexcept>

namespace wire {

struct Md5::Ctx {
    EVP_MD_CTX* ctx = nullptr;
};

Md5::Md5() : ctx_(std::make_unique<Ctx>()) {
    ctx_->ctx = EVP_MD_CTX_new();
    if (ctx_->ctx == nullptr || EVP_DigestInit_ex(ctx_->ctx, EVP_md5(), nullptr) != 1) {
        EVP_MD_CTX_free(ctx_->ctx);
        throw std::runtime_error("MD5 is not available");
    }
}

Md5::~Md5() {
    EVP_MD_CTX_free(ctx_->ctx);
}

void Md5::update(std::span<const uint8_t> bytes) {
    if (!bytes.empty()) {
        EVP_DigestUpdate(ctx_->ctx, bytes.data(), bytes.size());
    }
}

Digest Md5::finish() {
    Digest d{};
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx_->ctx, d.data(), &len);
    EVP_DigestInit_ex(ctx_->ctx, EVP_md5(), nullptr);
    return d;
}

Digest Md5Of(std::span<const uint8_t> bytes) {
    Md5 m;
    m.update(bytes);
    return m.finish();
}

std::string DigestHex(const Digest& d) {
    std::string out;
    char buf[3];
    for (uint8_t b : d) {
        std::snprintf(buf, sizeof(buf), "%02x", b);
        out += buf;
    }
    return out;
}

}  // namespace wire
