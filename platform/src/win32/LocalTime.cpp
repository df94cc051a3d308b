#include "platform/LocalTime.h"

#include <windows.h>

namespace platform {

LocalTime Now() {
    SYSTEMTIME st{};
    ::GetLocalTime(&st);
    LocalTime lt;
    lt.year = st.wYear;
    lt.month = st.wMonth;
    lt.day = st.wDay;
    lt.hour = st.wHour;
    lt.minute = st.wMinute;
    lt.second = st.wSecond;
    lt.millisecond = st.wMilliseconds;
    return lt;
}

}  // namespace platform
