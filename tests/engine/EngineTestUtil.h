#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "engine/TaskDispatcher.h"

namespace enginetest {

// Polls `done` until it holds or `patience` runs out; for states that have no
// notification of their own (the finished count with no report window).
template <typename Pred>
bool Eventually(Pred done, std::chrono::milliseconds patience = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

inline tNetFileUpdate UpgradeRecord(uint16_t type) {
    tNetFileUpdate info{};
    info.UpgradeType = type;
    return info;
}

inline std::string Mac(int i) {
    char text[32];
    std::snprintf(text, sizeof(text), "00:1A:2B:3C:%02X:%02X", (i >> 8) & 0xFF, i & 0xFF);
    return text;
}

inline std::string Ip(int i) {
    return "10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
}

}  // namespace enginetest
