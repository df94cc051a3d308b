// The camera's own judgement of received files, against packs laid out byte by
// byte by the tests' builder (not by the tool's pack writer), so that a fault in
// either reading shows here.
#include <gtest/gtest.h>

#include "PackTestUtil.h"
#include "camsim/FileJudge.h"

namespace {

using namespace camsim;
using packtest::BuildPack;
using packtest::PackSpec;

const std::string kApp = "cam_qzt1a2.jffs2_V2.6_YJ101_";

PackSpec Single(const std::string& app = kApp, std::uint8_t appType = 1) {
    PackSpec p;
    p.entries = {{"rootfs.cramfs", 3, packtest::Bytes(700, 1), ""},
                 {"uImage", 2, packtest::Bytes(300, 2), ""},
                 {app, appType, packtest::Bytes(900, 3), ""}};
    return p;
}

std::string Built(PackSpec p, std::uint32_t magic = pack::kMagicSingle) {
    p.magic = magic;
    return BuildPack(p);
}

std::string Flipped(std::string bytes, std::size_t at) {
    bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
    return bytes;
}

// A check fed the file in pieces of `piece` bytes.
struct Fed {
    Fed(const std::string& bytes, std::size_t piece) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            check.Feed(p + at, std::min(piece, bytes.size() - at));
        }
    }
    ReceiveCheck check;
};

TEST(FileJudge, JudgesEachFileAsADocumentedCameraWould) {
    const std::string good = Built(Single());
    const std::size_t end = good.size();
    auto header = [](std::uint8_t packType, int fileNum) {
        PackSpec p = Single();
        p.packType = packType;
        p.fileNum = fileNum;
        return Built(p);
    };
    // A data length that is not the sum of the sizes, and a digest that holds
    // over the bytes the header claims: the camera checks the digest only.
    PackSpec sizesOff = Single();
    sizesOff.dataLen = 1000;
    std::string shortData = packtest::BuildBody(sizesOff).substr(0, 64 + 600 + 1000);
    shortData += packtest::Md5Of(shortData);
    const std::string longName(128, 'n');
    struct Row {
        const char* what;
        std::string bytes;
        const char* hw;
        bool isPack;
        std::string problem;   // part of PackProblem(); "" sound
        std::string hardware;  // part of HardwareMismatch(); "" fits
        std::string source;    // VersionSource(check, "fw.bin")
    };
    const Row rows[] = {
        {"good pack", good, "101", true, "", "", kApp},
        {"good pack, bytes after its digest", good + "tail", "101", true, "", "", kApp},
        {"bad digest", Flipped(good, end - 1), "101", true, "pack digest mismatch: expected", "",
         "fw.bin"},
        {"a data byte changed", Flipped(good, 64 + 600 + 5), "101", true, "pack digest mismatch",
         "", "fw.bin"},
        {"a name changed", Flipped(good, 64 + 8), "101", true, "pack digest mismatch", "",
         "fw.bin"},
        {"wrong pack type", header(2, -1), "101", true, "bad file count or pack type", "",
         "fw.bin"},
        {"no entries", header(1, 0), "101", true, "bad file count or pack type", "", "fw.bin"},
        {"100 entries", header(1, 100), "101", true, "bad file count or pack type", "", "fw.bin"},
        {"wrong hardware", good, "102", true, "",
         "application entry '" + kApp + "' (type 1) is for another hardware code than '102'", kApp},
        {"hardware shorter than the code", good, "10", true, "", "for another hardware code than",
         kApp},
        {"forced copy, wrong hardware", Built(Single(kApp, 6)), "102", true, "", "(type 6)", kApp},
        {"forced copy fits", Built(Single(kApp, 6)), "101", true, "", "", kApp},
        {"wildcard code", Built(Single("a.jffs2_YJ1#1_")), "1x1", true, "", "", "a.jffs2_YJ1#1_"},
        {"no code: fits every camera", Built(Single("app.jffs2")), "907", true, "", "",
         "app.jffs2"},
        {"not an application entry", Built(Single("app.jffs2_YJ101_", 4)), "102", true, "", "", ""},
        {"a name that fills its field", Built(Single(longName)), "101", true, "", "", longName},
        {"sizes disagree with the data length", shortData, "101", true, "", "", kApp},
        {"truncated in the header: no pack", good.substr(0, 63), "102", false, "", "", "fw.bin"},
        {"truncated in the table", good.substr(0, 64 + 250), "101", true,
         "pack is shorter than its header says (314 bytes, " + std::to_string(end) + " expected)",
         "", "fw.bin"},
        {"truncated in the data", good.substr(0, end - 100), "101", true, "pack is shorter", "",
         "fw.bin"},
        {"truncated in the digest", good.substr(0, end - 1), "101", true, "pack is shorter", "",
         "fw.bin"},
        // every file class: plain images are judged by their transfer alone
        {"application image", "app image bytes", "102", false, "", "", "fw.bin"},
        {"kernel image", packtest::Bytes(5000, 4), "102", false, "", "", "fw.bin"},
        {"file-system image", packtest::Bytes(64, 5), "102", false, "", "", "fw.bin"},
        {"multi-application pack: not judged by hardware", Built(Single(), pack::kMagicMulti),
         "102", true, "", "", kApp},
        {"bundle: not judged by hardware", Built(Single(), pack::kMagicBundle), "102", true, "", "",
         kApp},
        {"damaged bundle", Flipped(Built(Single(), pack::kMagicBundle), 70), "101", true,
         "pack digest mismatch", "", "fw.bin"},
        {"another magic: no pack", Built(Single(), 0x89ABCDEE), "102", false, "", "", "fw.bin"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Fed whole(r.bytes, r.bytes.size() + 1);
        Fed cut(r.bytes, 13);
        const ReceiveCheck& c = whole.check;
        EXPECT_EQ(c.Received(), r.bytes.size());
        EXPECT_EQ(c.IsPack(), r.isPack);
        const std::string problem = c.PackProblem();
        EXPECT_EQ(problem, cut.check.PackProblem());
        EXPECT_EQ(problem.empty(), r.problem.empty()) << problem;
        EXPECT_NE(problem.find(r.problem), std::string::npos) << problem;
        const std::string hardware = HardwareMismatch(c, r.hw);
        EXPECT_EQ(hardware.empty(), r.hardware.empty()) << hardware;
        EXPECT_NE(hardware.find(r.hardware), std::string::npos) << hardware;
        EXPECT_EQ(VersionSource(c, "fw.bin"), r.source);
        if (r.isPack && problem.empty()) {
            ASSERT_EQ(c.Entries().size(), 3u);
            EXPECT_EQ(c.Entries()[1].name, "uImage");
            EXPECT_EQ(c.Entries()[1].type, 2);
            EXPECT_EQ(c.Entries()[1].size, 300u);
        }
    }
}

TEST(FileJudge, HardwareCodeFollowsTheNameRule) {
    const struct {
        const char* name;
        const char* code;
        const char* fits;     // a hardware version the code fits
        const char* misfits;  // one it does not ("" none)
    } rows[] = {
        {"app.jffs2_V2.3_YJ101_x", "101", "101", "102"},
        {"app_YJ1#3_", "1#3", "1x3", "104"},
        {"app_YJx_YJ2#1_b", "2#1", "291", "191"},  // a letter after the first marker
        {"app_YJ_YJ#01_", "#01", "901", "900"},
        {"app_YJ10_", "", "", ""},        // two characters: no code
        {"app_YJ1011_", "", "", ""},      // four
        {"app_YJ101", "", "", ""},        // no '_' after it
        {"app_YJ10_YJ202_", "", "", ""},  // the first marker with a digit decides
        {"app_yj101_", "", "", ""},       // case-sensitive
        {"app_YJ", "", "", ""},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(HardwareCode(r.name), r.code) << r.name;
        if (*r.code != '\0') {
            EXPECT_TRUE(CodeFitsHardware(r.code, r.fits)) << r.name;
            EXPECT_FALSE(CodeFitsHardware(r.code, r.misfits)) << r.name;
        }
    }
}

}  // namespace
