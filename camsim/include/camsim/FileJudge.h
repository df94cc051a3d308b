#pragma once
// What a camera makes of a file it receives: the stream check (size, MD5, an
// update pack's own digest and file table), whether a pack fits the camera's
// hardware, and the software version the camera reports after flashing it.
//
// The camera reads packs with code of its own, from the format as documented
// (docs/upgrade.md, docs/protocol.md), never with the tool's pack readers or
// file classifier: a fault there then shows as a refusal in a test.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "wire/Md5.h"

namespace camsim {

// The update pack container as a camera reads it: a header, a table of
// entries, the files' bytes and an MD5 of all of it. Integers are little-endian.
namespace pack {
inline constexpr std::size_t kHeadSize = 64;
inline constexpr std::size_t kEntrySize = 200;
inline constexpr std::size_t kDigestSize = 16;
inline constexpr std::size_t kNameSize = 128;  // not terminated when the name fills it
inline constexpr unsigned kMaxEntries = 99;
// The first four bytes, the pack's role.
inline constexpr std::uint32_t kMagicSingle = 0x89ABCDEFu;
inline constexpr std::uint32_t kMagicMulti = 0x01234567u;
inline constexpr std::uint32_t kMagicBundle = 0x88888888u;
// Entry type codes the camera cares about: an application image, and one
// re-typed for a forced upgrade.
inline constexpr std::uint8_t kTypeApp = 1;
inline constexpr std::uint8_t kTypeForcedApp = 6;
}  // namespace pack

// One entry of a pack's file table, as far as the camera reads it.
struct PackEntry {
    std::uint32_t size = 0;
    std::uint8_t type = 0;
    std::string name;  // at most pack::kNameSize bytes, up to the first NUL
};

// Bytes of an update stream: MD5 of the whole file, and for an update pack the
// digest it carries checked against the bytes before it, and its file table.
// Fed in order.
class ReceiveCheck {
  public:
    void Feed(const std::uint8_t* data, std::size_t size);
    wire::Digest Md5() { return md5_.finish(); }  // once, at the end
    std::uint64_t Received() const { return offset_; }
    // After the whole file: empty when it is no pack or a pack whose own digest
    // holds, else why it does not.
    std::string PackProblem() const;
    // A file of at least a whole header whose first four bytes are one of the
    // three pack magics.
    bool IsPack() const { return isPack_; }
    std::uint32_t PackMagic() const { return magic_; }
    // The pack's file table, complete once every entry has arrived (else shorter).
    const std::vector<PackEntry>& Entries() const { return entries_; }

  private:
    void Header();

    wire::Md5 md5_;
    wire::Md5 packMd5_;
    std::uint64_t offset_ = 0;
    std::array<std::uint8_t, pack::kHeadSize> headBytes_{};
    std::uint32_t magic_ = 0;
    unsigned count_ = 0;
    bool isPack_ = false;
    bool badHeader_ = false;
    std::uint64_t digestAt_ = 0;  // offset of the pack's digest; 0 while unknown
    std::array<std::uint8_t, pack::kEntrySize> entryBytes_{};
    std::vector<PackEntry> entries_;
    wire::Digest computed_{};
    bool haveComputed_ = false;
    wire::Digest stored_{};
    std::size_t storedHave_ = 0;
};

// Application entries of a pack: type 1, and type 6 in a forced copy.
bool IsAppEntry(const PackEntry& entry);

// The three-character hardware code an image name is made for: the characters
// between the first "_YJ" followed by a digit or '#' and the next '_'. Empty
// when the name has none, or a code of another length: such an image is made
// for every hardware version.
std::string HardwareCode(const std::string& name);
// Whether a hardware code fits a hardware version: '#' matches any character,
// every other one must equal the version's character at its place. A version
// shorter than the code fits nothing.
bool CodeFitsHardware(const std::string& code, const std::string& hw);

// For a whole, sound single update pack: why a camera of hardware version `hw`
// refuses it (an application entry named for another hardware code), or empty.
// Anything else (a plain image, a multi-application pack, a bundle) is not judged.
std::string HardwareMismatch(const ReceiveCheck& check, const std::string& hw);

// The name whose version tag decides the new software version: a pack's first
// application entry (empty when it has none), else the file's own name.
std::string VersionSource(const ReceiveCheck& check, const std::string& fileName);

// The software version a camera reports after flashing a file (see docs/protocol.md):
// <letters of oldSw> <major>.<minor> ".0_" <first 8 hex digits of the file's MD5>,
// where major.minor come from the first "_V<major>.<minor>" in `source`, else from
// the version key of oldSw (so a file without a tag keeps the key).
std::string NewSoftwareVersion(const std::string& oldSw, const std::string& source,
                               const wire::Digest& md5);

// Printable ASCII as it is, every other byte as \xNN: names from the wire go to logs.
std::string EscapeText(const std::string& text);

}  // namespace camsim
