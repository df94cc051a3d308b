// upgrade_bench make DIR [BYTES]
//     writes a kernel, a file system and three application images for three
//     hardware versions into DIR and packs them into DIR/multi.bin, a
//     multi-application pack at most BYTES long (default: the 36,700,160-byte
//     size limit; a smoke run takes a small one).
// upgrade_bench prep RUNS PACK QUORVANE_PACK OUTDIR
//     times, in turn and after one warm-up round, the preparation of an
//     upgrade request with PACK for three hardware versions (unpack, three
//     compositions, size checks) inside this process, and the same work done
//     by quorvane-pack: unpack, then one create per image. Prints the medians.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchProc.h"
#include "pack/PackLog.h"
#include "pack/UpdatePack.h"
#include "platform/Md5.h"
#include "upgrade/UpgradeRequest.h"

namespace fs = std::filesystem;

namespace {

const char* const kType = "QV-BENCH";
const char* const kSoft = "2.3.1_260101";
const char* const kHw[] = {"101A", "102A", "103A"};
const char* const kCommon[] = {"uImage", "rootfs.cramfs"};

std::string AppName(int k) {
    return "app_V2.3_YJ10" + std::to_string(k + 1) + "_" + kType + ".jffs2";
}

// The pack writer takes one application image per pack, so the several images
// of a multi-application pack are laid out here.
bool WriteMultiPack(const std::string& dir, const std::vector<std::string>& names) {
    std::vector<tPackFileInfo> table(names.size());
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto size = fs::file_size(dir + "/" + names[i]);
        table[i] = {};
        table[i].uiFileSize = static_cast<std::uint32_t>(size);
        table[i].ucFileType = names[i].find(".jffs2") != std::string::npos ? PACK_FILE_APP
                              : names[i] == "uImage"                       ? PACK_FILE_KERNEL
                                                                           : PACK_FILE_FS;
        std::memcpy(table[i].szFileName, names[i].data(), names[i].size());
        total += size;
    }
    tPackHead head{};
    head.uiPackMagic = PACK_MAGIC_MULTI;
    head.uifileNum = static_cast<std::uint16_t>(names.size());
    head.PackType = 1;
    head.uiDataLen = static_cast<std::uint32_t>(total);
    std::FILE* out = std::fopen((dir + "/multi.bin").c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    platform::Md5 md5;
    auto put = [&](const void* p, std::size_t n) {
        md5.update(p, n);
        return std::fwrite(p, 1, n, out) == n;
    };
    bool ok = put(&head, sizeof head) && put(table.data(), table.size() * sizeof(tPackFileInfo));
    std::vector<char> buf(1 << 20);
    for (std::size_t i = 0; ok && i < names.size(); ++i) {
        std::FILE* in = std::fopen((dir + "/" + names[i]).c_str(), "rb");
        ok = in != nullptr;
        for (std::size_t n = 0; ok && (n = std::fread(buf.data(), 1, buf.size(), in)) > 0;) {
            ok = put(buf.data(), n);
        }
        if (in != nullptr) {
            std::fclose(in);
        }
    }
    const platform::Digest digest = md5.finish();
    ok = ok && std::fwrite(digest.data(), 1, digest.size(), out) == digest.size();
    return std::fclose(out) == 0 && ok;
}

int Make(const std::string& dir, std::size_t limit) {
    const std::size_t overhead = sizeof(tPackHead) + 5 * sizeof(tPackFileInfo) + PACK_DIGEST_LEN;
    // 3 and 8 MiB of the 35 at the limit, in the same proportions below it.
    const std::size_t kernel = limit / 35 * 3;
    const std::size_t rootfs = limit / 35 * 8;
    const std::size_t app = (limit - overhead - kernel - rootfs) / 3;
    std::vector<std::pair<std::string, std::size_t>> files = {{kCommon[0], kernel},
                                                              {kCommon[1], rootfs}};
    for (int k = 0; k < 3; ++k) {
        files.emplace_back(AppName(k), app);
    }
    std::vector<std::string> names;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!bench::WriteFiller(dir + "/" + files[i].first, files[i].second,
                                static_cast<std::uint32_t>(i + 11))) {
            std::fprintf(stderr, "cannot write %s\n", files[i].first.c_str());
            return 1;
        }
        names.push_back(files[i].first);
    }
    if (!WriteMultiPack(dir, names)) {
        std::fprintf(stderr, "cannot write %s/multi.bin\n", dir.c_str());
        return 1;
    }
    std::printf("%s/multi.bin\n", dir.c_str());
    return 0;
}

// One request for three cameras of three hardware versions; wall time in ms.
double PrepareOnce(const std::string& pack, bool* ok) {
    upgrade::RequestEnv env;
    env.showMessage = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
    upgrade::CUpgradeRequest request(env);
    std::vector<upgrade::SelectedCamera> cameras;
    for (const char* hw : kHw) {
        cameras.push_back({kType, kSoft, hw});
    }
    const auto start = std::chrono::steady_clock::now();
    *ok = request.Group(cameras) == upgrade::GroupResult::Ok &&
          request.PrepareUpgradeFile(pack, false) && request.UpgradeFiles().size() == 3;
    const auto end = std::chrono::steady_clock::now();
    request.DiscardWorkspace();
    return std::chrono::duration<double, std::milli>(end - start).count();
}

// quorvane-pack doing the same: unpack, then one single pack per image.
double ReferenceOnce(const std::string& qp, const std::string& pack, const std::string& out,
                     bool* ok) {
    std::error_code ec;
    fs::remove_all(out, ec);
    fs::create_directories(out, ec);
    std::vector<std::vector<std::string>> commands = {{qp, "unpack", pack, out}};
    for (int k = 0; k < 3; ++k) {
        commands.push_back({qp, "create", out + "/Pack" + std::to_string(k) + ".bin",
                            out + "/" + kCommon[0], out + "/" + kCommon[1],
                            out + "/" + AppName(k)});
    }
    double ms = 0;
    *ok = true;
    for (auto& c : commands) {
        std::vector<char*> argv;
        for (auto& a : c) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        bool one = false;
        ms += bench::RunOnce(argv.data(), &one);
        *ok = *ok && one;
    }
    return ms;
}

int Prep(int runs, const std::string& pack, const std::string& qp, const std::string& out) {
    std::vector<double> ours;
    std::vector<double> reference;
    for (int round = -1; round < runs; ++round) {  // round -1 warms the caches
        bool ok1 = false;
        bool ok2 = false;
        const double a = PrepareOnce(pack, &ok1);
        const double b = ReferenceOnce(qp, pack, out, &ok2);
        if (!ok1 || !ok2) {
            std::fprintf(stderr, "%s failed\n", ok1 ? "quorvane-pack" : "the preparation");
            return 1;
        }
        if (round >= 0) {
            ours.push_back(a);
            reference.push_back(b);
        }
    }
    std::printf("%.2f\n%.2f\n", bench::Median(ours), bench::Median(reference));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "make") == 0) {
        const unsigned long long limit =
            argc == 4 ? std::strtoull(argv[3], nullptr, 10) : UPGRADE_FILE_SIZE_LIMIT;
        if (limit >= (64u << 10) && limit <= UPGRADE_FILE_SIZE_LIMIT) {
            return Make(argv[2], static_cast<std::size_t>(limit));
        }
    }
    if (argc == 6 && std::strcmp(argv[1], "prep") == 0) {
        const int runs = std::atoi(argv[2]);
        if (runs > 0 && runs <= 1000) {
            return Prep(runs, argv[3], argv[4], argv[5]);
        }
    }
    std::fprintf(
        stderr,
        "usage: upgrade_bench make DIR [BYTES] | upgrade_bench prep RUNS PACK QUORVANE_PACK "
        "OUTDIR\n");
    return 64;
}
