#include "app/NaturalCompare.h"

#include <unicode/ucol.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace app {
namespace {

bool IsDigit(char32_t c) {
    return c >= U'0' && c <= U'9';
}

// Decodes one UTF-8 character at `pos`; a malformed byte stands for itself
// (it still sorts among the non-ASCII characters).
char32_t Decode(std::string_view s, std::size_t& pos) {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    std::size_t len = 0;
    char32_t cp = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1Fu;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0Fu;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07u;
    } else {
        ++pos;
        return b0;
    }
    if (pos + len > s.size()) {
        ++pos;
        return b0;
    }
    for (std::size_t i = 1; i < len; ++i) {
        const auto b = static_cast<unsigned char>(s[pos + i]);
        if ((b & 0xC0) != 0x80) {
            ++pos;
            return b0;
        }
        cp = (cp << 6) | (b & 0x3Fu);
    }
    pos += len;
    return cp;
}

// Rank of a character's class: symbols, digits, letters, non-ASCII.
int ClassOf(char32_t c) {
    if (c >= 0x80) {
        return 3;
    }
    if (IsDigit(c)) {
        return 1;
    }
    if ((c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z')) {
        return 2;
    }
    return 0;
}

char32_t Fold(char32_t c) {
    return (c >= U'A' && c <= U'Z') ? c - U'A' + U'a' : c;
}

int Sign(long long v) {
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

struct CollatorCloser {
    void operator()(UCollator* c) const { ucol_close(c); }
};

// The Chinese collation (pinyin for Han), case ignored and accents only a
// tie-breaker, as a Chinese Windows compares. One per thread: a collator is
// not meant to be shared between threads.
UCollator* Collator() {
    thread_local const std::unique_ptr<UCollator, CollatorCloser> collator = [] {
        UErrorCode status = U_ZERO_ERROR;
        UCollator* c = ucol_open("zh", &status);
        if (U_FAILURE(status)) {
            return std::unique_ptr<UCollator, CollatorCloser>();
        }
        ucol_setStrength(c, UCOL_SECONDARY);
        // Latin before Han, as on Windows; the Chinese tailoring puts Han first.
        UErrorCode reorder = U_ZERO_ERROR;
        ucol_setReorderCodes(c, nullptr, 0, &reorder);
        return std::unique_ptr<UCollator, CollatorCloser>(c);
    }();
    return collator.get();
}

// End of the run of non-digits that starts at `pos`.
std::size_t TextRunEnd(std::string_view s, std::size_t pos) {
    while (pos < s.size() && !IsDigit(static_cast<unsigned char>(s[pos]))) {
        ++pos;
    }
    return pos;
}

// Compares the text runs at a[i] and b[j] with the collator. Only reached
// when one of them holds non-ASCII text, so ASCII-only texts keep their order.
int CollateRuns(std::string_view a, std::size_t i, std::size_t ea, std::string_view b,
                std::size_t j, std::size_t eb) {
    UCollator* c = Collator();
    if (c == nullptr) {
        return 0;
    }
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult r =
        ucol_strcollUTF8(c, a.data() + i, static_cast<int32_t>(ea - i), b.data() + j,
                         static_cast<int32_t>(eb - j), &status);
    if (U_FAILURE(status)) {
        return 0;
    }
    return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

}  // namespace

int NaturalCompare(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(static_cast<unsigned char>(a[i])) &&
            IsDigit(static_cast<unsigned char>(b[j]))) {
            // Compare the runs by value as texts: skip leading zeros, then the
            // longer run is larger, then the first differing digit decides.
            std::size_t ia = i;
            std::size_t jb = j;
            while (ia < a.size() && a[ia] == '0') {
                ++ia;
            }
            while (jb < b.size() && b[jb] == '0') {
                ++jb;
            }
            std::size_t ea = ia;
            std::size_t eb = jb;
            while (ea < a.size() && IsDigit(static_cast<unsigned char>(a[ea]))) {
                ++ea;
            }
            while (eb < b.size() && IsDigit(static_cast<unsigned char>(b[eb]))) {
                ++eb;
            }
            const std::size_t la = ea - ia;
            const std::size_t lb = eb - jb;
            if (la != lb) {
                return la < lb ? -1 : 1;
            }
            const int c = a.substr(ia, la).compare(b.substr(jb, lb));
            if (c != 0) {
                return c < 0 ? -1 : 1;
            }
            i = ea;
            j = eb;
            continue;
        }
        if (static_cast<unsigned char>(a[i]) >= 0x80 || static_cast<unsigned char>(b[j]) >= 0x80) {
            const std::size_t ea = TextRunEnd(a, i);
            const std::size_t eb = TextRunEnd(b, j);
            if (const int c = CollateRuns(a, i, ea, b, j, eb); c != 0) {
                return c;
            }
            // Runs equal to the collator (É and é): the texts go on after them.
            i = ea;
            j = eb;
            continue;
        }
        const char32_t ca = Decode(a, i);
        const char32_t cb = Decode(b, j);
        const int ka = ClassOf(ca);
        const int kb = ClassOf(cb);
        if (ka != kb) {
            return ka < kb ? -1 : 1;
        }
        const char32_t fa = Fold(ca);
        const char32_t fb = Fold(cb);
        if (fa != fb) {
            return Sign(static_cast<long long>(fa) - static_cast<long long>(fb));
        }
    }
    const bool aDone = i >= a.size();
    const bool bDone = j >= b.size();
    if (aDone && bDone) {
        return 0;
    }
    return aDone ? -1 : 1;
}

}  // namespace app
