#pragma once
// The protocol's MD5: the shared digest, refusing to start without libcrypto's MD5
// (a FIPS-only system), since a wrong digest would make every camera reject files.

#include <stdexcept>

#include "platform/Md5.h"

namespace wire {

using platform::Digest;
using platform::DigestHex;

class Md5 : public platform::Md5 {
  public:
    Md5() {
        if (!ok()) {
            throw std::runtime_error("MD5 is not available");
        }
    }
};

inline Digest Md5Of(std::span<const std::uint8_t> bytes) {
    Md5 m;
    m.update(bytes);
    return m.finish();
}

}  // namespace wire
