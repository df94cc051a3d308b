// quorvane-cli upgrade against a camsim fleet on loopback: what each camera
// keeps is compared byte for byte with the pack meant for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "CliRunner.h"
#include "Fleet.h"
#include "PackTestUtil.h"
#include "pack/UpdataFileCheck.h"
#include "pack/UpdatePack.h"
#include "platform/Md5.h"

namespace fs = std::filesystem;
using packtest::Entry;

namespace {

const std::string kType = "KQM-RVT3305";

class UpgradeEndToEnd : public ::testing::Test {
  protected:
    // Cameras of kType with these hardware versions, in this order.
    void StartFleet(const std::vector<std::string>& hw, const std::string& faultyCamera = {}) {
        std::string json =
            R"({"defaults": {"type": ")" + kType + R"(", "sw": "2.3.1_180101"}, "cameras": [)";
        for (std::size_t i = 0; i < hw.size(); ++i) {
            json +=
                std::string(i ? "," : "") + R"({"hw": ")" + hw[i] + "\"" +
                (std::to_string(i) == faultyCamera ? R"(, "faults": {"drop-after": 5000})" : "") +
                "}";
        }
        qvtest::FleetOptions options = qvtest::FleetOptions::Json(json + "]}");
        options.patientSearch();
        fleet_ = std::make_unique<qvtest::Fleet>(std::move(options));
        ASSERT_TRUE(fleet_->ok()) << fleet_->error();
        dir_ = fs::path(fleet_->dir()) / "tool";
        tmp_ = fs::path(fleet_->dir()) / "tmp";
        fs::create_directories(dir_);
        fs::create_directories(tmp_);
        fs::copy_file(fleet_->confPath(), dir_ / "quorvane-net.conf",
                      fs::copy_options::overwrite_existing);
    }

    qvtest::CliRun Upgrade(const std::string& file, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"upgrade", file, "--all"};
        args.insert(args.end(), extra.begin(), extra.end());
        return qvtest::RunCli(QV_CLI_PATH, dir_, args, "TMPDIR=" + qvtest::ShellQuote(tmp_));
    }

    // Writes the entries as files into a folder of their own and returns it.
    std::string Files(const std::string& name, const std::vector<Entry>& entries) {
        const fs::path d = fs::path(fleet_->dir()) / name;
        fs::create_directories(d);
        for (const Entry& e : entries) {
            packtest::WriteFile((d / e.name).string(), e.data);
        }
        return d.string();
    }
    std::string Pack(const std::string& name, std::vector<Entry> entries, std::uint32_t magic) {
        const std::string path = (fs::path(fleet_->dir()) / name).string();
        packtest::WritePack(path, magic, std::move(entries));
        return path;
    }

    // The bytes the camera with this MAC kept of its last upgrade.
    std::string Kept(const std::string& mac) const {
        return fleet_->keptFile(mac).value_or(std::string());
    }

    bool WorkspaceLeft() const {
        return std::any_of(fs::directory_iterator(tmp_), fs::directory_iterator{},
                           [](const auto& e) {
                               return e.path().filename().string().rfind("UpdatePacket_", 0) == 0;
                           });
    }

    static Entry App(const std::string& code, std::uint32_t seed) {
        return {"app_V2.3_YJ" + code + "_" + kType + ".jffs2", PACK_FILE_APP,
                packtest::Bytes(40000 + seed, seed), ""};
    }

    std::unique_ptr<qvtest::Fleet> fleet_;
    fs::path dir_;
    fs::path tmp_;
};

TEST_F(UpgradeEndToEnd, AMultiApplicationPackGivesEachCameraThePackOfItsHardware) {
    const std::vector<std::string> hw = {"103A", "101A", "102A", "101A", "103A", "102A",
                                         "102A", "101A", "103A", "103A", "101A", "102A"};
    StartFleet(hw);
    const Entry kernel{"uImage", PACK_FILE_KERNEL, packtest::Bytes(90000, 1), ""};
    const Entry rootfs{"rootfs.cramfs", PACK_FILE_FS, packtest::Bytes(70000, 2), ""};
    const std::vector<Entry> entries = {App("102", 12), kernel, App("103", 13), rootfs,
                                        App("101", 11)};
    const std::string pack = Pack("multi.bin", entries, PACK_MAGIC_MULTI);

    // What the tool must compose: the common files by name, then one image.
    const std::string src = Files("expected", entries);
    CUpdataFileCheck check;
    std::map<std::string, std::string> expected;  // hardware code -> pack bytes
    for (const char* code : {"101", "102", "103"}) {
        const std::string image = src + "/" + App(code, 0).name;
        ASSERT_EQ(check.ComposePack(src, std::string("x") + code + ".bin",
                                    {src + "/rootfs.cramfs", src + "/uImage", image}),
                  1);
        expected[code] = packtest::ReadFile(src + "/x" + code + ".bin");
    }

    const qvtest::CliRun run = Upgrade(pack, {"--sync-time"});
    ASSERT_EQ(run.rc, 0) << run.out << run.err << fleet_->log();
    EXPECT_NE(run.err.find("[12/12] "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("批量升级完成"), std::string::npos);
    const auto& cams = fleet_->cameras();
    ASSERT_EQ(cams.size(), hw.size());
    for (std::size_t i = 0; i < cams.size(); ++i) {
        EXPECT_NE(run.out.find("[" + cams[i].mac + "] " + cams[i].ip + " 升级成功"),
                  std::string::npos)
            << run.out;
        EXPECT_TRUE(Kept(cams[i].mac) == expected[hw[i].substr(0, 3)]) << cams[i].mac;
    }
    EXPECT_FALSE(WorkspaceLeft());
    const std::string log = qvtest::ReadWholeFile(dir_ / "korvel.log");
    EXPECT_NE(log.find("bin file[5]:uImage\n"), std::string::npos);

    // The next search shows the version each camera took from its pack.
    const qvtest::CliRun search = qvtest::RunCli(QV_CLI_PATH, dir_, {"search"});
    ASSERT_EQ(search.rc, 0) << search.err;
    for (std::size_t i = 0; i < cams.size(); ++i) {
        const platform::Digest md5 = platform::Md5Of(
            std::span(reinterpret_cast<const std::uint8_t*>(expected[hw[i].substr(0, 3)].data()),
                      expected[hw[i].substr(0, 3)].size()));
        const std::string sw = "2.3.0_" + platform::DigestHex(md5).substr(0, 8);
        EXPECT_NE(search.out.find(cams[i].mac + "\t" + sw + "\t" + hw[i]), std::string::npos)
            << search.out;
    }
}

TEST_F(UpgradeEndToEnd, BundleForcedPackAndACameraLostMidTransfer) {
    StartFleet({"101A", "102A", "101A"}, "2");
    const auto& cams = fleet_->cameras();
    const std::vector<Entry> a = {{"uImage", PACK_FILE_KERNEL, packtest::Bytes(30000, 3), ""},
                                  App("101", 21)};
    const std::vector<Entry> b = {{"uImage", PACK_FILE_KERNEL, packtest::Bytes(30000, 4), ""},
                                  App("102", 22)};
    const std::string innerA = packtest::BuildPack({PACK_MAGIC_SINGLE, 1, a, -1, -1});
    const std::string innerB = packtest::BuildPack({PACK_MAGIC_SINGLE, 1, b, -1, -1});
    const std::string bundle = Pack("bundle.bin",
                                    {{"fw_YJ102_.bin", PACK_FILE_OTHER, innerB, ""},
                                     {"fw_YJ101_.bin", PACK_FILE_OTHER, innerA, ""}},
                                    PACK_MAGIC_BUNDLE);
    qvtest::CliRun run = Upgrade(bundle);
    EXPECT_EQ(run.rc, 1) << run.out << run.err;  // the third camera drops the link
    EXPECT_TRUE(Kept(cams[0].mac) == innerA);
    EXPECT_TRUE(Kept(cams[1].mac) == innerB);
    EXPECT_NE(run.out.find("[" + cams[2].mac + "] " + cams[2].ip + " 升级失败"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("[" + cams[0].mac + "] " + cams[0].ip + " 升级成功"), std::string::npos);

    // Forced: a pack for another model goes as its re-typed copy (its image is
    // named for hardware 10#, so the cameras themselves take it).
    const std::string other =
        Pack("other.bin",
             {{"uImage", PACK_FILE_KERNEL, packtest::Bytes(20000, 5), ""},
              {"app_OTHER_YJ10#_.jffs2", PACK_FILE_APP, packtest::Bytes(20000, 6), ""}},
             PACK_MAGIC_SINGLE);
    run = Upgrade(other);
    EXPECT_EQ(run.rc, 2);
    EXPECT_NE(run.err.find("设备类型不匹配"), std::string::npos) << run.err;
    ASSERT_EQ(BinUpdateAppFileType(other.c_str(), fleet_->dir().c_str(), "retyped.bin"), 0);
    run = Upgrade(other, {"--force"});
    EXPECT_EQ(run.rc, 1) << run.out << run.err;
    EXPECT_TRUE(Kept(cams[1].mac) == packtest::ReadFile(fleet_->dir() + "/retyped.bin"));
    EXPECT_FALSE(WorkspaceLeft());
}

}  // namespace
