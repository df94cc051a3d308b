// What a camera makes of an upgrade: the hardware check of update packs (forced
// copies included), the kept file, the reboot silence and the new version.
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "SimFixture.h"
#include "WireClient.h"
#include "camsim/Simulator.h"
#include "pack/UpdatePack.h"
#include "wire/Addr.h"

namespace {

using namespace camsim;
using namespace camsimtest;
namespace fs = std::filesystem;
using wire::MsgType;
using wire::Status;

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

// The tool's version key: before the first '_', then before its last '.'.
std::string Key(const std::string& sw) {
    const std::string head = sw.substr(0, sw.find('_'));
    return sw.find('_') == std::string::npos || head.rfind('.') == std::string::npos
               ? std::string()
               : head.substr(0, head.rfind('.'));
}

std::string Hex8(const std::string& bytes) {
    std::string h = wire::DigestHex(wire::Md5Of(Bytes(bytes))).substr(0, 8);
    for (char& c : h) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return h;
}

// Real packs, made by the pack writer in a temporary folder.
class Packs {
  public:
    Packs() {
        char pattern[] = "/tmp/qv-camsim-packs-XXXXXX";
        EXPECT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    ~Packs() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    Packs(const Packs&) = delete;
    Packs& operator=(const Packs&) = delete;

    // A pack of a kernel and, unless appName is empty, one application image;
    // forced: the copy whose application entry carries type 6.
    std::string Make(const std::string& appName, bool forced = false,
                     std::uint32_t magic = PACK_MAGIC_SINGLE) {
        const fs::path src = dir_ / std::to_string(++n_);
        fs::create_directories(src);
        std::vector<std::string> files{(src / "uImage").string()};
        std::ofstream(files[0], std::ios::binary) << std::string(3000, 'k');
        if (!appName.empty()) {
            files.push_back((src / appName).string());
            std::ofstream(files[1], std::ios::binary) << appName << std::string(5000, 'a');
        }
        std::vector<PackPathSlot> slots(files.size());
        for (std::size_t i = 0; i < files.size(); ++i) {
            wire::CopyText(slots[i], PACK_PATH_SLOT, files[i]);
        }
        tPackHead head{};
        head.uiPackMagic = magic;
        head.uifileNum = static_cast<std::uint16_t>(files.size());
        head.PackType = 1;
        const std::string pack = (src / "Pack.bin").string();
        EXPECT_EQ(UpdatePack(slots.data(), pack.c_str(), &head, static_cast<int>(files.size())), 0);
        if (forced) {
            EXPECT_EQ(BinUpdateAppFileType(pack.c_str(), src.c_str(), "Forced.bin"), 0);
            return ReadFile(src / "Forced.bin");
        }
        return ReadFile(pack);
    }

  private:
    fs::path dir_;
    int n_ = 0;
};

// The check holds a running digest: it is fed in place.
const ReceiveCheck& Fed(ReceiveCheck& check, const std::string& bytes) {
    const auto v = Bytes(bytes);
    check.Feed(v.data(), v.size());
    return check;
}

// ---------------------------------------------------------------- the rules

TEST(CameraRules, NewVersionFollowsTheTagAndKeepsTheKeyWithout) {
    const std::string file = "some firmware";
    const std::string h = Hex8(file);
    struct Case {
        const char* oldSw;
        const char* source;
        std::string want;
        const char* key;
    };
    const Case cases[] = {
        {"2.3.1_180101", "cam_qzt1a2.jffs2_V2.6_YJ101_x", "2.6.0_" + h, "2.6"},
        {"V2.1.3_20240115", "app_V3.4.jffs2", "V3.4.0_" + h, "V3.4"},   // letters stay
        {"2.3.1_180101", "uImage", "2.3.0_" + h, "2.3"},                // no tag: key kept
        {"2.3.1_180101", "", "2.3.0_" + h, "2.3"},                      // pack without app
        {"V9", "app.jffs2", "V0.0.0_" + h, "V0.0"},                     // no key at all
        {"2.3.1_180101", "a_Vx_V2_V12.34_b", "12.34.0_" + h, "12.34"},  // first whole tag
        {"2.3.1_180101", "a_V1234567890.1_b", "2.3.0_" + h, "2.3"},     // no number that long
    };
    for (const Case& c : cases) {
        const std::string sw = NewSoftwareVersion(c.oldSw, c.source, wire::Md5Of(Bytes(file)));
        EXPECT_EQ(sw, c.want) << c.oldSw << " + " << c.source;
        EXPECT_EQ(Key(sw), c.key) << sw;
    }
}

TEST(CameraRules, PackFitsTheHardwareByItsApplicationEntry) {
    Packs packs;
    struct Case {
        const char* app;  // application image in the pack ("" none)
        bool forced;
        std::uint32_t magic;
        const char* hw;
        bool fits;
    };
    const Case cases[] = {
        {"cam.jffs2_V2.3_YJ101_", false, PACK_MAGIC_SINGLE, "101", true},
        {"cam.jffs2_V2.3_YJ101_", false, PACK_MAGIC_SINGLE, "102", false},
        {"cam.jffs2_V2.3_YJ101_", true, PACK_MAGIC_SINGLE, "101", true},   // forced copy
        {"cam.jffs2_V2.3_YJ101_", true, PACK_MAGIC_SINGLE, "102", false},  // checked the same
        {"cam.jffs2_V2.3_YJ1#1_", false, PACK_MAGIC_SINGLE, "1x1", true},  // wildcard
        {"cam.jffs2", false, PACK_MAGIC_SINGLE, "111", true},              // no code: fits all
        {"cam.jffs2", false, PACK_MAGIC_SINGLE, "201", true},
        {"cam.jffs2", true, PACK_MAGIC_SINGLE, "101", true},
        {"cam.jffs2_YJ10_", false, PACK_MAGIC_SINGLE, "201", true},  // two characters: none
        {"cam.jffs2_YJ20#_", false, PACK_MAGIC_SINGLE, "101", false},
        {"", false, PACK_MAGIC_SINGLE, "102", true},                      // kernel only
        {"cam.jffs2_V2.3_YJ101_", false, PACK_MAGIC_MULTI, "102", true},  // not judged
    };
    for (const Case& c : cases) {
        ReceiveCheck fed;
        const ReceiveCheck& check = Fed(fed, packs.Make(c.app, c.forced, c.magic));
        ASSERT_TRUE(check.PackProblem().empty()) << check.PackProblem();
        const std::string why = HardwareMismatch(check, c.hw);
        EXPECT_EQ(why.empty(), c.fits) << c.app << " forced " << c.forced << " on " << c.hw;
        EXPECT_EQ(VersionSource(check, "Pack.bin"), c.app);
        if (!c.fits) {
            EXPECT_NE(why.find(c.app), std::string::npos) << why;
            EXPECT_NE(why.find(c.forced ? "type 6" : "type 1"), std::string::npos) << why;
        }
    }
    // a plain image is judged by nothing but its transfer; its version comes from its name
    ReceiveCheck plain;
    Fed(plain, "plain image");
    EXPECT_TRUE(HardwareMismatch(plain, "102").empty());
    EXPECT_EQ(VersionSource(plain, "cam_V2.6.jffs2"), "cam_V2.6.jffs2");
}

// ------------------------------------------------------ cameras on loopback

class CameraUpgrade : public SimFixture {
  protected:
    // Camera i: hardware version hw, software version 2.3.1_180101.
    static CameraSpec Camera(int i, const char* hw, bool checkHw = true,
                             std::uint32_t rebootMs = 0) {
        CameraSpec c;
        c.ip = {127, 203, static_cast<std::uint8_t>(::getpid() % 250),
                static_cast<std::uint8_t>(i + 1)};
        c.mac = {0x02, 0xCC, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(i + 1)};
        c.sw = "2.3.1_180101";
        c.hw = hw;
        c.checkHw = checkHw;
        c.rebootMs = rebootMs;
        return c;
    }

    void Start(std::vector<CameraSpec> cams) { SimFixture::Start(std::move(cams), Config(3)); }

    // One whole update on a fresh session; the verdict's status (0xFFFFFFFF: none).
    std::uint32_t Send(std::size_t i, const std::string& name, const std::string& bytes,
                       std::uint16_t type, TcpClient& c) {
        if (c.connect(Ip(i), sim_->ControlPort()) != 0) {
            return 0xFFFFFFFF;
        }
        wire::UpdateBegin b{};
        b.upgradeType = type;
        b.size = bytes.size();
        wire::CopyText(b.name, sizeof b.name, name);
        auto ready = c.call(wire::EncodeFrame(MsgType::UpdateBegin, 5, b));
        if (!ready || ready->as<wire::StatusRep>()->status != 0) {
            return 0xFFFFFFFF;
        }
        const auto v = Bytes(bytes);
        EXPECT_TRUE(c.send(wire::EncodeFrame(MsgType::UpdateData, 5, v)));
        wire::UpdateEnd e{};
        const auto md5 = wire::Md5Of(v);
        std::memcpy(e.md5, md5.data(), 16);
        auto res = c.call(wire::EncodeFrame(MsgType::UpdateEnd, 5, e));
        return res ? res->as<wire::UpdateResult>()->status : 0xFFFFFFFF;
    }
    std::uint32_t Send(std::size_t i, const std::string& name, const std::string& bytes,
                       std::uint16_t type = 0) {
        TcpClient c;
        return Send(i, name, bytes, type, c);
    }

    // Software version in each answer to one probe, by the MAC's last byte.
    std::map<int, std::string> Discover() {
        UdpClient udp;
        EXPECT_TRUE(udp.sendTo("127.255.255.255", sim_->DiscoveryPort(),
                               wire::EncodeFrame(MsgType::DiscoverReq, 1, wire::DiscoverReq{})));
        std::map<int, std::string> seen;
        for (const auto& d : udp.collect(300ms)) {
            auto f = wire::DecodeDatagram(d.bytes);
            auto rec = f ? wire::ParsePayload<tNetDeviceInfo>(f->payload) : std::nullopt;
            if (rec) {
                seen[rec->ucMac[5] - 1] = wire::TextField(rec->szSoftVersion, 132);
            }
        }
        return seen;
    }
};

TEST_F(CameraUpgrade, PackForAnotherHardwareIsRefusedUnlessTheCheckIsOff) {
    Packs packs;
    const std::string app = "qzt1a2.jffs2_V2.6_YJ101_";
    const std::string pack = packs.Make(app);
    const std::string forced = packs.Make(app, true);
    Start({Camera(0, "101"), Camera(1, "102"), Camera(2, "102", false)});
    struct Case {
        std::size_t cam;
        const std::string* bytes;
        std::uint16_t type;
        Status verdict;
    };
    const Case cases[] = {{0, &pack, 0, Status::Ok},
                          {1, &pack, 0, Status::VerifyFailed},
                          {2, &pack, 0, Status::Ok},
                          {0, &forced, 1, Status::Ok},
                          {1, &forced, 1, Status::VerifyFailed},
                          {2, &forced, 1, Status::Ok}};
    for (const Case& c : cases) {
        TcpClient client;
        EXPECT_EQ(Send(c.cam, c.type == 1 ? "Pack.bin" : "fw.bin", *c.bytes, c.type, client),
                  static_cast<std::uint32_t>(c.verdict))
            << "camera " << c.cam << " type " << c.type;
        // A refusal says why, just before it.
        if (c.verdict != Status::Ok) {
            ASSERT_EQ(client.reasons().size(), 1u);
            const auto why = client.reasons()[0].as<wire::UpdateReason>();
            ASSERT_TRUE(why);
            EXPECT_EQ(why->reason, static_cast<std::uint32_t>(wire::UpdateReasonCode::Hardware));
            EXPECT_EQ(why->status, static_cast<std::uint32_t>(c.verdict));
        } else {
            EXPECT_TRUE(client.reasons().empty());
        }
    }
    // what each camera kept, counted and reports now: the last file it accepted
    const std::string newSw = NewSoftwareVersion("2.3.1_180101", app, wire::Md5Of(Bytes(forced)));
    EXPECT_EQ(Key(newSw), "2.6");
    const auto seen = Discover();
    for (std::size_t i : {0u, 2u}) {
        const auto st = sim_->State(i);
        EXPECT_EQ(st.accepted, 2u);
        EXPECT_EQ(st.refused, 0u);
        EXPECT_EQ(st.lastFile, "Pack.bin");
        EXPECT_EQ(st.sw, newSw);
        EXPECT_EQ(seen.at(static_cast<int>(i)), newSw);
        EXPECT_EQ(ReadFile(fs::path(sim_->CameraDir(i)) / st.lastFile), forced);
        EXPECT_EQ(ReadFile(fs::path(sim_->CameraDir(i)) / "fw.bin"), pack);
        // the state file says the same for other processes
        const auto j = nlohmann::json::parse(ReadFile(sim_->StatePath(i)));
        EXPECT_EQ(j["sw"], newSw);
        EXPECT_EQ(j["accepted"], 2);
        EXPECT_EQ(j["last_file"], "Pack.bin");
    }
    const auto refused = sim_->State(1);
    EXPECT_EQ(refused.accepted, 0u);
    EXPECT_EQ(refused.refused, 2u);
    EXPECT_EQ(refused.sw, "2.3.1_180101");
    EXPECT_EQ(seen.at(1), "2.3.1_180101");
    EXPECT_FALSE(fs::exists(sim_->CameraDir(1)) && !fs::is_empty(sim_->CameraDir(1)));
    EXPECT_NE(ReadFile(dir_ / "camsim.log").find("is for another hardware code than '102'"),
              std::string::npos);
}

TEST_F(CameraUpgrade, RebootIsSilentThenTheNewVersionIsSeen) {
    Start({Camera(0, "101", true, 600), Camera(1, "101")});
    const std::string image = std::string(20000, 'i');
    TcpClient updating;
    TcpClient other;
    ASSERT_EQ(other.connect(Ip(0), sim_->ControlPort()), 0);
    ASSERT_EQ(Send(0, "cam_qzt1a2.jffs2_V2.9", image, 0, updating), 0u);
    const auto t0 = std::chrono::steady_clock::now();
    const std::string newSw = "2.9.0_" + Hex8(image);
    // both sessions end, nobody is let in, and discovery hears only the other camera
    EXPECT_TRUE(updating.closedByPeer(1000ms));
    EXPECT_TRUE(other.closedByPeer(1000ms));
    TcpClient late;
    EXPECT_EQ(late.connect(Ip(0), sim_->ControlPort()), ECONNREFUSED);
    const auto during = Discover();
    if (std::chrono::steady_clock::now() - t0 < 550ms) {  // a slow machine may be past it
        EXPECT_EQ(during.count(0), 0u);
        EXPECT_TRUE(sim_->State(0).rebooting);
    }
    EXPECT_EQ(during.count(1), 1u);
    for (int i = 0; i < 200 && sim_->State(0).rebooting; ++i) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 550ms);
    EXPECT_EQ(Discover().at(0), newSw);
    EXPECT_EQ(late.connect(Ip(0), sim_->ControlPort()), 0);
    EXPECT_EQ(sim_->State(0).sw, newSw);
    EXPECT_FALSE(nlohmann::json::parse(ReadFile(sim_->StatePath(0)))["rebooting"].get<bool>());
}

// What the state file counts for each way an update ends: the soak's checker
// compares a batch's record against exactly these fields.
TEST_F(CameraUpgrade, StateFileCountsWhatEachCameraReceivedAndKept) {
    struct Row {
        const char* fault;  // applied to the camera of the row
        std::uint32_t rebootMs;
        bool verdict;  // a verdict comes back at all
        std::uint64_t accepted, refused, received;
        bool silentAfter;  // still rebooting well after its reboot time
        bool newVersion;
    };
    const std::string image(20000, 'i');
    const Row rows[] = {
        {"", 0, true, 1, 0, 20000, false, true},
        {"never-back", 0, true, 1, 0, 20000, true, false},
        {"never-back", 100, true, 1, 0, 20000, true, false},
        {"drop-at-percent=25", 0, false, 0, 0, 5000, false, false},
        {"drop-at-percent=0", 0, false, 0, 0, 0, false, false},
        {"fail-verify", 0, true, 0, 1, 20000, false, false},
        {"keep-version", 100, true, 1, 0, 20000, false, false},
    };
    std::vector<CameraSpec> cams;
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        CameraSpec c = Camera(static_cast<int>(i), "101", true, rows[i].rebootMs);
        std::string error;
        if (*rows[i].fault != 0) {
            EXPECT_TRUE(ApplyFault(c.faults, rows[i].fault, error)) << error;
        }
        cams.push_back(c);
    }
    Start(cams);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(Send(i, "cam_app_V2.9", image) != 0xFFFFFFFF, rows[i].verdict) << i;
    }
    std::this_thread::sleep_for(400ms);  // every reboot is over by now
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        SCOPED_TRACE(std::string("row ") + std::to_string(i) + " " + r.fault);
        Simulator::CameraState st;
        for (int k = 0; k < 100; ++k) {  // a dropped link is noticed a moment later
            st = sim_->State(i);
            if (!st.busy) {
                break;
            }
            std::this_thread::sleep_for(20ms);
        }
        EXPECT_EQ(st.begun, 1u);
        EXPECT_EQ(st.accepted, r.accepted);
        EXPECT_EQ(st.refused, r.refused);
        EXPECT_EQ(st.received, r.received);
        EXPECT_FALSE(st.busy);
        EXPECT_EQ(st.rebooting, r.silentAfter);
        EXPECT_EQ(st.sw != "2.3.1_180101", r.newVersion) << st.sw;
        const auto j = nlohmann::json::parse(ReadFile(sim_->StatePath(i)), nullptr, false);
        ASSERT_TRUE(j.is_object());
        EXPECT_EQ(j["begun"], 1);
        EXPECT_EQ(j["received"], r.received);
        EXPECT_EQ(j["rebooting"], r.silentAfter);
        EXPECT_EQ(j["busy"], false);
        EXPECT_EQ(j["ip"], Ip(i));
    }
    // one that never comes back answers nothing, not even a connection
    TcpClient late;
    EXPECT_EQ(late.connect(Ip(1), sim_->ControlPort()), ECONNREFUSED);
    EXPECT_EQ(Discover().count(1), 0u);
}

}  // namespace
