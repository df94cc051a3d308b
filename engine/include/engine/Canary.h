#pragma once

#include <cstdint>

// Canary first: which cameras of an upgrade batch go first. The others wait
// until every one of them has taken the file and, when the batch checks after
// reboot, come back with a new version; a canary that fails or is not proven
// holds them (ReasonCode::Held), and every canary not yet started too. Off
// when neither is set.
struct Canary {
    static constexpr uint32_t kMaxCount = 1000;
    // The first `count` cameras queued (all of a smaller batch); at most kMaxCount.
    uint32_t count = 0;
    // The first camera queued of each hardware version (ExpectCamera's hw;
    // a camera without one counts as one more version); `count` is then unused.
    bool perHardware = false;

    bool On() const { return count > 0 || perHardware; }
    bool operator==(const Canary&) const = default;
};
