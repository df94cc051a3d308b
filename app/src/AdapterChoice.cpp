#include "app/AdapterChoice.h"

#include <algorithm>

#include "platform/TermText.h"

namespace app {

std::vector<platform::NetAdapter> ChoosableAdapters(const std::vector<platform::NetAdapter>& all) {
    std::vector<platform::NetAdapter> out;
    for (const auto& a : all) {
        if (a.up && !a.loopback && a.address != 0) {
            out.push_back(a);
        }
    }
    return out;
}

std::vector<std::string> AdapterItems(const std::vector<platform::NetAdapter>& choosable) {
    std::vector<std::string> items{kAllAdapters};
    for (const auto& a : choosable) {
        items.push_back(platform::DescribeAdapter(a));
    }
    return items;
}

std::string AdapterKey(const std::vector<platform::NetAdapter>& choosable, int index) {
    if (index < 1 || index > static_cast<int>(choosable.size())) {
        return {};
    }
    const platform::NetAdapter& a = choosable[static_cast<size_t>(index - 1)];
    const auto sameName =
        std::count_if(choosable.begin(), choosable.end(),
                      [&](const platform::NetAdapter& b) { return b.name == a.name; });
    return sameName > 1 ? platform::FormatIpv4(a.address) : a.name;
}

int AdapterIndex(const std::vector<platform::NetAdapter>& choosable, const std::string& key) {
    if (key.empty()) {
        return 0;
    }
    for (size_t i = 0; i < choosable.size(); ++i) {
        if (choosable[i].name == key || platform::FormatIpv4(choosable[i].address) == key) {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

std::optional<std::string> CheckAdapterChoice(const std::vector<platform::NetAdapter>& all,
                                              const std::string& text, std::string* why) {
    const auto named =
        text.empty() ? std::vector<platform::NetAdapter>{} : platform::ChosenAdapters(all, text);
    if (std::any_of(named.begin(), named.end(),
                    [](const platform::NetAdapter& a) { return a.up; })) {
        return text;
    }
    if (!named.empty()) {
        // A search there would fail; say why now rather than find nothing.
        *why = "网卡“" + platform::EscapeForTerminal(text) + "”未启用";
        return std::nullopt;
    }
    std::string there;
    for (const auto& a : all) {
        if (!a.loopback) {
            there += (there.empty() ? "" : "，") + platform::DescribeAdapter(a);
        }
    }
    *why = "没有网卡“" + platform::EscapeForTerminal(text) + "”，" +
           (there.empty() ? std::string("本机没有可用的网卡") : "本机网卡：" + there);
    return std::nullopt;
}

std::optional<std::array<std::uint8_t, 4>> ProposeStartIp(std::uint32_t address, int prefix,
                                                          std::size_t count,
                                                          const std::set<std::uint32_t>& used) {
    // Subnets larger than a /12 are walked no further than their first million.
    if (count == 0 || prefix < 1 || prefix > 30) {
        return std::nullopt;
    }
    const std::uint32_t hostBits = 0xFFFFFFFFu >> prefix;
    const std::uint32_t network = address & ~hostBits;
    const std::uint32_t last = network | hostBits;  // the broadcast
    const std::uint32_t end = hostBits > (1u << 20) ? network + (1u << 20) : last;
    std::size_t run = 0;
    std::uint32_t runStart = 0;
    for (std::uint32_t a = network + 1; a < end; ++a) {
        const std::uint32_t octet = a & 0xFF;
        if (octet == 0 || octet == 255) {
            continue;  // the numbering passes over them as well
        }
        if (a == address || used.count(a) != 0) {
            run = 0;
            continue;
        }
        if (run++ == 0) {
            runStart = a;
        }
        if (run == count) {
            return std::array<std::uint8_t, 4>{static_cast<std::uint8_t>(runStart >> 24),
                                               static_cast<std::uint8_t>(runStart >> 16),
                                               static_cast<std::uint8_t>(runStart >> 8),
                                               static_cast<std::uint8_t>(runStart)};
        }
    }
    return std::nullopt;
}

}  // namespace app
