// UpdatePack on files of any name and content, then the readers on its pack.
// Input: a sequence of files, each as one byte of name choice, one byte of
// length and the data; the name is one of the role names or bytes of the
// input. Each file lives in a folder of its own, so two may share a name.
// Properties: whatever UpdatePack writes verifies and unpacks to the same
// bytes under the same names; whatever it refuses leaves no pack file.

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "FuzzUtil.h"
#include "pack/UpdatePack.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string NameFor(std::uint8_t choice, qvfuzz::Input& in) {
    static const char* const kRoles[] = {"uImage",   "rootfs.cramfs", "app.jffs2", "b.yaffs2",
                                         "Pack.bin", "uImage.old",    "notes"};
    constexpr unsigned kCount = sizeof kRoles / sizeof kRoles[0];
    if (choice % 2 == 0) {
        return kRoles[(choice / 2) % kCount];
    }
    // Bytes of the input, up to past the 128 bytes a name field holds.
    std::string name = in.Bytes(1 + in.Byte() % 140);
    for (char& c : name) {
        if (c == '/' || c == '\0') {
            c = '_';
        }
    }
    if (name.empty() || name == "." || name == "..") {
        name = "n";
    }
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qvfuzz::Input in(data, size);
    qvfuzz::Scratch s;
    const int count = 1 + in.Byte() % 8;
    std::vector<std::string> paths;
    std::map<std::string, std::string> contents;  // by the name the pack will hold
    for (int i = 0; i < count; ++i) {
        const std::string name = NameFor(in.Byte(), in);
        const std::string content = in.Bytes(in.Byte());
        const std::string dir = s / std::to_string(i);
        std::filesystem::create_directory(dir);
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(content.data(), static_cast<long>(content.size()));
        paths.push_back(path);
        contents[name.substr(0, 128)] = content;
    }
    std::vector<PackPathSlot> slots(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::memset(slots[i], 0, PACK_PATH_SLOT);
        std::memcpy(slots[i], paths[i].data(), paths[i].size());
    }
    tPackHead head{};
    head.uiPackMagic = PACK_MAGIC_SINGLE;
    head.uifileNum = static_cast<std::uint16_t>(count);
    head.PackType = 1;
    const std::string packPath = s / "p";
    const int rc = UpdatePack(slots.data(), packPath.c_str(), &head, count);
    if (rc != 0) {
        // Only the refusals of repeated names can happen here.
        FUZZ_CHECK(rc == 6 || rc == 7 || rc == 8 || rc == PACK_E_DUPLICATE_NAME);
        FUZZ_CHECK(!std::filesystem::exists(packPath));
        return 0;
    }
    FUZZ_CHECK(contents.size() == static_cast<std::size_t>(count));
    tPackHead check{};
    FUZZ_CHECK(CheckFileMD5(packPath.c_str(), &check) != nullptr);
    const std::string out = s / "out";
    std::filesystem::create_directory(out);
    FUZZ_CHECK(DecUpdatePack(packPath.c_str(), out.c_str()) == 0);
    const std::vector<std::string> names = qvfuzz::ListDir(out);
    FUZZ_CHECK(names.size() == contents.size());
    for (const auto& [name, content] : contents) {
        FUZZ_CHECK(ReadAll(out + "/" + name) == content);
    }
    return 0;
}
