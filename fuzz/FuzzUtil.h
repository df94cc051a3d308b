#pragma once
// Helpers shared by the fuzz targets. A target states its properties with
// FUZZ_CHECK: a broken one aborts, which libFuzzer reports as a finding and
// the ctest replay of the kept inputs as a failure.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#define FUZZ_CHECK(cond)                                                                     \
    do {                                                                                     \
        if (!(cond)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)

namespace qvfuzz {

// Reads the input front to back; past the end every read gives zeros or
// nothing, so a target never has to check the length itself.
class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint16_t U16() {
        const std::uint16_t lo = Byte();
        return static_cast<std::uint16_t>(lo | (Byte() << 8));
    }
    std::string Bytes(std::size_t n) {
        n = n < size_ - at_ ? n : size_ - at_;
        std::string s(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return s;
    }
    std::string Rest() { return Bytes(size_ - at_); }
    bool Empty() const { return at_ >= size_; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// A folder of this process's own, emptied for every input. On tmpfs where
// there is one, so that file-writing targets run fast.
class Scratch {
  public:
    Scratch();  // empties the folder
    const std::string& Dir() const;
    std::string operator/(const std::string& name) const { return Dir() + "/" + name; }
};

// Names in a folder, sorted; empty when it cannot be read.
std::vector<std::string> ListDir(const std::string& dir);

std::string Md5(std::string_view bytes);

}  // namespace qvfuzz
