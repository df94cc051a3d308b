#pragma once
// MD5 (RFC 1321) computed as the bytes pass, from libcrypto.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace wire {

using Digest = std::array<uint8_t, 16>;

class Md5 {
  public:
    Md5();
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;

    void update(std::span<const uint8_t> bytes);
    // The digest of everything so far; the object starts again afterwards.
    Digest finish();

  private:
    struct Ctx;
    std::unique_ptr<Ctx> ctx_;
};

Digest Md5Of(std::span<const uint8_t> bytes);
std::string DigestHex(const Digest& d);

}  // namespace wire
