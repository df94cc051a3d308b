// Checking 254 target addresses for hosts that hold them, as a plan or a
// numbering does before anything is sent: runs inside the namespace lab
// (lab/netns-lab.sh), where the cameras and a server answer ARP on a real
// bridge. The addresses are the /24 of the first camera; every camera and
// the hosts given with --host must be found.
//   bench_lan_check [--rounds N] [--host IP]...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "addressing/Address.h"
#include "platform/NeighbourProbe.h"

namespace {

// What one check may wait for answers, as the dialog's round does.
constexpr std::chrono::milliseconds kRound{600};
constexpr double kGoalS = 2.0;

}  // namespace

int main(int argc, char** argv) {
    int rounds = 3;
    std::set<std::uint32_t> hosts;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--host" && i + 1 < argc) {
            if (const auto ip = addressing::ParseIpv4(argv[++i])) {
                hosts.insert(*ip);
            }
        } else {
            std::fprintf(stderr, "usage: bench_lan_check [--rounds N] [--host IP]...\n");
            return 2;
        }
    }
    const char* labIps = std::getenv("QV_LAB_IPS");
    if (labIps == nullptr) {
        std::fprintf(stderr, "bench_lan_check runs inside lab/netns-lab.sh\n");
        return 77;
    }
    std::istringstream in(labIps);
    for (std::string ip; in >> ip;) {
        if (const auto n = addressing::ParseIpv4(ip)) {
            hosts.insert(*n);
        }
    }
    if (hosts.empty()) {
        std::fprintf(stderr, "no camera addresses in QV_LAB_IPS\n");
        return 2;
    }
    const std::uint32_t net = *hosts.begin() & 0xFFFFFF00u;
    std::vector<std::uint32_t> targets;
    for (std::uint32_t h = 1; h <= 254; ++h) {
        targets.push_back(net | h);
    }
    std::vector<double> times;
    std::size_t worstFound = hosts.size();
    for (int r = 0; r < rounds; ++r) {
        const auto t0 = qvbench::Clock::now();
        const platform::NeighbourProbe probe = platform::ProbeNeighbours(targets, kRound);
        times.push_back(qvbench::Seconds(qvbench::Clock::now() - t0));
        if (!probe.checked) {
            std::fprintf(stderr, "the LAN could not be asked: %s\n", probe.why.c_str());
            return 1;
        }
        std::size_t found = 0;
        for (const std::uint32_t h : hosts) {
            found += probe.answered.count(h);
        }
        worstFound = std::min(worstFound, found);
    }
    const double worst = *std::max_element(times.begin(), times.end());
    char figure[160];
    std::snprintf(figure, sizeof(figure),
                  "254 addresses in %.2f s (median %.2f s), hosts %zu of %zu", worst,
                  qvbench::Median(times), worstFound, hosts.size());
    qvbench::Report("address check, 254", figure, "<= 2 s, every host found",
                    worst <= kGoalS && worstFound == hosts.size());
    // A host missed is a fault of the check, not a slow figure.
    return worstFound == hosts.size() ? 0 : 1;
}
