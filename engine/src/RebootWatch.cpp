#include "RebootWatch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <map>
#include <set>
#include <string>
#include <utility>

namespace engine {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Between the end of one round and the start of the next, however long the round took.
constexpr int kLeastPauseMs = 200;

// Addresses given to one call of ProbeDevices.
constexpr size_t kProbesPerCall = 1000;

std::string IpText(const uint8_t (&ip)[4]) {
    char text[16];
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u", unsigned{ip[0]}, unsigned{ip[1]},
                  unsigned{ip[2]}, unsigned{ip[3]});
    return text;
}

// What one round heard, by MAC (a search) or by address (probes); only the
// keys asked for are kept, so a host answering for thousands costs nothing.
struct Heard {
    bool byMac = false;
    std::set<std::string> wanted;
    std::map<std::string, tNetDeviceInfo> found;
};

void OnHeard(const tNetDeviceInfo* info, void* user) {
    if (info == nullptr || user == nullptr) {
        return;
    }
    auto& heard = *static_cast<Heard*>(user);
    const std::string key = heard.byMac ? MacText(info->ucMac) : IpText(info->ucIp);
    if (heard.wanted.count(key) != 0) {
        heard.found.emplace(key, *info);  // the first answer counts
    }
}

}  // namespace

RebootWatch::RebootWatch(const NetApi& net, const std::atomic<bool>& checking, LiveFn live,
                         ProveFn prove)
    : net_(net), checking_(checking), live_(std::move(live)), prove_(std::move(prove)) {}

RebootWatch::~RebootWatch() {
    Stop();
}

void RebootWatch::Start() {
    std::lock_guard lock(mutex_);
    if (started_ || quit_) {
        return;
    }
    try {
        thread_ = std::thread([this] { Run(); });
        started_ = true;
    } catch (const std::exception&) {
        // No thread: Add proves each camera at once, unchecked.
    }
}

void RebootWatch::Add(std::unique_ptr<Camera> camera) {
    {
        std::lock_guard lock(mutex_);
        if (started_ && !quit_) {
            try {
                incoming_.push_back(std::move(camera));
                changed_.notify_all();
                return;
            } catch (const std::bad_alloc&) {
                // Falls through: the proof goes out without a check.
            }
        }
    }
    if (camera) {
        if (!checking_) {
            camera->outcome.verify = VerifyResult::Stopped;
        }
        Prove(*camera);
    }
}

void RebootWatch::Wake() {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
}

void RebootWatch::Stop() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

void RebootWatch::Prove(Camera& camera) noexcept {
    try {
        prove_(camera);
    } catch (const std::exception&) {
        // A receiver that cannot take the proof loses it; the watch goes on.
    }
}

void RebootWatch::Run() {
    std::vector<Entry> watching;
    int round = 0;
    auto roundStart = SteadyClock::now();
    for (;;) {
        bool quit = false;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return quit_ || !incoming_.empty() || !watching.empty(); });
            quit = quit_;
            for (auto& camera : incoming_) {
                Entry entry;
                entry.camera = std::move(camera);
                Camera& c = *entry.camera;
                entry.check = std::make_unique<RebootCheck>(net_, c.fields, c.task, c.outcome,
                                                            live_, c.timing);
                watching.push_back(std::move(entry));
            }
            incoming_.clear();
        }
        if (quit || !checking_) {
            for (auto& entry : watching) {
                entry.check->Stop();
            }
        } else {
            roundStart = SteadyClock::now();
            try {
                LookRound(watching, round++);
            } catch (const std::exception&) {
                // Nothing was learnt this round; the waits go on to their end.
            }
        }
        // Proven in the order they came to an end, each once.
        auto keep = std::stable_partition(watching.begin(), watching.end(),
                                          [](const Entry& e) { return !e.check->Done(); });
        for (auto it = keep; it != watching.end(); ++it) {
            it->check.reset();
            Prove(*it->camera);
        }
        watching.erase(keep, watching.end());
        if (watching.empty()) {
            round = 0;
            probesDeaf_ = false;
            searchHeard_ = false;
            if (quit) {
                return;
            }
            continue;
        }
        // Rounds begin a pause apart (a long search is no reason to wait a
        // whole pause more), cut short by a stop; never past a deadline.
        const int pauseMs = watching.front().camera->timing.pauseMs;
        auto until = std::max(
            roundStart + std::chrono::milliseconds(pauseMs),
            SteadyClock::now() + std::chrono::milliseconds(std::min(pauseMs, kLeastPauseMs)));
        for (const auto& entry : watching) {
            until = std::min(until, entry.check->Deadline());
        }
        std::unique_lock lock(mutex_);
        changed_.wait_until(lock, until, [&] { return quit_ || !checking_; });
    }
}

void RebootWatch::LookRound(std::vector<Entry>& watching, int round) {
    // The cameras of one batch share their timing.
    const VerifyTiming& timing = watching.front().camera->timing;
    const bool canProbe = net_.ProbeDevices != nullptr || net_.ProbeDevice != nullptr;
    // Probes that go unanswered while searches find the cameras do not reach
    // them (one socket serving many, as in the loopback lab): searches, with
    // probes every fourth round in case they reach some after all.
    const bool bySearch =
        net_.FindDevice != nullptr &&
        (!canProbe || (probesDeaf_ && round % 4 != 0) ||
         (round > 0 && timing.searchEveryRounds > 0 && round % timing.searchEveryRounds == 0));
    Heard heard;
    heard.byMac = bySearch;
    for (const auto& entry : watching) {
        if (!entry.check->Done()) {  // some had nothing to check from the start
            heard.wanted.insert(bySearch ? entry.check->Mac() : entry.check->Ip());
        }
    }
    if (heard.wanted.empty()) {
        return;
    }
    if (bySearch) {
        (void)net_.FindDevice(&OnHeard, &heard);
    } else if (net_.ProbeDevices != nullptr) {
        const std::vector<std::string> ips(heard.wanted.begin(), heard.wanted.end());
        for (size_t from = 0; from < ips.size() && checking_; from += kProbesPerCall) {
            std::vector<const char*> batch;
            for (size_t i = from; i < std::min(ips.size(), from + kProbesPerCall); ++i) {
                batch.push_back(ips[i].c_str());
            }
            (void)net_.ProbeDevices(batch.data(), static_cast<int>(batch.size()),
                                    timing.probeTimeoutMs, &OnHeard, &heard);
        }
    } else if (net_.ProbeDevice != nullptr) {
        for (const auto& ip : heard.wanted) {
            if (!checking_) {
                break;
            }
            tNetDeviceInfo info{};
            if (net_.ProbeDevice(ip.c_str(), timing.probeTimeoutMs, &info) == 0) {
                heard.found.emplace(ip, info);  // the library kept what answered there
            }
        }
    }
    if (bySearch) {
        searchHeard_ = !heard.found.empty();
    } else {
        probesDeaf_ = heard.found.empty() && searchHeard_;
    }
    for (auto& entry : watching) {
        const auto it = heard.found.find(bySearch ? entry.check->Mac() : entry.check->Ip());
        entry.check->Seen(it != heard.found.end() ? &it->second : nullptr);
    }
}

}  // namespace engine
