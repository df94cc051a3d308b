#include "platform/IniFile.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace platform {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

// Splits on LF, CRLF or a lone CR and calls `fn` per line until it returns false.
template <typename Fn>
void ForEachLine(std::string_view text, Fn fn) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = pos;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r') {
            ++end;
        }
        if (!fn(text.substr(pos, end - pos))) {
            return;
        }
        if (end < text.size() && text[end] == '\r' && end + 1 < text.size() &&
            text[end + 1] == '\n') {
            ++end;
        }
        pos = end + 1;
    }
}

std::optional<std::string> Lookup(std::string_view text, std::string_view section,
                                  std::string_view key) {
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    const std::string_view wantSection = Trim(section);
    const std::string_view wantKey = Trim(key);
    bool inSection = false;
    bool sectionSeen = false;
    std::optional<std::string> found;
    ForEachLine(text, [&](std::string_view raw) {
        const std::string_view line = Trim(raw);
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            return true;
        }
        if (line.front() == '[') {
            const auto close = line.find(']');
            const std::string_view name =
                Trim(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
            if (sectionSeen && inSection) {
                // Only the first section of that name is searched.
                return false;
            }
            inSection = SameNoCase(name, wantSection);
            sectionSeen = sectionSeen || inSection;
            return true;
        }
        if (!inSection) {
            return true;
        }
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) {
            return true;
        }
        if (!SameNoCase(Trim(line.substr(0, eq)), wantKey)) {
            return true;
        }
        std::string_view value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        found = std::string(value.substr(0, std::min(value.size(), kProfileValueMax)));
        return false;
    });
    return found;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string IniTextToUtf8(const std::string& bytes) {
    const bool le = bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
    const bool be = bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF';
    if (!le && !be) {
        return bytes;
    }
    auto unit = [&](std::size_t i) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<char32_t>(le ? (a | (b << 8)) : ((a << 8) | b));
    };
    std::string out;
    out.reserve(bytes.size());
    // A lone surrogate becomes U+FFFD; an odd last byte is dropped.
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        char32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF && i + 3 < bytes.size()) {
            const char32_t lo = unit(i + 2);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                i += 2;
            } else {
                c = 0xFFFD;
            }
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::string SetProfileStringInText(const std::string& section, const std::string& key,
                                   const std::string& value, const std::string& text) {
    const std::string eol = text.find("\r\n") != std::string::npos || text.empty() ? "\r\n" : "\n";
    const std::string line = key + "=" + value;
    std::string_view body(text);
    const bool bom = body.size() >= 3 && body.substr(0, 3) == "\xEF\xBB\xBF";
    // Where lines start and end within `text`, and the section each is in.
    std::size_t pos = bom ? 3 : 0;
    bool inSection = false;
    bool sectionSeen = false;
    std::size_t sectionEnd = std::string::npos;  // after the section's last key line
    while (pos < text.size()) {
        std::size_t end = pos;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r') {
            ++end;
        }
        const std::string_view trimmed = Trim(std::string_view(text).substr(pos, end - pos));
        std::size_t next = end;
        if (next < text.size() && text[next] == '\r' && next + 1 < text.size() &&
            text[next + 1] == '\n') {
            ++next;
        }
        if (next < text.size()) {
            ++next;
        }
        if (!trimmed.empty() && trimmed.front() == '[') {
            if (sectionSeen && inSection) {
                break;  // only the first section of that name counts, as when read
            }
            const auto close = trimmed.find(']');
            const std::string_view name = Trim(trimmed.substr(
                1, close == std::string_view::npos ? trimmed.size() - 1 : close - 1));
            inSection = SameNoCase(name, Trim(section));
            sectionSeen = sectionSeen || inSection;
            if (inSection) {
                sectionEnd = next;
            }
        } else if (inSection && !trimmed.empty() && trimmed.front() != ';' &&
                   trimmed.front() != '#') {
            const auto eq = trimmed.find('=');
            if (eq != std::string_view::npos &&
                SameNoCase(Trim(trimmed.substr(0, eq)), Trim(key))) {
                return text.substr(0, pos) + line + text.substr(end);
            }
            sectionEnd = next;
        }
        pos = next;
    }
    if (sectionSeen) {
        std::string out = text.substr(0, sectionEnd);
        if (!out.empty() && out.back() != '\n' && out.back() != '\r') {
            out += eol;
        }
        return out + line + eol + text.substr(sectionEnd);
    }
    std::string out = text;
    if (!out.empty() && out.back() != '\n' && out.back() != '\r') {
        out += eol;
    }
    return out + "[" + section + "]" + eol + line + eol;
}

std::string GetProfileStringFromText(const std::string& section, const std::string& key,
                                     const std::string& defaultValue, const std::string& text) {
    auto value = Lookup(text, section, key);
    if (!value) {
        return defaultValue.substr(0, std::min(defaultValue.size(), kProfileValueMax));
    }
    return *value;
}

}  // namespace platform
