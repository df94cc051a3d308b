#pragma once
// A folder of the test's own under the system's temporary folder, made fresh
// and removed with everything in it. Tests running at once in other processes
// (ctest -j, two runs side by side) never share one, nor a batch lock in it.

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

namespace qvtest {

class ScratchDir {
  public:
    explicit ScratchDir(const std::string& prefix = "qv-test-") {
        namespace fs = std::filesystem;
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const fs::path candidate =
                fs::temp_directory_path() / (prefix + std::to_string(random()));
            std::error_code ec;
            if (fs::create_directory(candidate, ec)) {
                path_ = candidate;
            }
        }
        if (path_.empty()) {
            throw std::runtime_error("no temporary folder of our own");
        }
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The folder's path ending with a separator, for joining names onto.
    std::string prefix() const { return (path_ / "").string(); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

}  // namespace qvtest
