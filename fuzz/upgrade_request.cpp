// The upgrade request on a chosen file and a set of ticked cameras.
// Input: a mode byte (bit 0 force, bit 1 append the digest of the file, bits
// 2-3 the file's name, bits 4-5 the cameras' type, bit 6 their version), a
// camera byte (bits 0-1: one to four cameras; its six high bits, then the
// mode's, pick each camera's hardware version, three bits each), then the
// file's bytes.
// Properties: unless forced, no camera is given a file whose application
// entries (types 1 and 6) name another device type or another hardware code
// than its own; every camera of an accepted request has a file, and on the
// pack routes it is within the size limit; nothing is written outside the
// workspace, the chosen file is unchanged, and the workspace is gone once the
// request is refused or discarded.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzUtil.h"
#include "pack/UpdataFileCheck.h"
#include "pack/UpdatePack.h"
#include "platform/Workspace.h"
#include "upgrade/UpgradeRequest.h"

namespace fs = std::filesystem;

namespace {

const char* const kNames[] = {"fw.bin", "fw.tgz", "uImage", "x_KQM-RVT3305.jffs2"};
const char* const kTypes[] = {"KQM-RVT3305", "QV-QZT200", "LWZ484-MOE", ""};
const char* const kHardware[] = {"101A", "102B", "111", "201", "1#1", "10", "YJ1", "103"};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return s;
}

// An application image made for `type`: named for it in any letter case, or
// for a model that type accepts, or by the series code.
bool ForType(CUpdataFileCheck& rule, const std::string& name, const std::string& type) {
    const auto has = [](const std::string& s, const char* part) {
        return s.find(part) != std::string::npos;
    };
    return Lower(name).find(Lower(type)) != std::string::npos ||
           (has(type, "KQM-RVT3305") && has(name, "KQM-RVT7705")) ||
           (has(type, "RVT7705") && has(name, "KQM-RVT3305")) ||
           (type == "LWZ484-MOE" && has(name, "LWZ484-SOE")) || rule.MatchSeriesCode(name, type);
}

// Every file under `dir` with its bytes' digest, paths relative to it.
std::vector<std::string> Snapshot(const std::string& dir) {
    std::vector<std::string> all;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string rel = fs::relative(it->path(), dir, ec).string();
        all.push_back(rel +
                      (it->is_regular_file(ec) ? " " + qvfuzz::Md5(ReadAll(it->path())) : ""));
    }
    std::sort(all.begin(), all.end());
    return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qvfuzz::Input in(data, size);
    const std::uint8_t mode = in.Byte();
    const std::uint8_t cams = in.Byte();
    const bool force = (mode & 1) != 0;
    std::string file = in.Rest();
    if ((mode & 2) != 0) {
        file += qvfuzz::Md5(file);
    }
    const std::string name = kNames[(mode >> 2) & 3];
    const std::string type = kTypes[(mode >> 4) & 3];
    const std::string soft = (mode & 0x40) != 0 ? "2.0.1_x" : "2.3.1_180101";
    // Cameras: one to four, each hardware version picked by three bits.
    std::vector<upgrade::SelectedCamera> ticked;
    const unsigned count = 1u + (cams & 3u);
    const unsigned picks = static_cast<unsigned>(cams >> 2) | (static_cast<unsigned>(mode) << 6);
    for (unsigned i = 0; i < count; ++i) {
        ticked.push_back({type, soft, kHardware[(picks >> (3 * i)) & 7]});
    }

    qvfuzz::Scratch scratch;
    const std::string inDir = scratch / "in";
    const std::string tmp = scratch / "tmp";
    fs::create_directories(inDir);
    fs::create_directories(tmp);
    const std::string chosen = inDir + "/" + name;
    std::ofstream(chosen, std::ios::binary).write(file.data(), static_cast<long>(file.size()));
    ::setenv("TMPDIR", tmp.c_str(), 1);
    const std::vector<std::string> before = Snapshot(inDir);

    upgrade::CUpgradeRequest req;
    FUZZ_CHECK(req.Group(ticked) == upgrade::GroupResult::Ok);
    const bool ok = req.PrepareUpgradeFile(chosen, force);
    const std::string ws = req.WorkDir();
    if (ok) {
        CUpdataFileCheck rule;
        for (const upgrade::SelectedCamera& cam : ticked) {
            const std::string* sent = req.FileFor(cam.hardVersion);
            FUZZ_CHECK(sent != nullptr);
            // The chosen file itself, or a file inside this request's workspace.
            FUZZ_CHECK(*sent == chosen || (!ws.empty() && sent->rfind(ws + "/", 0) == 0));
            FUZZ_CHECK(sent->size() <= upgrade::kMaxSendPath);
            if (name == "fw.bin") {
                FUZZ_CHECK(rule.CheckFileSize(*sent) == 1);
            }
            tPackHead head{};
            const auto table = CheckFileMD5(sent->c_str(), &head);
            for (unsigned i = 0; !force && table && i < head.uifileNum; ++i) {
                if (table[i].ucFileType != PACK_FILE_APP && table[i].ucFileType != PACK_FILE_BIN) {
                    continue;
                }
                const std::string app = PackEntryName(table[i]);
                FUZZ_CHECK(ForType(rule, app, type));
                FUZZ_CHECK(rule.HardwareCode(app).empty() ||
                           rule.MatchHardVersion(app, cam.hardVersion));
            }
        }
    } else {
        FUZZ_CHECK(ws.empty() || !fs::exists(ws));
    }
    req.DiscardWorkspace();
    // Nothing left in the temporary directory but the private folder, empty.
    FUZZ_CHECK(
        qvfuzz::ListDir(tmp) ==
            std::vector<std::string>{fs::path(platform::WorkspaceRoot()).filename().string()} ||
        qvfuzz::ListDir(tmp).empty());
    FUZZ_CHECK(qvfuzz::ListDir(platform::WorkspaceRoot()).empty());
    FUZZ_CHECK(Snapshot(inDir) == before);
    FUZZ_CHECK(qvfuzz::ListDir(scratch.Dir()) == (std::vector<std::string>{"in", "tmp"}));
    return 0;
}
