// The quorvane-net.conf reader on any text.
// Properties: every value read lies in its documented range; the text that
// FormatNetConfig writes for the result reads back to the same configuration
// without a warning; the file reader gives what the text reader gives.

#include <fstream>

#include "FuzzUtil.h"
#include "wire/Addr.h"
#include "wire/NetConfig.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const wire::NetConfig base = wire::BuiltInDefaults();
    std::vector<std::string> warnings;
    const wire::NetConfig c = wire::ParseNetConfig(text, base, &warnings);
    FUZZ_CHECK(wire::ParseIpv4(c.discoveryAddress).has_value());
    FUZZ_CHECK(wire::ParseIpv4(c.bindAddress).has_value());
    FUZZ_CHECK(c.discoveryPort >= 1 && c.controlPort >= 1 && c.ipsetPort >= 1);
    FUZZ_CHECK(c.discoveryProbes >= 1 && c.discoveryProbes <= 20);
    FUZZ_CHECK(c.discoveryProbeIntervalMs >= 1 && c.discoveryProbeIntervalMs <= 10000);
    FUZZ_CHECK(c.discoverySpreadMs >= 0 && c.discoverySpreadMs <= 10000);
    FUZZ_CHECK(c.discoveryQuietMs >= 10 && c.discoveryQuietMs <= 60000);
    FUZZ_CHECK(c.discoveryDeadlineMs >= 100 && c.discoveryDeadlineMs <= 120000);
    FUZZ_CHECK(c.ipsetTimeoutMs >= 10 && c.ipsetTimeoutMs <= 60000);
    FUZZ_CHECK(c.ipsetAttempts >= 1 && c.ipsetAttempts <= 20);
    FUZZ_CHECK(c.updateResultTimeoutMs >= 100 && c.updateResultTimeoutMs <= 3600000);
    FUZZ_CHECK(!c.logFile.empty() && c.logFile.size() < 4096);

    std::vector<std::string> again;
    FUZZ_CHECK(wire::ParseNetConfig(wire::FormatNetConfig(c), wire::LanDefaults(), &again) == c);
    FUZZ_CHECK(again.empty());

    qvfuzz::Scratch s;
    const std::string path = s / wire::kNetConfFileName;
    std::ofstream(path, std::ios::binary).write(text.data(), static_cast<long>(text.size()));
    std::string error;
    const auto loaded = wire::LoadNetConfigFile(path, &error);
    FUZZ_CHECK(loaded.has_value() == (size <= wire::kMaxNetConfBytes));
    if (loaded) {
        FUZZ_CHECK(loaded->config == c);
        FUZZ_CHECK(loaded->warnings == warnings);
    }
    return 0;
}
