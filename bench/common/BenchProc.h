#pragma once

// What the benchmark programs share: filler files, timing a child process,
// medians.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace bench {

// Deterministic bytes that no compressor or deduplicator can shrink.
inline bool WriteFiller(const std::string& path, std::size_t size, std::uint32_t seed) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    std::vector<std::uint32_t> block(1 << 16);
    std::uint32_t x = seed | 1u;
    std::size_t left = size;
    while (left > 0) {
        for (auto& w : block) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            w = x;
        }
        const std::size_t n = std::min(left, block.size() * sizeof(std::uint32_t));
        if (std::fwrite(block.data(), 1, n, f) != n) {
            std::fclose(f);
            return false;
        }
        left -= n;
    }
    return std::fclose(f) == 0;
}

// One run of argv with stdout and stderr sent to /dev/null; wall time in ms.
inline double RunOnce(char** argv, bool* ok) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    int status = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv, environ);
    if (rc == 0) {
        while (waitpid(pid, &status, 0) < 0) {
        }
    }
    const auto end = std::chrono::steady_clock::now();
    posix_spawn_file_actions_destroy(&actions);
    *ok = rc == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return std::chrono::duration<double, std::milli>(end - start).count();
}

inline double Median(std::vector<double> v) {
    if (v.empty()) {
        return 0.0;
    }
    std::sort(v.begin(), v.end());
    const std::size_t mid = v.size() / 2;
    return v.size() % 2 == 1 ? v[mid] : (v[mid - 1] + v[mid]) / 2.0;
}

}  // namespace bench
