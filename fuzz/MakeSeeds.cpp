// Writes the seed corpus of every fuzz target into a folder, one sub-folder
// per target, with the project's own writers: packs as UpdatePack and
// BinUpdateAppFileType make them for the tests, and the frames of a whole
// session as the encoders put them on the wire. fuzz/make-seeds.sh runs it.
//   fuzz_make_seeds OUT_DIR

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "addressing/PlanCsv.h"
#include "pack/UpdatePack.h"
#include "wire/Addr.h"
#include "wire/NetConfig.h"
#include "wire/Wire.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

fs::path g_out;

void Put(const std::string& target, const std::string& name, const std::string& bytes) {
    fs::create_directories(g_out / target);
    std::ofstream(g_out / target / name, std::ios::binary)
        .write(bytes.data(), static_cast<long>(bytes.size()));
}

std::string Str(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Filler(std::size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>((i * 31 + seed * 7) & 0xFF);
    }
    return s;
}

// A pack of the given files (name, size), written by UpdatePack.
std::string MakePack(const fs::path& work, const std::vector<std::pair<std::string, int>>& files,
                     std::uint32_t magic) {
    fs::remove_all(work);
    fs::create_directories(work);
    std::vector<PackPathSlot> slots(files.size());
    unsigned seed = 1;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const fs::path p = work / files[i].first;
        std::ofstream(p, std::ios::binary)
            << Filler(static_cast<std::size_t>(files[i].second), seed++);
        std::memset(slots[i], 0, PACK_PATH_SLOT);
        const std::string s = p.string();
        std::memcpy(slots[i], s.data(), s.size());
    }
    tPackHead head{};
    head.uiPackMagic = magic;
    head.uifileNum = static_cast<std::uint16_t>(files.size());
    head.PackType = 1;
    const fs::path pack = work / "pack.bin";
    if (UpdatePack(slots.data(), pack.c_str(), &head, static_cast<int>(files.size())) != 0) {
        return {};
    }
    return ReadAll(pack);
}

// A pack of files with the given contents.
std::string MakePackOf(const fs::path& work,
                       const std::vector<std::pair<std::string, std::string>>& files,
                       std::uint32_t magic) {
    fs::remove_all(work);
    fs::create_directories(work);
    std::vector<PackPathSlot> slots(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const fs::path p = work / files[i].first;
        std::ofstream(p, std::ios::binary) << files[i].second;
        std::memset(slots[i], 0, PACK_PATH_SLOT);
        const std::string s = p.string();
        std::memcpy(slots[i], s.data(), s.size());
    }
    tPackHead head{};
    head.uiPackMagic = magic;
    head.uifileNum = static_cast<std::uint16_t>(files.size());
    head.PackType = 1;
    const fs::path pack = work / ".pack.bin";
    if (UpdatePack(slots.data(), pack.c_str(), &head, static_cast<int>(files.size())) != 0) {
        return {};
    }
    return ReadAll(pack);
}

// upgrade_request: mode, cameras, then the file (see the target).
void UpgradeSeeds(const fs::path& work) {
    const std::string type = "KQM-RVT3305";
    const std::string single =
        MakePackOf(work, {{"app_" + type + ".jffs2", Filler(300, 1)}, {"uImage", Filler(200, 2)}},
                   PACK_MAGIC_SINGLE);
    const std::string img1 = "app_V2.3_YJ101_" + type + ".jffs2";
    const std::string img2 = "app_V2.3_YJ102_" + type + ".jffs2";
    const std::string multi = MakePackOf(
        work, {{img1, Filler(120, 3)}, {img2, Filler(130, 4)}, {"uImage", Filler(90, 5)}},
        PACK_MAGIC_MULTI);
    const std::string inner1 =
        MakePackOf(work, {{img1, Filler(100, 6)}, {"uImage", Filler(60, 7)}}, PACK_MAGIC_SINGLE);
    const std::string inner2 =
        MakePackOf(work, {{img2, Filler(110, 8)}, {"uImage", Filler(70, 9)}}, PACK_MAGIC_SINGLE);
    const std::string bundle =
        MakePackOf(work, {{"p_YJ101_.bin", inner1}, {"p_YJ102_.bin", inner2}}, PACK_MAGIC_BUNDLE);
    // One camera of hardware 101A, or two: 101A and 102B.
    const char one = 0x00;
    const char two = 0x21;
    const auto cut = [](const std::string& pack) {
        return pack.substr(0, pack.size() - PACK_DIGEST_LEN);
    };
    for (const char force : {'\0', '\1'}) {
        const std::string f = force != 0 ? "-forced" : "";
        Put("upgrade_request", "single" + f, std::string{force, one} + single);
        Put("upgrade_request", "single-redigest" + f,
            std::string{static_cast<char>(force | 2), two} + cut(single));
        Put("upgrade_request", "multi" + f,
            std::string{static_cast<char>(force | 2), two} + cut(multi));
        Put("upgrade_request", "bundle" + f,
            std::string{static_cast<char>(force | 2), two} + cut(bundle));
    }
    // The same pack under a single image's names.
    Put("upgrade_request", "tgz", std::string{0x04, one} + single);
    Put("upgrade_request", "kernel", std::string{0x08, one} + single);
}

void PackSeeds(const fs::path& work) {
    const std::string single = MakePack(
        work,
        {{"app_qzt1a2_V2.3.jffs2", 900}, {"uImage", 300}, {"rootfs.cramfs", 200}, {"notes", 0}},
        PACK_MAGIC_SINGLE);
    const std::string multi = MakePack(
        work, {{"cam_YJ1#3_.jffs2", 120}, {"Pack.bin", 64}, {"readme", 5}}, PACK_MAGIC_MULTI);
    const std::string bundle =
        MakePack(work, {{"Pack1.bin", 80}, {"Pack2.bin", 90}}, PACK_MAGIC_BUNDLE);
    fs::create_directories(work / "r");
    const std::string srcPath = (work / "single.bin").string();
    std::ofstream(srcPath, std::ios::binary) << single;
    BinUpdateAppFileType(srcPath.c_str(), (work / "r").c_str(), "retyped.bin");
    const std::string retyped = ReadAll(work / "r" / "retyped.bin");
    const struct {
        const char* name;
        std::string pack;
    } packs[] = {{"single", single}, {"multi", multi}, {"bundle", bundle}, {"retyped", retyped}};
    for (const auto& p : packs) {
        // Mode 0: the pack as it is; mode 1: without its digest, which the
        // target computes afresh after every mutation.
        Put("pack_read", std::string(p.name) + "-whole", '\0' + p.pack);
        Put("pack_read", std::string(p.name) + "-redigest",
            '\1' + p.pack.substr(0, p.pack.size() - PACK_DIGEST_LEN));
        Put("camsim_receive", std::string(p.name) + "-whole", '\0' + p.pack);
        Put("camsim_receive", std::string(p.name) + "-redigest",
            '\3' + p.pack.substr(0, p.pack.size() - PACK_DIGEST_LEN));
    }
    Put("camsim_receive", "plain-image", std::string("\x02", 1) + Filler(3000, 9));

    // pack_write: count, then (name choice, name bytes, length, data) per file.
    auto file = [](std::uint8_t choice, const std::string& name, const std::string& data) {
        std::string s(1, static_cast<char>(choice));
        if (choice % 2 == 1) {
            s += static_cast<char>(name.size() - 1);
            s += name;
        }
        s += static_cast<char>(data.size());
        return s + data;
    };
    Put("pack_write", "roles",
        std::string(1, 3) + file(4, "", Filler(50, 1)) + file(0, "", Filler(20, 2)) +
            file(2, "", Filler(30, 3)) + file(12, "", "note"));
    Put("pack_write", "named",
        std::string(1, 2) + file(1, "fw_V1.0.bin", Filler(40, 4)) + file(1, "a.yaffs2", "x"));
    Put("pack_write", "long-names",
        std::string(1, 1) + file(1, std::string(128, 'n') + "1", "1") +
            file(1, std::string(128, 'n') + "2", "2"));
}

void WireSeeds() {
    const std::uint32_t tx = 0x01020304;
    tNetDeviceInfo info{};
    info.uiRecordVersion = 1;
    const std::uint8_t mac[6] = {0x02, 0x51, 0x56, 0x00, 0x00, 0x01};
    std::memcpy(info.ucMac, mac, 6);
    wire::CopyText(info.szDevType, sizeof info.szDevType, "QZT1A2");
    wire::CopyText(info.szSoftVersion, sizeof info.szSoftVersion, "V2.3.0.1");
    wire::CopyText(info.szHardVersion, sizeof info.szHardVersion, "1#3-board");
    const std::uint8_t ip[4] = {127, 0, 0, 5};
    std::memcpy(info.ucIp, ip, 4);

    wire::DiscoverReq dreq{200, 0};
    wire::HelloRep hello{0, info};
    wire::TimeGetRep time{0, {2030, 1, 2, 3, 4, 5, {9, 8, 7, 6, 5}}};
    wire::StatusRep ok{0};
    wire::UpdateBegin begin{};
    begin.size = 700;
    wire::CopyText(begin.name, sizeof begin.name, "uImage");
    wire::UpdateEnd end{};
    wire::UpdateResult result{0, 700, {}};
    wire::IpSetReq ireq{};
    std::memcpy(ireq.mac, mac, 6);
    const std::uint8_t newIp[4] = {127, 0, 1, 9};
    const std::uint8_t mask[4] = {255, 255, 255, 0};
    std::memcpy(ireq.ip, newIp, 4);
    std::memcpy(ireq.mask, mask, 4);
    wire::IpSetRep irep{};
    std::memcpy(irep.mac, mac, 6);
    std::memcpy(irep.ip, newIp, 4);
    std::memcpy(irep.mask, mask, 4);
    wire::Nak nak{2, 0x22, {}};
    const std::string data = Filler(700, 5);

    const std::vector<std::pair<const char*, Bytes>> frames = {
        {"discover-req", wire::EncodeFrame(wire::MsgType::DiscoverReq, tx, dreq)},
        {"discover-rep", wire::EncodeFrame(wire::MsgType::DiscoverRep, tx, info)},
        {"hello-req", wire::EncodeFrame(wire::MsgType::HelloReq, tx)},
        {"hello-rep", wire::EncodeFrame(wire::MsgType::HelloRep, tx, hello)},
        {"time-get-rep", wire::EncodeFrame(wire::MsgType::TimeGetRep, tx, time)},
        {"time-set-req", wire::EncodeFrame(wire::MsgType::TimeSetReq, tx, time.time)},
        {"update-begin", wire::EncodeFrame(wire::MsgType::UpdateBegin, tx, begin)},
        {"update-ready", wire::EncodeFrame(wire::MsgType::UpdateReady, tx, ok)},
        {"update-data",
         wire::EncodeFrame(
             wire::MsgType::UpdateData, tx,
             std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()))},
        {"update-end", wire::EncodeFrame(wire::MsgType::UpdateEnd, tx, end)},
        {"update-result", wire::EncodeFrame(wire::MsgType::UpdateResult, tx, result)},
        {"ipset-req", wire::EncodeFrame(wire::MsgType::IpSetReq, tx, ireq)},
        {"ipset-rep", wire::EncodeFrame(wire::MsgType::IpSetRep, tx, irep)},
        {"nak", wire::EncodeFrame(wire::MsgType::Nak, tx, nak)},
        {"unknown-type", wire::EncodeFrame(static_cast<wire::MsgType>(0x60), tx, Bytes(40, 0x60))},
    };
    std::string session;
    for (const auto& [name, frame] : frames) {
        Put("wire_datagram", name, Str(frame));
        session += Str(frame);
    }
    // The decoder's input: a seed for the cuts, then a stream.
    Put("wire_decoder", "session", '\x11' + session);
    Put("wire_decoder", "garbage-between",
        '\x22' + Str(frames[3].second) + "garbageQVN" + Str(frames[4].second) + "Q" +
            Str(frames[10].second));
    Put("wire_datagram", "ipv4-text", "192.168.0.10");
    Put("wire_datagram", "mac-text", "02:51:56:AA:bb:0F");
}

void TextSeeds() {
    Put("netconf", "lab", wire::FormatNetConfig(wire::LoopbackDefaults()));
    Put("netconf", "lan", wire::FormatNetConfig(wire::LanDefaults()));
    Put("netconf", "hand-written",
        "# lab\r\n; comment\n  discovery_address = 127.255.255.255  \nbogus\nprobes=\n"
        "discovery_probes = 21\ncontrol_port = 0\nlog_file = logs/korvel.log\n");
    // ini: section length, key length, section, key, text
    Put("ini", "config",
        std::string("\x06\x09", 2) + "config" + "defaultip" +
            "\xEF\xBB\xBF[Other]\r\ndefaultip=1.1.1.1\r\n[ Config ]\r\n"
            "DefaultIP = \"192.168.0.20\"\r\n[config]\r\ndefaultip=9.9.9.9\r\n");
    Put("ini", "no-section", std::string("\x06\x09", 2) + "config" + "defaultip" + "defaultip=1\n");
    // batch_report: a record as the writer lays it out, and a damaged one
    const std::string camera =
        R"({"mac": "02:51:56:00:00:01", "ip": "127.0.1.1", "ip_after": "127.0.1.1", "type": )"
        R"("QV-LPR200", "hw": "111A", "version_before": "2.1.3", "version_after": "2.6.0", )"
        R"("version_named": "2.6", "file": "/fw/uImage", "file_bytes": 1200, "bytes_sent": )"
        R"(1200, "status": "升级成功", "detail": "", "result": "succeeded", "skipped": 0, )"
        R"("reason": "", "reason_code": 0, "reason_text": "", "percent": -1, "verify": )"
        R"("named-version", "other_mac": "", "attempts": 1, "connect_ms": 3, "send_ms": 40, )"
        R"("verify_ms": 9000, "total_ms": 9100})";
    const std::string record =
        R"({"format": "quorvane-batch-report", "version": 1, "id": "20261209-001503-120", )"
        R"("kind": "upgrade", "tool": "Quorvane", "started": "2026-12-09 00:15:03.120", )"
        R"("finished": "2026-12-09 00:16:08.500", "duration_ms": 65380, "request": {"file": )"
        R"("/fw/uImage", "file_md5": "", "file_bytes": 1200, "force": false, "sync_time": )"
        R"(true, "verify_timeout_ms": 300000, "start_ip": "", "default_ip": ""}, "summary": )"
        R"({"total": 2, "succeeded": 1, "verified": 1, "refused": 0, "failed": 0, "not_back": )"
        R"(0, "unchanged": 0, "other_version": 0, "other_device": 0, "not_started": 1}, )"
        R"("cameras": [)" +
        camera + R"(, {"mac": "02:51:56:00:00:02", "result": "none", "skipped": 19}]})";
    Put("batch_report", "record", record);
    // batch_journal: a journal cut off as the writer lays it out, one complete
    const std::string journal =
        R"({"id":"20261209-001503-120","journal":"quorvane-batch-journal","kind":"upgrade",)"
        R"("started":"2026-12-09 00:15:03.120","tool":"Quorvane","version":1})"
        "\n"
        R"({"request":{"file":"/fw/uImage","verify_timeout_ms":300000}})"
        "\n"
        R"({"queued":{"ip":"127.0.1.1","mac":"02:51:56:00:00:01"}})"
        "\n"
        R"({"queued":{"ip":"127.0.1.2","mac":"02:51:56:00:00:02"}})"
        "\n"
        R"({"camera":)" +
        camera + R"(,"proof_follows":true})" + "\n";
    Put("batch_journal", "cut-off", journal + R"({"camera":{"mac":"02:51:56:00:00:02","re)");
    Put("batch_journal", "complete",
        journal + R"({"camera":)" + camera + R"(,"proof_follows":false})" + "\n" +
            R"({"duration_ms":65380,"finished":"2026-12-09 00:16:08.500"})" + "\n");
    // neighbour_table: two adapters (10.77.1.100/24 up, 127.0.0.1/8 loopback),
    // three targets, then a table as the kernel writes it
    Put("neighbour_table", "lan",
        std::string("\x02\x0A\x4D\x01\x64\x18\x01\x7F\x00\x00\x01\x08\x03\x03"
                    "\x0A\x4D\x01\x14\x0A\x4D\x01\x64\x7F\x00\x00\x09",
                    26) +
            "IP address       HW type     Flags       HW address            Mask     Device\n"
            "10.77.1.20       0x1         0x2         02:77:00:00:02:01     *        eth0\n"
            "10.77.1.21       0x1         0x0         00:00:00:00:00:00     *        eth0\n");
    // addressing_plan: the checks byte, then a plan as the writer lays it out, and one by hand
    std::vector<addressing::PlanRow> rows(2);
    rows[0].mac = "02:51:56:00:00:01";
    rows[0].ip = 0x0A4D010Au;
    rows[0].name = "1号车道 \"入口\", 东";
    rows[1].mac = "02:51:56:00:00:02";
    rows[1].ip = 0x0A4D010Bu;
    rows[1].mask = 0xFFFFFE00u;
    rows[1].gateway = 0x0A4D0001u;
    Put("addressing_plan", "written", std::string("\x07") + addressing::WritePlan(rows));
    Put("addressing_plan", "by-hand",
        std::string("\x00") +
            "Name , IP,MAC\n\n lane 1 ,10.77.1.10, 02-51-56-00-00-0a\r\n"
            "x,10.77.1.10,02:51:56:00:00:0b\n,10.77.1.255,zz\n\"open,1,2\n");
    Put("batch_report", "damaged",
        R"({"format": "quorvane-batch-report", "version": 1, "kind": 7, "summary": "x", )"
        R"("cameras": [{"mac": 5, "result": 1, "verify": []}]})");
    // natural_compare: lengths of the first two texts, then the three texts
    Put("natural_compare", "digits", std::string("\x05\x04", 2) + "cam10" + "cam9" + "Cam09a");
    Put("natural_compare", "symbols",
        std::string("\x06\x07", 2) + "IPC-01" + "ipc_001" + "\xE6\x91\x84\xE5\x83\x8F");
    Put("natural_compare", "long-numbers",
        std::string("\x16\x16", 2) + "v0000000000000000000001" + "v1000000000000000000000" +
            "v999999999999999999999");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds OUT_DIR\n");
        return 64;
    }
    g_out = argv[1];
    const fs::path work = fs::temp_directory_path() / ("qv-seeds-" + std::to_string(::getpid()));
    PackSeeds(work);
    UpgradeSeeds(work);
    WireSeeds();
    TextSeeds();
    fs::remove_all(work);
    return 0;
}
