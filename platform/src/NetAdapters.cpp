#include "platform/NetAdapters.h"

namespace platform {

uint32_t DirectedBroadcast(const NetAdapter& adapter) {
    if (adapter.prefix < 1 || adapter.prefix > 30) {
        return 0;
    }
    const uint32_t hostBits = 0xFFFFFFFFu >> adapter.prefix;
    return adapter.address | hostBits;
}

std::string FormatIpv4(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

bool CarriesSearch(const NetAdapter& adapter) {
    return adapter.up && adapter.broadcast && !adapter.loopback && !adapter.pointToPoint &&
           adapter.address != 0;
}

}  // namespace platform
