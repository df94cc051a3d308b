#include "platform/Md5.h"

#include <openssl/evp.h>

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

Digest Md5::finish() {
    Digest d{};
    if (ok_) {
        unsigned int len = 0;
        ok_ = EVP_DigestFinal_ex(ctx_->evp, d.data(), &len) == 1 && len == d.size();
        ok_ = ok_ && EVP_DigestInit_ex(ctx_->evp, EVP_md5(), nullptr) == 1;
    }
    return d;
}

}  // namespace platform
