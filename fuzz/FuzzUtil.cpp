#include "FuzzUtil.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/Md5.h"

namespace qvfuzz {

namespace {

std::string MakeRoot() {
    for (const char* base : {"/dev/shm", "/tmp"}) {
        std::string tmpl = std::string(base) + "/qvfuzz-XXXXXX";
        if (::mkdtemp(tmpl.data()) != nullptr) {
            return tmpl;
        }
    }
    std::fprintf(stderr, "fuzz: no scratch folder\n");
    std::abort();
}

struct Root {
    std::string path = MakeRoot();
    ~Root() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

Root& TheRoot() {
    static Root root;
    return root;
}

}  // namespace

Scratch::Scratch() {
    const std::string& dir = TheRoot().path;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
        std::filesystem::remove_all(e.path(), ec);
    }
}

const std::string& Scratch::Dir() const {
    return TheRoot().path;
}

std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
        return names;
    }
    while (const dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") {
            names.push_back(n);
        }
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::string Md5(std::string_view bytes) {
    const platform::Digest d =
        platform::Md5Of({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    return std::string(reinterpret_cast<const char*>(d.data()), d.size());
}

}  // namespace qvfuzz
