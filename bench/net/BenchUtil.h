#pragma once
// Small helpers shared by the network benchmarks.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace qvbench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

inline double Median(std::vector<double> v) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One result line: the figure, its reference and goal, and whether the goal holds.
inline void Report(const std::string& name, const std::string& figure, const std::string& goal,
                   const char* verdict) {
    std::printf("%-28s %-66s goal: %-32s %s\n", name.c_str(), figure.c_str(), goal.c_str(),
                verdict);
    std::fflush(stdout);
}

inline void Report(const std::string& name, const std::string& figure, const std::string& goal,
                   bool met) {
    Report(name, figure, goal, met ? "MET" : "NOT MET");
}

}  // namespace qvbench
