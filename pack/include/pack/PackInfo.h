#pragma once

// What the rest of the tool reads from an update pack without unpacking it:
// the pack's role and its first application entry, which names the version a
// camera takes from it. Only the header and the table are read, each checked
// against the format's limits and against the bytes really there; the digest
// is not checked (the file was judged before it is sent).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "pack/UpdatePack.h"

// No pack magic (or fewer bytes than a header): a plain image, or no file.
enum class PackRole { None, Single, Multi, Bundle };

struct PackAppEntry {
    PackRole role = PackRole::None;
    // A single or multi pack whose table, up to an application entry, is there
    // and within the limits.
    bool found = false;
    std::string name;  // that entry's name, at most 128 bytes
};

// An application entry: type 1, or 6 as a forced copy carries it.
bool PackIsAppEntry(const tPackFileInfo& entry);

// From the first bytes of a file: its header and as much of its table as given.
PackAppEntry PackFirstAppEntry(std::span<const std::uint8_t> bytes);
// From a file, reading its header and table only. What cannot be opened as a
// regular file counts as no pack.
PackAppEntry PackFirstAppEntryOfFile(const std::string& path);

// "<major>.<minor>" of the first "_V<major>.<minor>" in `name` whose numbers
// have 1 to 9 digits each, without leading zeros; empty when there is none.
std::string PackVersionTag(std::string_view name);

// The version tag of what `path` makes of a camera: the tag of a pack's first
// application entry, or of a plain image's own file name. Empty for a bundle,
// or a pack whose table names no application.
std::string PackNamedVersion(const std::string& path);

// The version an update file names for judging what a camera already runs:
// PackNamedVersion, but none for a multi-application pack or a bundle. A
// multi-application pack's tags are the cameras' own version family, by which
// its images are chosen; they say nothing of a camera being done.
std::string PackJudgedVersion(const std::string& path);

// The version key of a camera's software version ("V2.6.0_1a2b" -> "2.6"),
// compared with what a file's name tag gives.
std::string SoftVersionKey(const std::string& version);

// Two version keys in order, numeric by dotted component ("2.10" > "2.9",
// a missing component counts 0): below, at or above 0. Nothing when either is
// not 1 to 8 components of 1 to 9 digits each.
std::optional<int> CompareVersionKeys(std::string_view a, std::string_view b);
