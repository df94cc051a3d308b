// pack_bench make DIR [BYTES]
//     writes uImage, rootfs.cramfs and app_bench.jffs2 into DIR and packs them
//     into DIR/bench.bin, which is exactly BYTES long (default: the
//     36,700,160-byte size limit; a smoke run takes a small one).
// pack_bench time RUNS CMD [ARG...] [:: CMD [ARG...]]...
//     runs each command RUNS times, in turn, after one warm-up round, with
//     output discarded, and prints each one's median wall time in ms, a line
//     per command.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchProc.h"
#include "pack/PackLog.h"
#include "pack/UpdataFileCheck.h"
#include "pack/UpdatePack.h"

namespace {

using bench::Median;
using bench::RunOnce;
using bench::WriteFiller;

constexpr std::uint64_t kPackSize = UPGRADE_FILE_SIZE_LIMIT;
constexpr std::size_t kFiles = 3;

int Make(const std::string& dir, std::uint64_t packSize) {
    const std::uint64_t data =
        packSize - sizeof(tPackHead) - kFiles * sizeof(tPackFileInfo) - PACK_DIGEST_LEN;
    // 3 and 12 MiB of the 35 at the limit, in the same proportions below it.
    const auto kernel = static_cast<std::size_t>(packSize * 3 / 35);
    const auto fs = static_cast<std::size_t>(packSize * 12 / 35);
    const std::size_t app = static_cast<std::size_t>(data) - kernel - fs;
    const std::vector<std::pair<std::string, std::size_t>> files = {
        {dir + "/uImage", kernel}, {dir + "/rootfs.cramfs", fs}, {dir + "/app_bench.jffs2", app}};
    std::vector<PackPathSlot> slots(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!WriteFiller(files[i].first, files[i].second, static_cast<std::uint32_t>(i + 7)) ||
            files[i].first.size() >= PACK_PATH_SLOT) {
            std::fprintf(stderr, "cannot write %s\n", files[i].first.c_str());
            return 1;
        }
        std::memset(slots[i], 0, PACK_PATH_SLOT);
        std::memcpy(slots[i], files[i].first.data(), files[i].first.size());
    }
    SetPackLogSink([](const std::string& line) { std::fputs(line.c_str(), stderr); });
    tPackHead head{};
    head.uiPackMagic = PACK_MAGIC_SINGLE;
    head.uifileNum = kFiles;
    head.PackType = 1;
    const std::string pack = dir + "/bench.bin";
    const int rc = UpdatePack(slots.data(), pack.c_str(), &head, static_cast<int>(kFiles));
    if (rc != 0) {
        std::fprintf(stderr, "UpdatePack failed: %d\n", rc);
        return 1;
    }
    std::printf("%s\n", pack.c_str());
    return 0;
}

// Commands are separated by "::" and run in turn, one run each per round, so
// that a load that comes and goes falls on all of them alike.
int Time(int runs, int argc, char** argv) {
    std::vector<std::vector<char*>> commands(1);
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "::") == 0) {
            commands.emplace_back();
        } else {
            commands.back().push_back(argv[i]);
        }
    }
    for (auto& c : commands) {
        if (c.empty()) {
            std::fprintf(stderr, "empty command\n");
            return 64;
        }
        c.push_back(nullptr);
    }
    std::vector<std::vector<double>> times(commands.size());
    for (int round = -1; round < runs; ++round) {  // round -1 warms the caches
        for (std::size_t c = 0; c < commands.size(); ++c) {
            bool ok = false;
            const double ms = RunOnce(commands[c].data(), &ok);
            if (!ok) {
                std::fprintf(stderr, "command failed: %s\n", commands[c][0]);
                return 1;
            }
            if (round >= 0) {
                times[c].push_back(ms);
            }
        }
    }
    for (const auto& t : times) {
        std::printf("%.2f\n", Median(t));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "make") == 0) {
        const std::uint64_t size = argc == 4 ? std::strtoull(argv[3], nullptr, 10) : kPackSize;
        if (size >= (64u << 10) && size <= kPackSize) {
            return Make(argv[2], size);
        }
    }
    if (argc >= 4 && std::strcmp(argv[1], "time") == 0) {
        const int runs = std::atoi(argv[2]);
        if (runs > 0 && runs <= 1000) {
            return Time(runs, argc - 3, argv + 3);
        }
    }
    std::fprintf(stderr,
                 "usage: pack_bench make DIR [BYTES] | pack_bench time RUNS CMD [ARG...] [:: CMD "
                 "[ARG...]]...\n");
    return 64;
}
