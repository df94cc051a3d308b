#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include <openssl/evp.h>

namespace pack_detail {

using Digest = std::array<std::uint8_t, 16>;

// Incremental RFC 1321 digest through libcrypto.
class Md5 {
  public:
    Md5();
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;

    // False when libcrypto could not set up the computation.
    bool Ok() const { return ok_; }
    void Update(const void* data, std::size_t len);
    Digest Final();

  private:
    EVP_MD_CTX* ctx_;
    bool ok_;
};

}  // namespace pack_detail
