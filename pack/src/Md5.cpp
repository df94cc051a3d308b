#include "Md5.h"

namespace pack_detail {

Md5::Md5() : ctx_(EVP_MD_CTX_new()), ok_(false) {
    if (ctx_ != nullptr) {
        ok_ = EVP_DigestInit_ex(ctx_, EVP_md5(), nullptr) == 1;
    }
}

Md5::~Md5() {
    EVP_MD_CTX_free(ctx_);
}

void Md5::Update(const void* data, std::size_t len) {
    if (ok_ && len > 0) {
        ok_ = EVP_DigestUpdate(ctx_, data, len) == 1;
    }
}

Digest Md5::Final() {
    Digest out{};
    unsigned int outLen = 0;
    if (ok_) {
        ok_ = EVP_DigestFinal_ex(ctx_, out.data(), &outLen) == 1 && outLen == out.size();
    }
    return out;
}

}  // namespace pack_detail
