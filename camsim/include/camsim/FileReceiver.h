#pragma once
// What a camera makes of a file it receives: the stream check (size, MD5, an
// update pack's own digest and file table), whether a pack fits the camera's
// hardware, and the software version the camera reports after flashing it.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "pack/UpdatePack.h"
#include "wire/Md5.h"

namespace camsim {

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
    // A file whose first four bytes are one of the three pack magics.
    bool IsPack() const { return isPack_; }
    std::uint32_t PackMagic() const { return head_.uiPackMagic; }
    // The pack's file table, complete once every entry has arrived (else shorter).
    const std::vector<tPackFileInfo>& Entries() const { return entries_; }

  private:
    wire::Md5 md5_;
    wire::Md5 packMd5_;
    std::uint64_t offset_ = 0;
    std::array<std::uint8_t, sizeof(tPackHead)> headBytes_{};
    tPackHead head_{};
    bool isPack_ = false;
    bool badHeader_ = false;
    std::uint64_t digestAt_ = 0;  // offset of the pack's digest; 0 while unknown
    std::array<std::uint8_t, sizeof(tPackFileInfo)> entryBytes_{};
    std::vector<tPackFileInfo> entries_;
    wire::Digest computed_{};
    bool haveComputed_ = false;
    wire::Digest stored_{};
    std::size_t storedHave_ = 0;
};

// Application entries of a pack: type 1, and type 6 in a forced copy.
bool IsAppEntry(const tPackFileInfo& entry);

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
