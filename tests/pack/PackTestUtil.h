#pragma once

// Shared helpers for the pack and tool tests: temporary directories, files as
// byte strings, a log recorder and a pack builder that knows the format from
// its own reading, independent of the code under test.

#ifdef _WIN32
#include "platform/Md5.h"  // CNG: still not the pack code's own reading
#else
#include <openssl/evp.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "pack/PackLog.h"

namespace packtest {

namespace fs = std::filesystem;

class TempDir {
  public:
    TempDir() {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const fs::path candidate =
                fs::temp_directory_path() / ("qvpack-" + std::to_string(random()));
            std::error_code ec;
            if (fs::create_directory(candidate, ec)) {
                path_ = candidate;
            }
        }
        if (path_.empty()) {
            throw std::runtime_error("no temporary folder");
        }
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

  private:
    fs::path path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Deterministic, non-repeating filler.
inline std::string Bytes(std::size_t n, std::uint32_t seed) {
    std::string s(n, '\0');
    std::uint32_t x = seed * 2654435761u + 1u;
    for (char& c : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x & 0xFFu);
    }
    return s;
}

inline std::string Md5Of(const std::string& bytes) {
#ifdef _WIN32
    platform::Md5 md5;
    md5.update(bytes.data(), bytes.size());
    const platform::Digest d = md5.finish();
    return std::string(reinterpret_cast<const char*>(d.data()), d.size());
#else
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(bytes.data(), bytes.size(), out, &len, EVP_md5(), nullptr);
    return std::string(reinterpret_cast<const char*>(out), len);
#endif
}

inline void Put32(std::string& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        s[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFFu);
    }
}
inline void Put16(std::string& s, std::size_t at, std::uint16_t v) {
    s[at] = static_cast<char>(v & 0xFFu);
    s[at + 1] = static_cast<char>(v >> 8);
}
inline std::uint32_t Get32(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | static_cast<std::uint8_t>(s[at + static_cast<std::size_t>(i)]);
    }
    return v;
}

struct Entry {
    std::string name;
    std::uint8_t type;
    std::string data;
    std::string path;
};

struct PackSpec {
    std::uint32_t magic = 0x89ABCDEFu;
    std::uint8_t packType = 1;
    std::vector<Entry> entries;
    // Overrides of what the header claims; by default the true values.
    int fileNum = -1;
    std::int64_t dataLen = -1;
};

// Header, table, data and digest, laid out as the format describes it.
inline std::string BuildBody(const PackSpec& layout) {
    std::string s(64 + 200 * layout.entries.size(), '\0');
    Put32(s, 0, layout.magic);
    const auto n = layout.fileNum >= 0 ? static_cast<std::uint16_t>(layout.fileNum)
                                       : static_cast<std::uint16_t>(layout.entries.size());
    Put16(s, 4, n);
    s[6] = static_cast<char>(layout.packType);
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < layout.entries.size(); ++i) {
        const Entry& e = layout.entries[i];
        const std::size_t at = 64 + 200 * i;
        Put32(s, at, static_cast<std::uint32_t>(e.data.size()));
        s[at + 4] = static_cast<char>(e.type);
        s.replace(at + 8, std::min<std::size_t>(e.name.size(), 128), e.name, 0, 128);
        s.replace(at + 136, std::min<std::size_t>(e.path.size(), 64), e.path, 0, 64);
        total += e.data.size();
    }
    Put32(s, 44,
          layout.dataLen >= 0 ? static_cast<std::uint32_t>(layout.dataLen)
                              : static_cast<std::uint32_t>(total));
    for (const Entry& e : layout.entries) {
        s += e.data;
    }
    return s;
}

inline std::string BuildPack(const PackSpec& layout) {
    std::string body = BuildBody(layout);
    return body + Md5Of(body);
}

// A well-formed pack of these entries under this magic, written to path.
inline void WritePack(const std::string& path, std::uint32_t magic, std::vector<Entry> entries) {
    PackSpec layout;
    layout.magic = magic;
    layout.entries = std::move(entries);
    WriteFile(path, BuildPack(layout));
}

// Collects the pack layer's diagnostics for the life of the object.
class LogRecorder {
  public:
    LogRecorder() {
        SetPackLogSink([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogRecorder() { SetPackLogSink(nullptr); }
    LogRecorder(const LogRecorder&) = delete;
    LogRecorder& operator=(const LogRecorder&) = delete;

    std::vector<std::string> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::string All() const {
        std::string all;
        for (const std::string& l : Lines()) {
            all += l;
        }
        return all;
    }
    bool Has(const std::string& line) const {
        for (const std::string& l : Lines()) {
            if (l == line) {
                return true;
            }
        }
        return false;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

inline std::vector<std::string> DirNames(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace packtest
