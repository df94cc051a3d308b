#include "platform/TermText.h"

#include <cstdio>

namespace platform {
namespace {

// Length of the well-formed UTF-8 sequence at `s[i]` and its code point; 0
// when the bytes there are not one.
std::size_t Utf8At(std::string_view s, std::size_t i, char32_t* cp) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t len = 0;
    char32_t c = 0;
    char32_t min = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        c = b0 & 0x1Fu;
        min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        c = b0 & 0x0Fu;
        min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        c = b0 & 0x07u;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > s.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            return 0;
        }
        c = (c << 6) | (b & 0x3Fu);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return 0;
    }
    *cp = c;
    return len;
}

bool Hidden(char32_t c) {
    return (c >= 0x80 && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069) || c == 0x2028 || c == 0x2029 || c == 0x200E ||
           c == 0x200F || c == 0x061C;
}

}  // namespace

std::string EscapeForTerminal(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    char buf[16];
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            switch (b) {
                case '\t':
                    out += "\\t";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\\':
                    out += kBackslashSeparatesFolders ? "\\" : "\\\\";
                    break;
                default:
                    if (b < 0x20 || b == 0x7F) {
                        std::snprintf(buf, sizeof(buf), "\\x%02x", b);
                        out += buf;
                    } else {
                        out += static_cast<char>(b);
                    }
            }
            ++i;
            continue;
        }
        char32_t cp = 0;
        const std::size_t len = Utf8At(text, i, &cp);
        if (len == 0) {
            std::snprintf(buf, sizeof(buf), "\\x%02x", b);
            out += buf;
            ++i;
        } else if (Hidden(cp)) {
            std::snprintf(buf, sizeof(buf), "\\u%04x", static_cast<unsigned>(cp));
            out += buf;
            i += len;
        } else {
            out.append(text.substr(i, len));
            i += len;
        }
    }
    return out;
}

}  // namespace platform
