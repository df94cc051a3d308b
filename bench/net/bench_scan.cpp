// A search by address of a whole /24 (254 addresses) on loopback, through the
// camera library: every camera of the block found, and how long it takes.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "Fleet.h"
#include "korvel.h"
#include "wire/Addr.h"

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 20;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    if (count < 1 || count > 254 || rounds < 1) {
        std::fprintf(stderr, "usage: bench_scan [CAMERAS 1..254] [ROUNDS]\n");
        return 2;
    }
    qvtest::Fleet fleet(qvtest::FleetOptions::Cameras(count));
    if (!fleet.ok()) {
        std::fprintf(stderr, "fleet: %s\n", fleet.error().c_str());
        return 1;
    }
    auto env = fleet.useConf();
    if (Net_Init() != 0) {
        std::fprintf(stderr, "Net_Init failed\n");
        return 1;
    }
    // The fleet's cameras sit from .1 of its block's first /24 on.
    const auto first = wire::ParseIpv4(fleet.cameras().front().ip).value();
    std::vector<std::array<std::uint8_t, 4>> asked;
    for (int host = 1; host <= 254; ++host) {
        asked.push_back({first[0], first[1], first[2], static_cast<std::uint8_t>(host)});
    }
    std::vector<double> times;
    std::size_t fewest = static_cast<std::size_t>(count);
    for (int r = 0; r < rounds; ++r) {
        std::set<std::string> macs;
        const auto t0 = qvbench::Clock::now();
        const int rc = Net_ScanDevice(
            reinterpret_cast<const std::uint8_t(*)[4]>(asked.data()),
            static_cast<int>(asked.size()),
            [](const tNetDeviceInfo* info, void* user) {
                static_cast<std::set<std::string>*>(user)->insert(wire::FormatMac(info->ucMac));
            },
            &macs);
        times.push_back(qvbench::Seconds(qvbench::Clock::now() - t0));
        if (rc != 0) {
            std::fprintf(stderr, "Net_ScanDevice: %d\n", rc);
            Net_UNinit();
            return 1;
        }
        fewest = std::min(fewest, macs.size());
        std::fprintf(stderr, "  round %d: %zu cameras in %.3f s\n", r + 1, macs.size(),
                     times.back());
    }
    Net_UNinit();
    const double worst = *std::max_element(times.begin(), times.end());
    char figure[160];
    std::snprintf(figure, sizeof figure,
                  "254 addresses: fewest found %zu of %d; median %.2f s, worst %.2f s (%d rounds)",
                  fewest, count, qvbench::Median(times), worst, rounds);
    qvbench::Report("scan, loopback", figure, "all found, at most 3 s",
                    fewest == static_cast<std::size_t>(count) && worst <= 3.0);
    return 0;
}
