// Runs a fuzz target's body over kept inputs, without libFuzzer: the ordinary
// builds replay the seed corpus and every past finding this way under ctest.
//   fuzz_replay_NAME FILE_OR_FOLDER...

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void RunOne(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(arg, ec)) {
            std::vector<std::filesystem::path> files;
            for (const auto& e : std::filesystem::directory_iterator(arg, ec)) {
                if (e.is_regular_file() && e.path().filename().string()[0] != '.') {
                    files.push_back(e.path());
                }
            }
            std::sort(files.begin(), files.end());
            for (const auto& f : files) {
                RunOne(f);
                ++count;
            }
        } else if (std::filesystem::is_regular_file(arg, ec)) {
            RunOne(arg);
            ++count;
        } else {
            std::fprintf(stderr, "replay: %s is missing\n", argv[i]);
            return 2;
        }
    }
    std::printf("replayed %d inputs\n", count);
    return 0;
}
