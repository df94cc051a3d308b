// NaturalCompare, the device list's order, on three texts.
// Input: one byte each for the lengths of the first two texts, then the texts.
// Properties: a text equals itself; the order is antisymmetric and transitive
// on the three texts given.

#include "FuzzUtil.h"
#include "app/NaturalCompare.h"

namespace {

int Sign(int v) {
    return (v > 0) - (v < 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qvfuzz::Input in(data, size);
    const std::size_t la = in.Byte();
    const std::size_t lb = in.Byte();
    const std::string t[3] = {in.Bytes(la), in.Bytes(lb), in.Rest()};
    int cmp[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            cmp[i][j] = Sign(app::NaturalCompare(t[i], t[j]));
        }
    }
    for (int i = 0; i < 3; ++i) {
        FUZZ_CHECK(cmp[i][i] == 0);
        for (int j = 0; j < 3; ++j) {
            FUZZ_CHECK(cmp[i][j] == -cmp[j][i]);
            for (int k = 0; k < 3; ++k) {
                // i <= j and j <= k give i <= k; with one of them strict, i < k.
                if (cmp[i][j] <= 0 && cmp[j][k] <= 0) {
                    FUZZ_CHECK(cmp[i][k] <= 0);
                    if (cmp[i][j] < 0 || cmp[j][k] < 0) {
                        FUZZ_CHECK(cmp[i][k] < 0);
                    }
                }
            }
        }
    }
    return 0;
}
