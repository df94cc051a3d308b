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

std::vector<NetAdapter> ChosenAdapters(const std::vector<NetAdapter>& adapters,
                                       const std::string& nameOrAddress) {
    std::vector<NetAdapter> out;
    for (const auto& a : adapters) {
        if (a.name == nameOrAddress || FormatIpv4(a.address) == nameOrAddress) {
            out.push_back(a);
        }
    }
    return out;
}

std::string DescribeAdapter(const NetAdapter& adapter) {
    return adapter.name + " " + FormatIpv4(adapter.address) + "/" + std::to_string(adapter.prefix);
}

bool InSubnet(const NetAdapter& adapter, uint32_t address) {
    if (adapter.prefix <= 0) {
        return true;
    }
    const uint32_t mask = adapter.prefix >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> adapter.prefix);
    return (adapter.address & mask) == (address & mask);
}

}  // namespace platform
