#include "platform/NeighbourProbe.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>
#include <thread>

namespace platform {
namespace {

std::optional<std::uint32_t> ParseDotted(std::string_view text) {
    std::uint32_t out = 0;
    std::size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') {
                return std::nullopt;
            }
            ++pos;
        }
        const std::size_t first = pos;
        unsigned value = 0;
        while (pos < text.size() && pos - first < 3 &&
               std::isdigit(static_cast<unsigned char>(text[pos])) != 0) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
        }
        if (pos == first || value > 255) {
            return std::nullopt;
        }
        out = (out << 8) | value;
    }
    if (pos != text.size()) {
        return std::nullopt;
    }
    return out;
}

std::optional<std::string> ParseMac(std::string_view text) {
    if (text.size() != 17) {
        return std::nullopt;
    }
    std::string out;
    bool zero = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i % 3 == 2) {
            if (c != ':') {
                return std::nullopt;
            }
            out += ':';
        } else if (std::isxdigit(static_cast<unsigned char>(c)) != 0) {
            zero = zero && c == '0';
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        } else {
            return std::nullopt;
        }
    }
    if (zero) {
        return std::nullopt;  // an entry still waiting for its answer
    }
    return out;
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t pos = 0;
    while (pos < line.size() && out.size() < 8) {
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) {
            ++pos;
        }
        const std::size_t first = pos;
        while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t') {
            ++pos;
        }
        if (pos > first) {
            out.push_back(line.substr(first, pos - first));
        }
    }
    return out;
}

}  // namespace

std::vector<std::uint32_t> OnLinkTargets(const std::vector<NetAdapter>& adapters,
                                         const std::vector<std::uint32_t>& addresses,
                                         std::vector<std::uint32_t>* own) {
    std::vector<std::uint32_t> out;
    std::set<std::uint32_t> seen;
    for (const std::uint32_t ip : addresses) {
        if ((ip >> 24) == 127 || !seen.insert(ip).second) {
            continue;
        }
        // Any adapter's address is this PC's, whichever subnet names it first.
        if (std::any_of(adapters.begin(), adapters.end(),
                        [ip](const NetAdapter& a) { return a.address == ip; })) {
            own->push_back(ip);
            continue;
        }
        for (const NetAdapter& a : adapters) {
            if (!a.up || a.loopback || a.pointToPoint || a.prefix < 1 || a.prefix > 31) {
                continue;
            }
            const std::uint32_t mask = ~std::uint32_t{0} << (32 - a.prefix);
            const std::uint32_t net = a.address & mask;
            if ((ip & mask) == net && ip != net && ip != (net | ~mask)) {
                out.push_back(ip);
                break;
            }
        }
    }
    return out;
}

std::map<std::uint32_t, std::string> ParseArpTable(std::string_view text) {
    constexpr std::size_t kMaxEntries = 4096;
    constexpr unsigned kComplete = 0x2;  // ATF_COM
    std::map<std::uint32_t, std::string> out;
    std::size_t lines = 0;
    while (!text.empty() && lines <= kMaxEntries) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (lines++ == 0) {
            continue;  // the header
        }
        const auto f = Fields(line);
        if (f.size() < 4 || f[2].size() < 3 || f[2].size() > 6 || f[2].substr(0, 2) != "0x") {
            continue;
        }
        unsigned flags = 0;
        bool hex = true;
        for (const char c : f[2].substr(2)) {
            if (std::isxdigit(static_cast<unsigned char>(c)) == 0) {
                hex = false;
                break;
            }
            flags = flags * 16 + static_cast<unsigned>(
                                     std::isdigit(static_cast<unsigned char>(c)) != 0
                                         ? c - '0'
                                         : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
        }
        const auto ip = ParseDotted(f[0]);
        const auto mac = ParseMac(f[3]);
        if (hex && (flags & kComplete) != 0 && ip && mac) {
            out[*ip] = *mac;
        }
    }
    return out;
}

NeighbourProbe ProbeNeighbours(const std::vector<std::uint32_t>& addresses,
                               std::chrono::milliseconds budget) {
    NeighbourProbe out;
    const auto deadline = std::chrono::steady_clock::now() + budget;
    auto adapters = ListNetAdapters(&out.why);
    if (!adapters) {
        return out;
    }
    std::vector<std::uint32_t> own;
    const std::vector<std::uint32_t> targets = OnLinkTargets(*adapters, addresses, &own);
    for (const std::uint32_t ip : own) {
        out.answered[ip] = "";
    }
    if (targets.empty()) {
        out.checked = true;
        return out;
    }
    if (!AskNeighbours(targets, &out.why)) {
        return out;
    }
    for (;;) {
        std::map<std::uint32_t, std::string> table;
        if (!ReadNeighbours(&table, &out.why)) {
            // Half a table would call the rest free.
            out.checked = false;
            out.answered.clear();
            return out;
        }
        out.checked = true;
        std::size_t found = 0;
        for (const std::uint32_t ip : targets) {
            if (const auto it = table.find(ip); it != table.end()) {
                out.answered[ip] = it->second;
                ++found;
            }
        }
        if (found == targets.size() || std::chrono::steady_clock::now() >= deadline) {
            return out;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace platform
