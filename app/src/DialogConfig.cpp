#include "app/DialogConfig.h"

#include <cstdio>

#include "app/Decimal.h"
#include "app/IpBatch.h"
#include "engine/TaskDispatcher.h"
#include "platform/IniFile.h"
#include "platform/TermText.h"

namespace app {
namespace {

constexpr const char* kKeyParallel = "upgrade_parallel";
constexpr const char* kKeyMaxFailures = "upgrade_max_failures";
constexpr const char* kKeyProbeMs = "upgrade_probe_ms";
constexpr const char* kKeyCanary = "upgrade_canary";
constexpr const char* kKeyInterface = "interface";
constexpr long kMaxFailuresLimit = 100000;

std::string Key(const std::string& configFile, const char* name, const char* fallback = "") {
    return platform::GetPrivateProfileString("config", name, fallback, configFile);
}

// A whole number in [low, high] written in config.ini, decimal digits only.
std::optional<long> ConfigNumber(const std::string& text, long low, long high) {
    const auto v = ParseDecimal(text, low, high);
    return v ? std::optional<long>(static_cast<long>(*v)) : std::nullopt;
}

std::string Unusable(const char* key, const std::string& text) {
    return std::string("config.ini 中的") + key + "“" + platform::EscapeForTerminal(text) +
           "”不可用，应为";
}

}  // namespace

DialogPlaces SetUpPlaces(const std::optional<platform::FolderInputs>& inputs,
                         const std::string& configDir, const platform::LocalTime& today) {
    platform::FolderInputs where = inputs ? *inputs : platform::CurrentFolderInputs();
    if (!configDir.empty()) {
        where.configDirOverride = configDir;
    }
    const platform::AppFolders folders = platform::DecideFolders(where);
    DialogPlaces places;
    places.configFile = folders.ConfigFile("config.ini");
    places.stateDir = folders.stateDir.empty() ? std::string(".") : folders.stateDir;
    platform::MakeStateDir(folders, nullptr);
    char name[32];
    std::snprintf(name, sizeof(name), "%04d_%02d_%02d.log", today.year, today.month, today.day);
    places.logFile = folders.StateFile(name);
    return places;
}

std::optional<int> ReadParallel(const std::string& configFile, std::string* why) {
    const std::string text = Key(configFile, kKeyParallel);
    if (text.empty()) {
        return std::nullopt;
    }
    if (const auto n = ConfigNumber(text, 1, TaskDispatcher::kMaxParallel)) {
        return static_cast<int>(*n);
    }
    *why = Unusable(kKeyParallel, text) + "1到" + std::to_string(TaskDispatcher::kMaxParallel) +
           "之间的整数";
    return std::nullopt;
}

std::optional<Canary> ParseCanary(const std::string& text) {
    if (text == kCanaryPerHardware) {
        return Canary{0, true};
    }
    if (const auto n = ConfigNumber(text, 0, Canary::kMaxCount)) {
        return Canary{static_cast<std::uint32_t>(*n), false};
    }
    return std::nullopt;
}

namespace {

std::string CanaryUnusable(const std::string& text) {
    return Unusable(kKeyCanary, text) + "0到" + std::to_string(Canary::kMaxCount) + "之间的整数或" +
           kCanaryPerHardware;
}

}  // namespace

std::optional<Canary> ReadCanary(const std::string& configFile, std::string* why) {
    const std::string text = Key(configFile, kKeyCanary);
    if (text.empty()) {
        return std::nullopt;
    }
    if (const auto canary = ParseCanary(text)) {
        return canary;
    }
    *why = CanaryUnusable(text);
    return std::nullopt;
}

std::optional<UpgradeLimits> ReadUpgradeLimits(const std::string& configFile,
                                               const UpgradeSettings& overrides, std::string* why) {
    struct Limit {
        const char* name;
        long low, high, fallback;
        std::optional<long> given;
        long value = 0;
    };
    Limit limits[] = {
        // The box started at this key; a key that cannot be used refuses like the others.
        {kKeyParallel, 1, TaskDispatcher::kMaxParallel, 1,
         overrides.parallel ? std::optional<long>(*overrides.parallel) : std::nullopt},
        {kKeyMaxFailures, 0, kMaxFailuresLimit, 0,
         overrides.maxFailures ? std::optional<long>(*overrides.maxFailures) : std::nullopt},
        {kKeyProbeMs, 0, TaskDispatcher::kMaxProbeMs, TaskDispatcher::kDefaultProbeMs,
         overrides.probeMs ? std::optional<long>(*overrides.probeMs) : std::nullopt},
    };
    for (Limit& limit : limits) {
        if (limit.given) {
            limit.value = *limit.given;
            continue;
        }
        const std::string text = Key(configFile, limit.name);
        const auto n = text.empty() ? std::optional<long>(limit.fallback)
                                    : ConfigNumber(text, limit.low, limit.high);
        if (!n) {
            *why = Unusable(limit.name, text) + std::to_string(limit.low) + "到" +
                   std::to_string(limit.high) + "之间的整数";
            return std::nullopt;
        }
        limit.value = *n;
    }
    // The window's setting started at this key; one that cannot be used refuses too.
    if (!overrides.canary) {
        const std::string text = Key(configFile, kKeyCanary);
        if (!text.empty() && !ParseCanary(text)) {
            *why = CanaryUnusable(text);
            return std::nullopt;
        }
    }
    return UpgradeLimits{static_cast<std::uint32_t>(limits[1].value),
                         static_cast<int>(limits[2].value)};
}

std::string ReadAdapterChoice(const std::string& configFile) {
    return Key(configFile, kKeyInterface);
}

bool RememberAdapterChoice(const std::string& configFile, const std::string& key,
                           std::string* why) {
    return platform::WritePrivateProfileString("config", kKeyInterface, key, configFile, why);
}

std::optional<std::string> ReadDefaultIp(const std::string& configFile, std::string* why) {
    const std::string text = Key(configFile, "defaultip", kDefaultIp);
    const auto parsed = ParseDottedIpv4(text);
    if (!parsed || !IsUsableHostAddress(*parsed)) {
        *why = "config.ini 中的默认IP“" + platform::EscapeForTerminal(text) + "”不是可用的主机地址";
        return std::nullopt;
    }
    return text;
}

}  // namespace app
