// Discovery of 1000 simulated cameras on loopback through the camera library.
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "BenchUtil.h"
#include "Fleet.h"
#include "korvel.h"
#include "wire/Addr.h"

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
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
    std::vector<double> times;
    std::size_t worstCount = static_cast<std::size_t>(count);
    for (int r = 0; r < rounds; ++r) {
        std::set<std::string> macs;
        const auto t0 = qvbench::Clock::now();
        Net_FindDevice(
            [](const tNetDeviceInfo* info, void* user) {
                static_cast<std::set<std::string>*>(user)->insert(wire::FormatMac(info->ucMac));
            },
            &macs);
        times.push_back(qvbench::Seconds(qvbench::Clock::now() - t0));
        worstCount = std::min(worstCount, macs.size());
        std::fprintf(stderr, "  round %d: %zu cameras in %.3f s\n", r + 1, macs.size(),
                     times.back());
    }
    Net_UNinit();
    const double worst = *std::max_element(times.begin(), times.end());
    char figure[160];
    std::snprintf(figure, sizeof figure,
                  "fewest listed %zu of %d; search median %.2f s, worst %.2f s (%d rounds)",
                  worstCount, count, qvbench::Median(times), worst, rounds);
    qvbench::Report("discovery", figure, "all listed, under 3 s",
                    worstCount == static_cast<std::size_t>(count) && worst < 3.0);
    return 0;
}
