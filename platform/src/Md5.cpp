#include "platform/Md5.h"

#include <cstdio>

namespace platform {

void Md5::update(std::span<const std::uint8_t> bytes) {
    update(bytes.data(), bytes.size());
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
