#include "pack/PackInfo.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "platform/FileIo.h"

namespace {

constexpr std::size_t kHeadLen = sizeof(tPackHead);
constexpr std::size_t kEntryLen = sizeof(tPackFileInfo);

PackRole RoleOf(std::uint32_t magic) {
    switch (magic) {
        case PACK_MAGIC_SINGLE:
            return PackRole::Single;
        case PACK_MAGIC_MULTI:
            return PackRole::Multi;
        case PACK_MAGIC_BUNDLE:
            return PackRole::Bundle;
        default:
            return PackRole::None;
    }
}

// Up to 9 digits at `at`; false for none or for a longer run.
bool ReadNumber(std::string_view text, std::size_t& at, unsigned long& value) {
    std::size_t n = 0;
    value = 0;
    while (at < text.size() && n < 10 && std::isdigit(static_cast<unsigned char>(text[at]))) {
        value = value * 10 + static_cast<unsigned>(text[at] - '0');
        ++at;
        ++n;
    }
    return n >= 1 && n <= 9;
}

}  // namespace

bool PackIsAppEntry(const tPackFileInfo& entry) {
    return entry.ucFileType == PACK_FILE_APP || entry.ucFileType == PACK_FILE_BIN;
}

PackAppEntry PackFirstAppEntry(std::span<const std::uint8_t> bytes) {
    PackAppEntry out;
    if (bytes.size() < kHeadLen) {
        return out;
    }
    tPackHead head{};
    std::memcpy(&head, bytes.data(), kHeadLen);
    out.role = RoleOf(head.uiPackMagic);
    // A bundle's entries are packs of their own, not applications.
    if (out.role != PackRole::Single && out.role != PackRole::Multi) {
        return out;
    }
    const unsigned count = head.uifileNum;
    if (count == 0 || count > PACK_MAX_FILES) {
        return out;
    }
    const std::size_t entries = (bytes.size() - kHeadLen) / kEntryLen;
    for (std::size_t i = 0; i < count && i < entries; ++i) {
        tPackFileInfo entry{};
        std::memcpy(&entry, bytes.data() + kHeadLen + i * kEntryLen, kEntryLen);
        if (PackIsAppEntry(entry)) {
            out.found = true;
            out.name = PackEntryName(entry);
            return out;
        }
    }
    return out;
}

PackAppEntry PackFirstAppEntryOfFile(const std::string& path) {
    const platform::Fd fd = platform::OpenRegularForReading(path);
    if (!fd.Ok()) {
        return {};
    }
    std::vector<std::uint8_t> bytes(kHeadLen + PACK_MAX_FILES * kEntryLen);
    bytes.resize(platform::ReadFull(fd.Get(), bytes.data(), bytes.size()));
    return PackFirstAppEntry(bytes);
}

std::string PackVersionTag(std::string_view name) {
    for (std::size_t at = name.find("_V"); at != std::string_view::npos;
         at = name.find("_V", at + 1)) {
        std::size_t p = at + 2;
        unsigned long major = 0;
        unsigned long minor = 0;
        if (ReadNumber(name, p, major) && p < name.size() && name[p] == '.' &&
            ReadNumber(name, ++p, minor)) {
            return std::to_string(major) + "." + std::to_string(minor);
        }
    }
    return {};
}

std::string PackNamedVersion(const std::string& path) {
    const PackAppEntry entry = PackFirstAppEntryOfFile(path);
    if (entry.role == PackRole::None) {
        const auto slash = path.find_last_of("/\\");
        return PackVersionTag(slash == std::string::npos ? path : path.substr(slash + 1));
    }
    return entry.found ? PackVersionTag(entry.name) : std::string();
}

std::string PackJudgedVersion(const std::string& path) {
    const PackRole role = PackFirstAppEntryOfFile(path).role;
    return role == PackRole::Multi || role == PackRole::Bundle ? std::string()
                                                               : PackNamedVersion(path);
}

std::string SoftVersionKey(const std::string& version) {
    std::string key = version.substr(0, version.find('_'));
    key = key.substr(0, key.find_last_of('.'));
    while (!key.empty() && std::isalpha(static_cast<unsigned char>(key[0]))) {
        key.erase(0, 1);
    }
    return key;
}

namespace {

std::optional<std::vector<unsigned long>> VersionParts(std::string_view key) {
    constexpr std::size_t kMostParts = 8;
    std::vector<unsigned long> parts;
    std::size_t at = 0;
    while (true) {
        unsigned long n = 0;
        if (parts.size() == kMostParts || !ReadNumber(key, at, n)) {
            return std::nullopt;
        }
        parts.push_back(n);
        if (at == key.size()) {
            return parts;
        }
        if (key[at] != '.') {
            return std::nullopt;
        }
        ++at;
    }
}

}  // namespace

std::optional<int> CompareVersionKeys(std::string_view a, std::string_view b) {
    const auto pa = VersionParts(a);
    const auto pb = VersionParts(b);
    if (!pa || !pb) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < std::max(pa->size(), pb->size()); ++i) {
        const unsigned long x = i < pa->size() ? (*pa)[i] : 0;
        const unsigned long y = i < pb->size() ? (*pb)[i] : 0;
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return 0;
}
