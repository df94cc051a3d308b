#pragma once

#include <cstddef>
#include <cstring>

namespace engine {

// Copies at most N-1 characters of `src` into `dst` and zero-fills the rest, so
// the text always ends inside the field. A null source gives an empty text.
template <size_t N>
void CopyFixedText(char (&dst)[N], const char* src) {
    static_assert(N > 0);
    std::memset(dst, 0, N);
    if (src == nullptr) {
        return;
    }
    const void* end = std::memchr(src, '\0', N - 1);
    const size_t len =
        end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - src) : N - 1;
    std::memcpy(dst, src, len);
}

}  // namespace engine
