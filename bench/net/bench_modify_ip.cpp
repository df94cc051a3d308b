// 30 ModifyDevIp calls at once against one call, on loopback.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "BenchUtil.h"
#include "Fleet.h"
#include "nimbrel.h"
#include "platform/DynLib.h"
#include "platform/ExeDir.h"

namespace {

// Runs `rounds` of one call then 30 at once against a fleet whose cameras take
// `cameraMs` to answer an IP change. Returns false when the set-up fails.
bool Measure(int rounds, std::uint32_t cameraMs, const std::string& name, bool judged) {
    constexpr int kThreads = 30;
    auto options = qvtest::FleetOptions::Cameras(kThreads);
    if (cameraMs > 0) {
        options.faults.push_back("reply-delay=" + std::to_string(cameraMs));
    }
    qvtest::Fleet fleet(options);
    if (!fleet.ok()) {
        std::fprintf(stderr, "fleet: %s\n", fleet.error().c_str());
        return false;
    }
    auto env = fleet.useConf();
    platform::DynLib lib(platform::ExeDir() + "/" + NIMBREL_LIBRARY_NAME);
    auto modify = reinterpret_cast<ModifyDevIpFn>(lib.Symbol(NIMBREL_MODIFY_DEV_IP));
    if (modify == nullptr) {
        std::fprintf(stderr, "no ModifyDevIp in %s: %s\n", NIMBREL_LIBRARY_NAME,
                     lib.Error().c_str());
        return false;
    }
    // Each round moves every camera to the other of two addresses of its own.
    const std::string& base = fleet.cameras()[0].ip;
    const std::string prefix = base.substr(0, base.rfind('.', base.rfind('.') - 1));
    auto target = [&](int cam, int round) {
        return prefix + "." + std::to_string(200 + round % 2) + "." + std::to_string(cam + 1);
    };

    std::vector<double> single, batch;
    int failures = 0;
    for (int r = 0; r < rounds; ++r) {
        auto t0 = qvbench::Clock::now();
        failures +=
            modify(fleet.cameras()[0].mac.c_str(), target(0, r).c_str(), "255.255.255.0") == 0;
        single.push_back(qvbench::Seconds(qvbench::Clock::now() - t0));

        std::vector<int> ok(kThreads, 0);
        std::vector<std::thread> threads;
        t0 = qvbench::Clock::now();
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([&, i] {
                ok[static_cast<std::size_t>(i)] =
                    modify(fleet.cameras()[static_cast<std::size_t>(i)].mac.c_str(),
                           target(i, r + 1).c_str(), "255.255.255.0");
            });
        }
        for (auto& t : threads) {
            t.join();
        }
        batch.push_back(qvbench::Seconds(qvbench::Clock::now() - t0));
        for (int v : ok) {
            failures += v == 0;
        }
        std::fprintf(stderr, "  %s round %d: one call %.1f ms, 30 at once %.1f ms\n", name.c_str(),
                     r + 1, single.back() * 1000, batch.back() * 1000);
    }
    const double ratio = qvbench::Median(batch) / qvbench::Median(single);
    char figure[200];
    std::snprintf(figure, sizeof figure,
                  "30 at once %.1f ms beside one call %.1f ms: %.2fx (median), %d failed",
                  qvbench::Median(batch) * 1000, qvbench::Median(single) * 1000, ratio, failures);
    if (judged) {
        qvbench::Report(name, figure, "<= 1.5x one call, none failed",
                        ratio <= 1.5 && failures == 0);
    } else {
        qvbench::Report(name, figure, "none (thread start-up dominates)",
                        failures == 0 ? "info" : "FAILED CALLS");
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    // Cameras that answer at once: the calls last a fraction of a millisecond on
    // loopback, so starting 30 threads is most of what this measures.
    const bool a = Measure(rounds, 0, "ModifyDevIp x30, instant", false);
    // Cameras that take 50 ms to re-address themselves, as real ones take a while:
    // here the batch shows whether the calls overlap or queue behind each other.
    const bool b = Measure(rounds, 50, "ModifyDevIp x30, 50 ms cam", true);
    return a && b ? 0 : 1;
}
