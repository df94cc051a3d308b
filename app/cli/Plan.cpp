#include "Plan.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>

#include "pack/PackInfo.h"
#include "platform/Md5.h"
#include "platform/SafeFile.h"
#include "platform/TermText.h"

namespace cli {

PlanLine DescribePlanned(const app::PlannedUpgrade& camera) {
    PlanLine line;
    line.camera = camera;
    const auto slash = camera.file.find_last_of('/');
    line.name = slash == std::string::npos ? camera.file : camera.file.substr(slash + 1);
    // What is sent is never above the size limit of a camera's file.
    constexpr std::size_t kLargest = 64u << 20;
    std::string why;
    if (const auto bytes = platform::ReadRegularFile(camera.file, kLargest, &why)) {
        line.size = static_cast<long long>(bytes->size());
        line.md5 = platform::DigestHex(
            platform::Md5Of({reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()}));
    }
    line.version = PackNamedVersion(camera.file);
    if (!camera.downgradeFrom.empty()) {
        line.note = app::DowngradeText(camera.downgradeFrom, camera.named);
    }
    return line;
}

void PrintPlan(const std::vector<PlanLine>& lines, bool json) {
    if (json) {
        nlohmann::json out = nlohmann::json::array();
        for (const PlanLine& l : lines) {
            out.push_back({{"mac", l.camera.mac},
                           {"ip", l.camera.ip},
                           {"file", l.camera.file},
                           {"name", l.name},
                           {"size", l.size},
                           {"md5", l.md5},
                           {"version", l.version},
                           {"downgrade_from", l.camera.downgradeFrom}});
        }
        std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return;
    }
    std::printf("MAC地址\tIP地址\t文件\t大小\tMD5\t版本\t说明\n");
    for (const PlanLine& l : lines) {
        std::printf(
            "%s\t%s\t%s\t%lld\t%s\t%s\t%s\n", platform::EscapeForTerminal(l.camera.mac).c_str(),
            platform::EscapeForTerminal(l.camera.ip).c_str(),
            platform::EscapeForTerminal(l.name).c_str(), l.size,
            l.md5.empty() ? "-" : l.md5.c_str(), l.version.empty() ? "-" : l.version.c_str(),
            l.note.empty() ? "-" : l.note.c_str());
    }
}

void PrintIpPlan(const std::vector<app::PlannedAddress>& plan, std::FILE* out, bool addressPlan) {
    if (addressPlan) {
        const auto cell = [](const std::string& s) {
            return s.empty() ? std::string("-") : platform::EscapeForTerminal(s);
        };
        std::fprintf(out, "MAC地址\tIP地址\t新IP地址\t子网掩码\t网关\t名称\n");
        for (const app::PlannedAddress& p : plan) {
            std::fprintf(out, "%s\t%s\t%s\t%s\t%s\t%s\n", cell(p.mac).c_str(), cell(p.ip).c_str(),
                         cell(p.newIp).c_str(), cell(p.mask).c_str(), cell(p.gateway).c_str(),
                         cell(p.name).c_str());
        }
        std::fflush(out);
        return;
    }
    std::fprintf(out, "MAC地址\tIP地址\t新IP地址\t说明\n");
    for (const app::PlannedAddress& p : plan) {
        std::fprintf(out, "%s\t%s\t%s\t%s\n", platform::EscapeForTerminal(p.mac).c_str(),
                     platform::EscapeForTerminal(p.ip).c_str(), p.newIp.c_str(),
                     p.note.empty() ? "-" : p.note.c_str());
    }
    std::fflush(out);
}

}  // namespace cli
