#include "wire/Addr.h"

#include <cstdio>
#include <cstring>

namespace wire {
namespace {
int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}
}  // namespace

std::optional<Mac> ParseMac(std::string_view text) {
    if (text.size() != 17) {
        return std::nullopt;
    }
    Mac mac{};
    for (size_t i = 0; i < 6; ++i) {
        const size_t at = i * 3;
        if (i > 0 && text[at - 1] != ':' && text[at - 1] != '-') {
            return std::nullopt;
        }
        const int hi = HexDigit(text[at]);
        const int lo = HexDigit(text[at + 1]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        mac[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return mac;
}

std::string FormatMac(const uint8_t* mac) {
    char buf[18];
    std::snprintf(buf, sizeof(buf), "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    return buf;
}

std::optional<Ipv4> ParseIpv4(std::string_view text) {
    Ipv4 ip{};
    size_t pos = 0;
    for (size_t part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') {
                return std::nullopt;
            }
            ++pos;
        }
        int value = 0;
        size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
            value = value * 10 + (text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) {
            return std::nullopt;
        }
        ip[part] = static_cast<uint8_t>(value);
    }
    if (pos != text.size()) {
        return std::nullopt;
    }
    return ip;
}

std::string FormatIpv4(const uint8_t* ip) {
    char buf[16];
    std::snprintf(buf, sizeof(buf), "%u.%u.%u.%u", ip[0], ip[1], ip[2], ip[3]);
    return buf;
}

void CopyText(char* dst, size_t cap, std::string_view text) {
    if (cap == 0) {
        return;
    }
    const size_t n = text.size() < cap - 1 ? text.size() : cap - 1;
    std::memcpy(dst, text.data(), n);
    std::memset(dst + n, 0, cap - n);
}

std::string TextField(const char* field, size_t cap) {
    if (cap == 0) {
        return {};
    }
    const void* nul = std::memchr(field, 0, cap - 1);
    const size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - field) : cap - 1;
    return std::string(field, n);
}

}  // namespace wire
