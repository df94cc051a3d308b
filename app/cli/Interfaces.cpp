#include "Interfaces.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>
#include <string>

#include "Options.h"
#include "platform/NetAdapters.h"
#include "platform/TermText.h"

namespace cli {

int ListInterfaces(bool json) {
    std::string error;
    const auto adapters = platform::ListNetAdapters(&error);
    if (!adapters) {
        std::fprintf(stderr, "quorvane-cli: 无法列出网卡：%s\n",
                     platform::EscapeForTerminal(error).c_str());
        return kExitSomeFailed;
    }
    if (json) {
        auto list = nlohmann::json::array();
        for (const auto& a : *adapters) {
            list.push_back({{"name", a.name},
                            {"address", platform::FormatIpv4(a.address)},
                            {"prefix", a.prefix},
                            {"up", a.up},
                            {"broadcast", a.broadcast},
                            {"point_to_point", a.pointToPoint},
                            {"loopback", a.loopback},
                            {"searched", platform::CarriesSearch(a)}});
        }
        std::cout << list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return kExitAllOk;
    }
    // NAME, ADDRESS/PREFIX, state, kind of link, and "搜索" where a search goes out.
    for (const auto& a : *adapters) {
        const char* kind = a.loopback       ? "环回"
                           : a.pointToPoint ? "点对点"
                           : a.broadcast    ? "广播"
                                            : "无广播";
        std::printf("%s\t%s/%d\t%s\t%s%s\n", platform::EscapeForTerminal(a.name).c_str(),
                    platform::FormatIpv4(a.address).c_str(), a.prefix, a.up ? "启用" : "停用", kind,
                    platform::CarriesSearch(a) ? "\t搜索" : "");
    }
    return kExitAllOk;
}

}  // namespace cli
