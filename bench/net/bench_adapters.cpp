// A search on every adapter against one, in the namespace lab's PC with
// several adapters (lab/netns-lab.sh --adapters N): the legs run side by side,
// so more adapters must not make a search slower.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "korvel.h"
#include "wire/Addr.h"

namespace {

// One search: its time in seconds, and the cameras found.
double Search(std::size_t* found) {
    std::set<std::string> macs;
    const auto t0 = qvbench::Clock::now();
    Net_FindDevice(
        [](const tNetDeviceInfo* info, void* user) {
            static_cast<std::set<std::string>*>(user)->insert(wire::FormatMac(info->ucMac));
        },
        &macs);
    *found = macs.size();
    return qvbench::Seconds(qvbench::Clock::now() - t0);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const char* one = argc > 2 ? argv[2] : "eth0";
    const char* adapters = std::getenv("QV_LAB_ADAPTERS");
    const char* ips = std::getenv("QV_LAB_IPS");
    if (rounds < 1 || ips == nullptr) {
        std::fprintf(stderr,
                     "usage: lab/netns-lab.sh --adapters 4 -- bench_adapters [ROUNDS] [ONE]\n");
        return 2;
    }
    std::size_t cameras = 0;
    for (const char* p = ips; *p != '\0'; ++p) {
        cameras += (*p != ' ' && (p == ips || p[-1] == ' ')) ? 1 : 0;
    }
    if (Net_Init() != 0) {
        std::fprintf(stderr, "Net_Init failed\n");
        return 1;
    }
    std::vector<double> every;
    std::vector<double> single;
    std::size_t fewest = cameras;
    for (int r = 0; r < rounds; ++r) {
        std::size_t found = 0;
        Net_SetInterface("");  // every adapter
        every.push_back(Search(&found));
        fewest = std::min(fewest, found);
        Net_SetInterface(one);
        single.push_back(Search(&found));
        fewest = std::min(fewest, found);
        std::fprintf(stderr, "  round %d: every adapter %.3f s, %s alone %.3f s\n", r + 1,
                     every.back(), one, single.back());
    }
    Net_UNinit();
    const double ratio = qvbench::Median(every) / std::max(qvbench::Median(single), 1e-9);
    char figure[200];
    std::snprintf(figure, sizeof figure,
                  "%s adapters %.2f s, one %.2f s (medians of %d): %.2fx; fewest found %zu of %zu",
                  adapters ? adapters : "?", qvbench::Median(every), qvbench::Median(single),
                  rounds, ratio, fewest, cameras);
    qvbench::Report("search, adapters", figure, "at most 1.1x one adapter, all found",
                    ratio <= 1.1 && fewest == cameras);
    return 0;
}
