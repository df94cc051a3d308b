#pragma once
// MD5 (RFC 1321) computed as the bytes pass, from the system's cryptography
// (libcrypto; CNG on Windows). The one digest implementation of the tool, its
// libraries and the simulator.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace platform {

using Digest = std::array<std::uint8_t, 16>;

class Md5 {
  public:
    Md5();
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;

    // False once the library has failed to set up or to take a piece; the digest
    // is then worthless and callers must not trust it. Never throws.
    bool ok() const { return ok_; }
    void update(std::span<const std::uint8_t> bytes);
    void update(const void* data, std::size_t len);
    // The digest of everything so far; the object starts again afterwards.
    Digest finish();

  private:
    struct Context;
    Context* ctx_ = nullptr;
    bool ok_ = false;
};

Digest Md5Of(std::span<const std::uint8_t> bytes);
// Lower-case hexadecimal, 32 characters.
std::string DigestHex(const Digest& d);

}  // namespace platform
