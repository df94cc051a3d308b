// The simulated camera's check of an incoming file (camsim::ReceiveCheck),
// fed in pieces as the update stream delivers them.
// Input: one byte of mode, then the file. Bit 0 of the mode appends the
// digest of the rest, as pack_read does; the other bits seed the cuts.
// Properties: the verdict, the byte count and the MD5 do not depend on the
// cuts; the MD5 is that of the whole file; a pack that the tool's own reader
// accepts is accepted by the camera's own reader with the same file table
// (sizes, types, names), and a pack the camera accepts has a digest that
// holds; the camera's hardware rule, written apart from the tool's, agrees
// with it on every entry name; judging the pack for a hardware version or a
// new software version never reads past what arrived.

#include <cstring>
#include <fstream>

#include "FuzzUtil.h"
#include "camsim/FileJudge.h"
#include "pack/UpdataFileCheck.h"
#include "pack/UpdatePack.h"
#include "platform/Md5.h"

namespace {

struct Verdict {
    std::string problem;
    std::uint64_t received;
    wire::Digest md5;
};

template <class Next>
Verdict Receive(camsim::ReceiveCheck& check, const std::string& file, Next next) {
    std::size_t at = 0;
    while (at < file.size()) {
        const std::size_t n = std::min(next(), file.size() - at);
        check.Feed(reinterpret_cast<const std::uint8_t*>(file.data()) + at, n);
        at += n;
    }
    Verdict v{check.PackProblem(), check.Received(), {}};
    v.md5 = check.Md5();
    return v;
}

bool IsPackMagic(const std::string& file) {
    if (file.size() < 4) {
        return false;
    }
    std::uint32_t magic = 0;
    std::memcpy(&magic, file.data(), 4);
    return magic == PACK_MAGIC_SINGLE || magic == PACK_MAGIC_MULTI || magic == PACK_MAGIC_BUNDLE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qvfuzz::Input in(data, size);
    const std::uint8_t mode = in.Byte();
    std::string file = in.Rest();
    if ((mode & 1) != 0) {
        file += qvfuzz::Md5(file);
    }
    std::uint32_t seed = mode * 2654435761u + 7u;
    camsim::ReceiveCheck wholeCheck;
    camsim::ReceiveCheck cutCheck;
    const Verdict whole = Receive(wholeCheck, file, [&] { return file.size(); });
    const Verdict cut = Receive(cutCheck, file, [&] {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        return std::size_t{1} + seed % 300;
    });
    FUZZ_CHECK(whole.problem == cut.problem);
    FUZZ_CHECK(whole.received == file.size() && cut.received == file.size());
    FUZZ_CHECK(whole.md5 == cut.md5);
    FUZZ_CHECK(qvfuzz::Md5(file) == std::string(whole.md5.begin(), whole.md5.end()));
    FUZZ_CHECK(wholeCheck.IsPack() == cutCheck.IsPack());
    FUZZ_CHECK(wholeCheck.Entries().size() == cutCheck.Entries().size());
    FUZZ_CHECK(wholeCheck.Entries().size() <= PACK_MAX_FILES);
    // What the camera makes of the pack for its hardware and new version;
    // hardware texts shorter than a code must not be read past their end.
    CUpdataFileCheck rule;
    for (const char* hw : {"1#3", "111", "103", "1", ""}) {
        (void)camsim::HardwareMismatch(wholeCheck, hw);
        for (const camsim::PackEntry& e : wholeCheck.Entries()) {
            const std::string code = camsim::HardwareCode(e.name);
            FUZZ_CHECK(code == rule.HardwareCode(e.name));
            FUZZ_CHECK(code.empty() ||
                       camsim::CodeFitsHardware(code, hw) == rule.MatchHardVersion(e.name, hw));
        }
    }
    (void)camsim::VersionSource(wholeCheck, "file_V1.2.bin");

    if (!IsPackMagic(file) || file.size() < sizeof(tPackHead)) {
        FUZZ_CHECK(whole.problem.empty());
        return 0;
    }
    qvfuzz::Scratch s;
    const std::string path = s / "p";
    std::ofstream(path, std::ios::binary).write(file.data(), static_cast<long>(file.size()));
    tPackHead head{};
    const auto table = CheckFileMD5(path.c_str(), &head);
    const bool toolAccepts = table != nullptr;
    if (toolAccepts) {
        FUZZ_CHECK(whole.problem.empty());
        // The camera keeps the table the tool reads.
        const auto& entries = wholeCheck.Entries();
        FUZZ_CHECK(entries.size() == head.uifileNum);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            FUZZ_CHECK(entries[i].size == table[i].uiFileSize);
            FUZZ_CHECK(entries[i].type == table[i].ucFileType);
            FUZZ_CHECK(entries[i].name == PackEntryName(table[i]));
        }
    } else if (whole.problem.empty()) {
        // The camera checks the digest only; the tool also refuses a table
        // whose sizes do not add up to the data length.
        std::uint16_t count = 0;
        std::uint32_t dataLen = 0;
        std::memcpy(&count, file.data() + 4, 2);
        std::memcpy(&dataLen, file.data() + 44, 4);
        std::uint64_t sum = 0;
        for (unsigned i = 0; i < count; ++i) {
            std::uint32_t fileSize = 0;
            std::memcpy(&fileSize, file.data() + 64 + 200 * i, 4);
            sum += fileSize;
        }
        FUZZ_CHECK(sum != dataLen);
    }
    return 0;
}
