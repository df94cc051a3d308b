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
    // An overlong form is malformed too: decoded, C0 B0 would be a digit that
    // the number runs never see, and the order would go round in circles.
    static constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kShortest[len]) {
        ++pos;
        return b0;
    }
    pos += len;
    return cp;
}

// Rank of a token's class: a symbol, a run of digits, a word. A word is a run
// of ASCII letters and non-ASCII characters; every text is cut into the same
// tokens whatever it is compared with, which keeps the order transitive.
int ClassAt(std::string_view s, std::size_t pos) {
    const auto c = static_cast<unsigned char>(s[pos]);
    if (IsDigit(c)) {
        return 1;
    }
    if (c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
        return 2;
    }
    return 0;
}

// End of the word that starts at `pos`.
std::size_t WordEnd(std::string_view s, std::size_t pos) {
    while (pos < s.size() && ClassAt(s, pos) == 2) {
        ++pos;
    }
    return pos;
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

using CollatorPtr = std::unique_ptr<UCollator, CollatorCloser>;

CollatorPtr OpenCollator(const char* locale, UColAttributeValue strength, bool latinFirst) {
    UErrorCode status = U_ZERO_ERROR;
    UCollator* c = ucol_open(locale, &status);
    if (U_FAILURE(status)) {
        return CollatorPtr();
    }
    ucol_setStrength(c, strength);
    if (latinFirst) {
        // Latin before Han, as on Windows; the Chinese tailoring puts Han first.
        UErrorCode reorder = U_ZERO_ERROR;
        ucol_setReorderCodes(c, nullptr, 0, &reorder);
    }
    return CollatorPtr(c);
}

// The Chinese collation (pinyin for Han) on base letters only, case and
// accents ignored. One per thread: a collator is not meant to be shared
// between threads.
UCollator* Collator() {
    thread_local const CollatorPtr collator = OpenCollator("zh", UCOL_PRIMARY, true);
    return collator.get();
}

// Accents alone, as Windows and ICU's root order break ties: the unaccented
// letter first (e before é). The Chinese tailoring orders pinyin tone marks
// before the plain letter, which is no tie-break a technician expects.
UCollator* AccentCollator() {
    thread_local const CollatorPtr collator = OpenCollator("", UCOL_SECONDARY, false);
    return collator.get();
}

bool IsAscii(std::string_view s) {
    for (const char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

// ASCII letters without regard to case, then the shorter first. For words of
// ASCII letters this is the collator's order too.
int CompareFolded(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t fa = Fold(Decode(a, i));
        const char32_t fb = Fold(Decode(b, j));
        if (fa != fb) {
            return Sign(static_cast<long long>(fa) - static_cast<long long>(fb));
        }
    }
    return Sign(static_cast<long long>(a.size() - i) - static_cast<long long>(b.size() - j));
}

// Two words: with the collator when either holds non-ASCII text, so ASCII-only
// texts keep their order. Without a collator, by code point for all of them.
int CompareWords(std::string_view a, std::string_view b) {
    UCollator* c = IsAscii(a) && IsAscii(b) ? nullptr : Collator();
    if (c == nullptr) {
        return CompareFolded(a, b);
    }
    const auto compare = [&](UCollator* with) {
        UErrorCode status = U_ZERO_ERROR;
        const UCollationResult r =
            ucol_strcollUTF8(with, a.data(), static_cast<int32_t>(a.size()), b.data(),
                             static_cast<int32_t>(b.size()), &status);
        if (U_FAILURE(status)) {
            return CompareFolded(a, b);
        }
        return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
    };
    if (const int base = compare(c); base != 0) {
        return base;
    }
    UCollator* accents = AccentCollator();
    return accents == nullptr ? 0 : compare(accents);
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
        const int ka = ClassAt(a, i);
        const int kb = ClassAt(b, j);
        if (ka != kb) {
            return ka < kb ? -1 : 1;
        }
        if (ka == 2) {
            const std::size_t ea = WordEnd(a, i);
            const std::size_t eb = WordEnd(b, j);
            if (const int c = CompareWords(a.substr(i, ea - i), b.substr(j, eb - j)); c != 0) {
                return c;
            }
            // Words equal to the collator (École and ÉCOLE): the texts go on.
            i = ea;
            j = eb;
            continue;
        }
        if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
        }
        ++i;
        ++j;
    }
    const bool aDone = i >= a.size();
    const bool bDone = j >= b.size();
    if (aDone && bDone) {
        return 0;
    }
    return aDone ? -1 : 1;
}

}  // namespace app
