#include "Plan.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdio>
#include <iostream>

#include "pack/UpdatePack.h"
#include "platform/Md5.h"
#include "platform/SafeFile.h"
#include "platform/TermText.h"

namespace cli {
namespace {

// The name an update pack's first application entry carries, which is what
// names the version a camera takes from it; empty for any other file.
std::string AppEntryOfPack(const std::string& path) {
    tPackHead head{};
    const auto table = CheckFileMD5(path.c_str(), &head);
    if (!table) {
        return {};
    }
    for (unsigned i = 0; i < head.uifileNum; ++i) {
        if (table[i].ucFileType == PACK_FILE_APP || table[i].ucFileType == PACK_FILE_BIN) {
            return PackEntryName(table[i]);
        }
    }
    return {};
}

}  // namespace

std::string VersionNamed(const std::string& name) {
    for (auto at = name.find("_V"); at != std::string::npos; at = name.find("_V", at + 1)) {
        std::size_t i = at + 2;
        const std::size_t major = i;
        while (i < name.size() && i - major < 9 &&
               std::isdigit(static_cast<unsigned char>(name[i]))) {
            ++i;
        }
        if (i == major || i >= name.size() || name[i] != '.') {
            continue;
        }
        const std::size_t minor = ++i;
        while (i < name.size() && i - minor < 9 &&
               std::isdigit(static_cast<unsigned char>(name[i]))) {
            ++i;
        }
        if (i > minor) {
            return name.substr(major, i - major);
        }
    }
    return {};
}

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
    const std::string entry = AppEntryOfPack(camera.file);
    line.version = VersionNamed(entry.empty() ? line.name : entry);
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
                           {"version", l.version}});
        }
        std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return;
    }
    std::printf("MAC地址\tIP地址\t文件\t大小\tMD5\t版本\n");
    for (const PlanLine& l : lines) {
        std::printf("%s\t%s\t%s\t%lld\t%s\t%s\n", platform::EscapeForTerminal(l.camera.mac).c_str(),
                    platform::EscapeForTerminal(l.camera.ip).c_str(),
                    platform::EscapeForTerminal(l.name).c_str(), l.size,
                    l.md5.empty() ? "-" : l.md5.c_str(),
                    l.version.empty() ? "-" : l.version.c_str());
    }
}

}  // namespace cli
