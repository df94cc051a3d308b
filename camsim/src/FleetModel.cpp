#include "camsim/FleetModel.h"

#include <charconv>
#include <cstdio>
#include <ctime>
#include <set>

#include <nlohmann/json.hpp>

#include "wire/Addr.h"

namespace camsim {

namespace {

// Room on the wire: the device record's text fields, less their terminators.
constexpr std::size_t kMaxType = 127;
constexpr std::size_t kMaxSw = 131;
constexpr std::size_t kMaxHw = 65;

bool ParseUint(const std::string& text, std::uint64_t max, std::uint64_t& out) {
    if (text.empty()) {
        return false;
    }
    std::uint64_t v = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || p != text.data() + text.size() || v > max) {
        return false;
    }
    out = v;
    return true;
}

bool Printable(const std::string& s) {
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<Ipv4> ParseIpv4(const std::string& text) {
    return wire::ParseIpv4(text);
}

std::string FormatIpv4(const Ipv4& ip) {
    return wire::FormatIpv4(ip.data());
}

std::optional<Mac> ParseMac(const std::string& text) {
    return wire::ParseMac(text);
}

std::string FormatMac(const Mac& m) {
    return wire::FormatMac(m.data());
}

std::uint32_t ToU32(const Ipv4& ip) {
    return (std::uint32_t{ip[0]} << 24) | (std::uint32_t{ip[1]} << 16) |
           (std::uint32_t{ip[2]} << 8) | std::uint32_t{ip[3]};
}

Ipv4 FromU32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

Ipv4 NextCameraAddress(const Ipv4& ip) {
    std::uint32_t v = ToU32(ip);
    do {
        ++v;
    } while ((v & 0xFFu) == 0 || (v & 0xFFu) == 0xFF);
    return FromU32(v);
}

Mac NextMac(const Mac& mac) {
    Mac m = mac;
    for (std::size_t i = 6; i-- > 3;) {
        if (++m[i] != 0) {
            break;
        }
    }
    return m;
}

std::optional<std::int64_t> ClockOffsetFrom(const std::string& text) {
    std::tm tm{};
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6) {
        return std::nullopt;
    }
    if (y < 1970 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 ||
        s > 59 || h < 0 || mi < 0 || s < 0) {
        return std::nullopt;
    }
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(t) - static_cast<std::int64_t>(std::time(nullptr));
}

FleetSpec MakeUniformFleet(int count, const Ipv4& base, const Mac& macBase,
                           const CameraSpec& templ) {
    FleetSpec fleet;
    Ipv4 ip = base;
    Mac mac = macBase;
    for (int i = 0; i < count; ++i) {
        CameraSpec c = templ;
        c.ip = ip;
        c.mac = mac;
        fleet.cameras.push_back(c);
        ip = NextCameraAddress(ip);
        mac = NextMac(mac);
    }
    return fleet;
}

bool ApplyFault(Faults& f, const std::string& faultText, std::string& error) {
    std::string name = faultText;
    std::string value;
    bool hasValue = false;
    if (auto eq = faultText.find('='); eq != std::string::npos) {
        name = faultText.substr(0, eq);
        value = faultText.substr(eq + 1);
        hasValue = true;
    }
    for (char& c : name) {
        if (c == '_') {
            c = '-';
        }
    }
    auto flag = [&](bool& b) {
        if (!hasValue || value == "1" || value == "true") {
            b = true;
            return true;
        }
        if (value == "0" || value == "false") {
            b = false;
            return true;
        }
        error = "fault " + name + " takes true or false, got '" + value + "'";
        return false;
    };
    std::uint64_t n = 0;
    auto number = [&](std::uint64_t max) {
        if (!hasValue || !ParseUint(value, max, n)) {
            error = "fault " + name + " needs a number up to " + std::to_string(max) + ", got '" +
                    value + "'";
            return false;
        }
        return true;
    };
    if (name == "refuse-connect") {
        return flag(f.refuseConnect);
    }
    if (name == "hang") {
        return flag(f.hang);
    }
    if (name == "fail-verify") {
        return flag(f.failVerify);
    }
    if (name == "refuse-clock") {
        return flag(f.refuseClock);
    }
    if (name == "refuse-ip-change") {
        return flag(f.refuseIpChange);
    }
    if (name == "discovery-twice") {
        return flag(f.discoveryTwice);
    }
    if (name == "silent") {
        return flag(f.silent);
    }
    if (name == "malformed") {
        return flag(f.malformed);
    }
    if (name == "no-reasons") {
        return flag(f.noReasons);
    }
    if (name == "old-ipset") {
        return flag(f.oldIpset);
    }
    if (name == "no-route") {
        return flag(f.noRoute);
    }
    if (name == "routed") {
        return flag(f.routed);
    }
    if (name == "keep-version") {
        return flag(f.keepVersion);
    }
    if (name == "never-back") {
        return flag(f.neverBack);
    }
    if (name == "drop-at-percent") {
        if (!number(100)) {
            return false;
        }
        f.dropAtPercent = static_cast<int>(n);
        return true;
    }
    if (name == "drop-after") {
        if (!number(std::uint64_t{1} << 40)) {
            return false;
        }
        f.dropAfter = static_cast<std::int64_t>(n);
        return true;
    }
    if (name == "throttle") {
        if (!number(std::uint64_t{1} << 40)) {
            return false;
        }
        f.throttleBps = n;
        return true;
    }
    if (name == "reply-delay") {
        if (!number(600000)) {
            return false;
        }
        f.replyDelayMs = static_cast<std::uint32_t>(n);
        return true;
    }
    error = "unknown fault '" + name + "'";
    return false;
}

namespace {

using nlohmann::json;

bool ReadString(const json& o, const char* key, std::string& out, std::string& error) {
    if (!o.contains(key)) {
        return true;
    }
    if (!o[key].is_string()) {
        error = std::string("\"") + key + "\" must be a text";
        return false;
    }
    out = o[key].get<std::string>();
    return true;
}

bool ReadUint(const json& o, const char* key, std::uint64_t max, std::uint64_t& out,
              std::string& error) {
    if (!o.contains(key)) {
        return false;
    }
    if (!o[key].is_number_unsigned() || o[key].get<std::uint64_t>() > max) {
        error = std::string("\"") + key + "\" must be a whole number up to " + std::to_string(max);
        return false;
    }
    out = o[key].get<std::uint64_t>();
    return true;
}

bool ReadBool(const json& o, const char* key, bool& out, std::string& error) {
    if (!o.contains(key)) {
        return true;
    }
    if (!o[key].is_boolean()) {
        error = std::string("\"") + key + "\" must be true or false";
        return false;
    }
    out = o[key].get<bool>();
    return true;
}

bool ReadCamera(const json& o, CameraSpec& c, std::string& error) {
    if (!o.is_object()) {
        error = "a camera must be an object";
        return false;
    }
    std::string text;
    const std::pair<const char*, Ipv4*> addrs[] = {
        {"ip", &c.ip}, {"mask", &c.mask}, {"gateway", &c.gateway}};
    for (const auto& [key, dst] : addrs) {
        text.clear();
        if (!ReadString(o, key, text, error)) {
            return false;
        }
        if (!text.empty()) {
            auto ip = ParseIpv4(text);
            if (!ip) {
                error = std::string("\"") + key + "\" is not an IPv4 address: '" + text + "'";
                return false;
            }
            *dst = *ip;
        }
    }
    text.clear();
    if (!ReadString(o, "mac", text, error)) {
        return false;
    }
    if (!text.empty()) {
        auto mac = ParseMac(text);
        if (!mac) {
            error = "\"mac\" is not a MAC address: '" + text + "'";
            return false;
        }
        c.mac = *mac;
    }
    if (!ReadString(o, "type", c.type, error) || !ReadString(o, "sw", c.sw, error) ||
        !ReadString(o, "hw", c.hw, error)) {
        return false;
    }
    text.clear();
    if (!ReadString(o, "clock", text, error)) {
        return false;
    }
    if (!text.empty()) {
        auto off = ClockOffsetFrom(text);
        if (!off) {
            error = "\"clock\" is not YYYY-MM-DD HH:MM:SS: '" + text + "'";
            return false;
        }
        c.clockOffset = *off;
    }
    std::uint64_t n = 0;
    if (ReadUint(o, "flash_ms", 600000, n, error)) {
        c.flashMs = static_cast<std::uint32_t>(n);
    } else if (!error.empty()) {
        return false;
    }
    if (ReadUint(o, "reboot_ms", 600000, n, error)) {
        c.rebootMs = static_cast<std::uint32_t>(n);
    } else if (!error.empty()) {
        return false;
    }
    if (!ReadBool(o, "check_hw", c.checkHw, error)) {
        return false;
    }
    if (o.contains("faults")) {
        const json& f = o["faults"];
        if (!f.is_object()) {
            error = "\"faults\" must be an object";
            return false;
        }
        for (const auto& [key, value] : f.items()) {
            std::string faultText = key;
            if (value.is_boolean()) {
                faultText += value.get<bool>() ? "=true" : "=false";
            } else if (value.is_number_unsigned()) {
                faultText += "=" + std::to_string(value.get<std::uint64_t>());
            } else {
                error = "fault \"" + key + "\" must be true/false or a whole number";
                return false;
            }
            if (!ApplyFault(c.faults, faultText, error)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

std::optional<FleetSpec> ParseFleetJson(const std::string& text, const CameraSpec& defaults,
                                        std::string& error) {
    json doc = json::parse(text, nullptr, false);
    if (doc.is_discarded()) {
        error = "the fleet file is not valid JSON";
        return std::nullopt;
    }
    CameraSpec base = defaults;
    const json* list = &doc;
    if (doc.is_object()) {
        if (doc.contains("defaults") && !ReadCamera(doc["defaults"], base, error)) {
            error = "defaults: " + error;
            return std::nullopt;
        }
        if (!doc.contains("cameras")) {
            error = "the fleet file has no \"cameras\"";
            return std::nullopt;
        }
        list = &doc["cameras"];
    }
    if (!list->is_array()) {
        error = "\"cameras\" must be an array";
        return std::nullopt;
    }
    FleetSpec fleet;
    if (doc.is_object() && doc.contains("hostile_texts")) {
        if (!doc["hostile_texts"].is_boolean()) {
            error = "\"hostile_texts\" must be true or false";
            return std::nullopt;
        }
        fleet.hostileTexts = doc["hostile_texts"].get<bool>();
    }
    Ipv4 nextIp = base.ip;
    Mac nextMac = base.mac;
    std::size_t index = 0;
    for (const json& o : *list) {
        CameraSpec c = base;
        // A camera without an address or MAC takes the one after the previous camera's.
        c.ip = nextIp;
        c.mac = nextMac;
        if (!ReadCamera(o, c, error)) {
            error = "camera " + std::to_string(index) + ": " + error;
            return std::nullopt;
        }
        fleet.cameras.push_back(c);
        nextIp = NextCameraAddress(c.ip);
        nextMac = NextMac(c.mac);
        ++index;
    }
    if (fleet.cameras.empty()) {
        error = "the fleet has no camera";
        return std::nullopt;
    }
    return fleet;
}

bool ValidateFleet(const FleetSpec& fleet, std::string& error) {
    std::set<Mac> macs;
    std::set<std::uint32_t> ips;
    for (std::size_t i = 0; i < fleet.cameras.size(); ++i) {
        const CameraSpec& c = fleet.cameras[i];
        const std::string who = "camera " + std::to_string(i) + " (" + FormatIpv4(c.ip) + ")";
        if (c.type.size() > kMaxType || c.sw.size() > kMaxSw || c.hw.size() > kMaxHw) {
            error = who + ": type, sw or hw longer than the device record holds (" +
                    std::to_string(kMaxType) + ", " + std::to_string(kMaxSw) + ", " +
                    std::to_string(kMaxHw) + ")";
            return false;
        }
        if (!fleet.hostileTexts && (!Printable(c.type) || !Printable(c.sw) || !Printable(c.hw))) {
            error = who + ": control characters in type, sw or hw";
            return false;
        }
        if (!macs.insert(c.mac).second) {
            error = who + ": MAC " + FormatMac(c.mac) + " used twice";
            return false;
        }
        if (!ips.insert(ToU32(c.ip)).second) {
            error = who + ": address used twice";
            return false;
        }
        if (c.ip[3] == 0 || c.ip[3] == 255 || ToU32(c.ip) == 0) {
            error = who + ": not a host address";
            return false;
        }
    }
    return true;
}

}  // namespace camsim
