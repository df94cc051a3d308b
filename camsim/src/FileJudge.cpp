// The camera's judgement of a received file: its own reading of the update
// pack container, the hardware rule, and the software version it takes on.
#include "camsim/FileJudge.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace camsim {

namespace {

// Room for the software version in the device record, less its terminator.
constexpr std::size_t kMaxSw = 131;

// Where the header and an entry keep the fields the camera reads.
constexpr std::size_t kAtMagic = 0;     // u32
constexpr std::size_t kAtCount = 4;     // u16, entries in the table
constexpr std::size_t kAtPackType = 6;  // u8, 0 or 1
constexpr std::size_t kAtDataLen = 44;  // u32, bytes of all files together
constexpr std::size_t kAtSize = 0;      // u32
constexpr std::size_t kAtType = 4;      // u8
constexpr std::size_t kAtName = 8;      // pack::kNameSize bytes, NUL-padded

std::uint32_t Le32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

PackEntry ReadEntry(const std::uint8_t* p) {
    PackEntry e;
    e.size = Le32(p + kAtSize);
    e.type = p[kAtType];
    const auto* name = reinterpret_cast<const char*>(p + kAtName);
    e.name.assign(name, ::strnlen(name, pack::kNameSize));
    return e;
}

// Digits at `at`: at most nine, at least one. Moves `at` past them.
bool ReadNumber(const std::string& text, std::size_t& at, unsigned& value) {
    std::size_t n = 0;
    value = 0;
    while (at < text.size() && n < 10 && std::isdigit(static_cast<unsigned char>(text[at]))) {
        value = value * 10 + static_cast<unsigned>(text[at] - '0');
        ++at;
        ++n;
    }
    return n >= 1 && n <= 9;
}

// The first "_V<major>.<minor>" of a name, as "<major>.<minor>"; empty when none.
std::string VersionTag(const std::string& name) {
    for (std::size_t at = name.find("_V"); at != std::string::npos; at = name.find("_V", at + 1)) {
        std::size_t p = at + 2;
        unsigned major = 0;
        unsigned minor = 0;
        if (ReadNumber(name, p, major) && p < name.size() && name[p] == '.' &&
            ReadNumber(name, ++p, minor)) {
            return std::to_string(major) + "." + std::to_string(minor);
        }
    }
    return {};
}

// The tool's version key: the text before the first '_', then before its last '.'.
std::string VersionKey(const std::string& sw) {
    const auto underscore = sw.find('_');
    if (underscore == std::string::npos) {
        return {};
    }
    const std::string head = sw.substr(0, underscore);
    const auto dot = head.rfind('.');
    return dot == std::string::npos ? std::string() : head.substr(0, dot);
}

}  // namespace

// ------------------------------------------------------------- ReceiveCheck

void ReceiveCheck::Header() {
    magic_ = Le32(headBytes_.data() + kAtMagic);
    isPack_ =
        magic_ == pack::kMagicSingle || magic_ == pack::kMagicMulti || magic_ == pack::kMagicBundle;
    if (!isPack_) {
        return;
    }
    count_ = Le16(headBytes_.data() + kAtCount);
    if (count_ < 1 || count_ > pack::kMaxEntries || headBytes_[kAtPackType] > 1) {
        badHeader_ = true;
        return;
    }
    digestAt_ = pack::kHeadSize + pack::kEntrySize * count_ +
                std::uint64_t{Le32(headBytes_.data() + kAtDataLen)};
    packMd5_.update(headBytes_);
}

void ReceiveCheck::Feed(const std::uint8_t* data, std::size_t size) {
    md5_.update({data, size});
    std::uint64_t off = offset_;
    std::size_t i = 0;
    // The pack header: its first bytes say whether the file is a pack at all.
    while (i < size && off < headBytes_.size()) {
        headBytes_[static_cast<std::size_t>(off)] = data[i];
        ++i;
        ++off;
        if (off == headBytes_.size()) {
            Header();
        }
    }
    if (isPack_ && digestAt_ != 0) {
        // The file table is digested and kept, entry by entry (at most 99 of them).
        const std::uint64_t tableEnd = pack::kHeadSize + pack::kEntrySize * count_;
        while (i < size && off < tableEnd) {
            const auto within =
                static_cast<std::size_t>((off - pack::kHeadSize) % pack::kEntrySize);
            const std::size_t n = std::min(size - i, entryBytes_.size() - within);
            std::memcpy(entryBytes_.data() + within, data + i, n);
            packMd5_.update({data + i, n});
            i += n;
            off += n;
            if (within + n == entryBytes_.size()) {
                entries_.push_back(ReadEntry(entryBytes_.data()));
            }
        }
        // Bytes up to the digest are digested; the 16 after it are the stored digest.
        if (off < digestAt_ && i < size) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(size - i, digestAt_ - off));
            packMd5_.update({data + i, n});
            i += n;
            off += n;
        }
        if (off == digestAt_ && !haveComputed_) {
            computed_ = packMd5_.finish();
            haveComputed_ = true;
        }
        while (i < size && off >= digestAt_ && off < digestAt_ + pack::kDigestSize) {
            stored_[storedHave_++] = data[i];
            ++i;
            ++off;
        }
    }
    offset_ += size;
}

std::string ReceiveCheck::PackProblem() const {
    if (!isPack_) {
        return {};
    }
    if (badHeader_) {
        return "pack header holds a bad file count or pack type";
    }
    if (!haveComputed_ || storedHave_ < pack::kDigestSize) {
        return "pack is shorter than its header says (" + std::to_string(offset_) + " bytes, " +
               std::to_string(digestAt_ + pack::kDigestSize) + " expected)";
    }
    if (computed_ != stored_) {
        return "pack digest mismatch: expected " + wire::DigestHex(stored_) + ", got " +
               wire::DigestHex(computed_);
    }
    return {};
}

// ---------------------------------------------------------- what it accepts

bool IsAppEntry(const PackEntry& entry) {
    return entry.type == pack::kTypeApp || entry.type == pack::kTypeForcedApp;
}

std::string HardwareCode(const std::string& name) {
    for (std::size_t at = name.find("_YJ"); at != std::string::npos && at + 3 < name.size();
         at = name.find("_YJ", at + 3)) {
        const auto next = static_cast<unsigned char>(name[at + 3]);
        if (std::isdigit(next) != 0 || next == '#') {
            const std::size_t end = name.find('_', at + 3);
            return end != std::string::npos && end - (at + 3) == 3 ? name.substr(at + 3, 3)
                                                                   : std::string();
        }
    }
    return {};
}

bool CodeFitsHardware(const std::string& code, const std::string& hw) {
    if (hw.size() < code.size()) {
        return false;
    }
    for (std::size_t i = 0; i < code.size(); ++i) {
        if (code[i] != '#' && code[i] != hw[i]) {
            return false;
        }
    }
    return true;
}

std::string HardwareMismatch(const ReceiveCheck& check, const std::string& hw) {
    if (!check.IsPack() || check.PackMagic() != pack::kMagicSingle ||
        !check.PackProblem().empty()) {
        return {};
    }
    for (const PackEntry& e : check.Entries()) {
        if (!IsAppEntry(e)) {
            continue;
        }
        if (const std::string code = HardwareCode(e.name);
            !code.empty() && !CodeFitsHardware(code, hw)) {
            return "application entry '" + EscapeText(e.name) + "' (type " +
                   std::to_string(e.type) + ") is for another hardware code than '" +
                   EscapeText(hw) + "'";
        }
    }
    return {};
}

std::string VersionSource(const ReceiveCheck& check, const std::string& fileName) {
    if (!check.IsPack() || !check.PackProblem().empty()) {
        return fileName;
    }
    for (const PackEntry& e : check.Entries()) {
        if (IsAppEntry(e)) {
            return e.name;
        }
    }
    return {};
}

std::string NewSoftwareVersion(const std::string& oldSw, const std::string& source,
                               const wire::Digest& md5) {
    std::size_t letters = 0;
    while (letters < oldSw.size() &&
           std::isalpha(static_cast<unsigned char>(oldSw[letters])) != 0) {
        ++letters;
    }
    std::string numbers = VersionTag(source);
    if (numbers.empty()) {
        const std::string key = VersionKey(oldSw);
        numbers = key.size() > letters ? key.substr(letters) : std::string();
    }
    if (numbers.empty()) {
        numbers = "0.0";
    }
    std::string hex = wire::DigestHex(md5).substr(0, 8);
    for (char& c : hex) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    std::string sw = oldSw.substr(0, letters) + numbers + ".0_" + hex;
    if (sw.size() > kMaxSw) {
        sw.resize(kMaxSw);
    }
    return sw;
}

std::string EscapeText(const std::string& text) {
    std::string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += ch;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

}  // namespace camsim
