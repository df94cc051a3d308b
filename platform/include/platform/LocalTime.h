#pragma once

#include <functional>

namespace platform {

// Local calendar time with milliseconds, as the system clock gives it.
struct LocalTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

LocalTime Now();

// A source of local time; tests inject their own.
using Clock = std::function<LocalTime()>;

}  // namespace platform
