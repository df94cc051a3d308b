// The INI reader (config.ini's defaultip) on any text and any section and key.
// Input: one byte each for the lengths of section and key, the two names,
// then the file's text.
// Properties: a value is at most 259 bytes and one line; names match without
// regard to ASCII case; the file reader gives what the text reader gives for
// the file's text (UTF-16 converted).

#include <algorithm>
#include <fstream>

#include "FuzzUtil.h"
#include "platform/IniFile.h"

namespace {

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qvfuzz::Input in(data, size);
    const std::size_t sectionLen = in.Byte() % 16;
    const std::size_t keyLen = in.Byte() % 16;
    const std::string section = in.Bytes(sectionLen);
    const std::string key = in.Bytes(keyLen);
    const std::string text = in.Rest();
    const std::string fallback = "192.168.0.10";

    const std::string v = platform::GetProfileStringFromText(section, key, fallback, text);
    FUZZ_CHECK(v.size() <= platform::kProfileValueMax);
    FUZZ_CHECK(v.find('\n') == std::string::npos && v.find('\r') == std::string::npos);
    FUZZ_CHECK(platform::GetProfileStringFromText(Upper(section), Upper(key), fallback, text) == v);

    qvfuzz::Scratch s;
    const std::string path = s / "config.ini";
    std::ofstream(path, std::ios::binary).write(text.data(), static_cast<long>(text.size()));
    // The file reader also takes UTF-16 after a byte-order mark.
    const std::string asRead = platform::IniTextToUtf8(text);
    FUZZ_CHECK(platform::GetPrivateProfileString(section, key, fallback, path) ==
               platform::GetProfileStringFromText(section, key, fallback, asRead));
    return 0;
}
