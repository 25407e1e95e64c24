// Text and byte-array operations. Positions are 1-based and in bytes; a byte of
// 0x80 or above starts a double-byte (GBK) character, which scans treat as one
// unit. Counts and positions are clamped, never rejected.
#include "text/text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace nds {
namespace {

bool isLead(char c) { return static_cast<unsigned char>(c) >= 0x80; }

// The width of the unit that starts at i: 2 for a lead byte with a byte after
// it, else 1.
std::size_t unitWidth(std::string_view s, std::size_t i) {
    return isLead(s[i]) && i + 1 < s.size() ? 2 : 1;
}

char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

int clampToInt(std::size_t n) {
    return n > static_cast<std::size_t>(std::numeric_limits<int>::max())
               ? std::numeric_limits<int>::max()
               : static_cast<int>(n);
}

// Does the needle match t at byte i? With ignoreCase only single-byte ASCII
// letters fold; the bytes of a double-byte character (whose second byte may be
// a letter) must match exactly.
bool matchesAt(std::string_view t, std::size_t i, std::string_view needle, bool ignoreCase) {
    if (needle.size() > t.size() - i) return false;
    if (!ignoreCase) return t.compare(i, needle.size(), needle) == 0;
    std::size_t k = 0;
    while (k < needle.size()) {
        if (isLead(needle[k])) {
            std::size_t w = k + 1 < needle.size() ? 2 : 1;
            if (t.compare(i + k, w, needle.substr(k, w)) != 0) return false;
            k += w;
        } else {
            if (foldAscii(t[i + k]) != foldAscii(needle[k])) return false;
            ++k;
        }
    }
    return true;
}

// Full-width ASCII forms (A3A1..A3FE) and the full-width space (A1A1) become
// their ASCII bytes, so numbers typed in a Chinese input method parse.
std::string narrowFullWidth(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        std::size_t w = unitWidth(s, i);
        if (w == 2) {
            auto a = static_cast<unsigned char>(s[i]);
            auto b = static_cast<unsigned char>(s[i + 1]);
            if (a == 0xA3 && b >= 0xA1 && b <= 0xFE) {
                out.push_back(static_cast<char>(b - 0x80));
            } else if (a == 0xA1 && b == 0xA1) {
                out.push_back(' ');
            } else {
                out.append(s.substr(i, 2));
            }
        } else {
            out.push_back(s[i]);
        }
        i += w;
    }
    return out;
}

bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Skips C white space and reads an optional sign; returns true for '-'.
bool skipSpaceAndSign(std::string_view s, std::size_t& i) {
    while (i < s.size() && isCSpace(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    return negative;
}

}  // namespace

Text::Text(std::string&& s) : s_(std::move(s)) {
    std::size_t nul = s_.find('\0');
    if (nul != std::string::npos) s_.resize(nul);
}

Text concatText(std::initializer_list<Text> parts) {
    std::size_t total = 0;
    for (const Text& p : parts) total += p.size();
    std::string out;
    out.reserve(total);
    for (const Text& p : parts) out += p.str();
    return Text(std::move(out));
}

int compareText(const Text& a, const Text& b) {
    std::size_t n = std::min(a.size(), b.size());
    int r = n == 0 ? 0 : std::memcmp(a.c_str(), b.c_str(), n);  // memcmp compares unsigned
    if (r != 0) return r < 0 ? -1 : 1;
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

int textLength(const Text& t) { return clampToInt(t.size()); }

int findText(const Text& t, const Text& needle, int start, bool ignoreCase) {
    std::string_view s = t.view();
    if (start < 1) start = 1;
    if (static_cast<std::size_t>(start) > s.size()) return -1;
    if (needle.empty()) return 1;
    // Units are counted from the first byte, so a start that falls on the
    // second byte of a double-byte character begins at the next character.
    std::size_t i = 0;
    while (i < static_cast<std::size_t>(start) - 1) i += unitWidth(s, i);
    for (; i < s.size(); i += unitWidth(s, i)) {
        if (matchesAt(s, i, needle.view(), ignoreCase)) return clampToInt(i + 1);
    }
    return -1;
}

Text textLeft(const Text& t, int n) {
    if (n <= 0) return {};
    return Text(t.view().substr(0, static_cast<std::size_t>(n)));
}

Text textRight(const Text& t, int n) {
    if (n <= 0) return {};
    std::size_t k = std::min(static_cast<std::size_t>(n), t.size());
    return Text(t.view().substr(t.size() - k));
}

Text textMid(const Text& t, int start, int n) {
    if (start < 1 || static_cast<std::size_t>(start) > t.size() || n <= 0) return {};
    return Text(t.view().substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(n)));
}

Text replaceText(const Text& t, int start, int n, const Text* replacement) {
    std::string s = t.str();
    long long p = static_cast<long long>(start) - 1;
    if (p < 0) p = 0;
    if (p > static_cast<long long>(s.size())) p = static_cast<long long>(s.size());
    auto at = static_cast<std::size_t>(p);
    std::size_t count = n > 0 ? std::min(static_cast<std::size_t>(n), s.size() - at) : 0;
    s.erase(at, count);
    if (replacement != nullptr) s.insert(at, replacement->str());
    return Text(std::move(s));
}

Text removeAllSpaces(const Text& t) {
    std::string_view s = t.view();
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        if (isLead(s[i])) {
            if (i + 1 >= s.size()) break;  // a lone lead byte at the end goes
            if (!(s[i] == '\xA1' && s[i + 1] == '\xA1')) out.append(s.substr(i, 2));
            i += 2;
        } else {
            if (s[i] != ' ') out.push_back(s[i]);
            ++i;
        }
    }
    return Text(std::move(out));
}

namespace {

template <typename Change>
Text changeAsciiLetters(const Text& t, Change change) {
    std::string s = t.str();
    for (std::size_t i = 0; i < s.size();) {
        std::size_t w = unitWidth(s, i);
        if (w == 1) s[i] = change(s[i]);
        i += w;
    }
    return Text(std::move(s));
}

}  // namespace

Text toUpper(const Text& t) {
    return changeAsciiLetters(
        t, [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; });
}

Text toLower(const Text& t) { return changeAsciiLetters(t, foldAscii); }

Text charFromCode(int code) {
    char c = static_cast<char>(static_cast<unsigned char>(code & 0xFF));
    return Text(std::string_view(&c, 1));  // a zero byte gives the empty text
}

int32_t toInteger(const Text& t) {
    std::string s = narrowFullWidth(t.view());
    std::size_t i = 0;
    bool negative = skipSpaceAndSign(s, i);
    // Accumulate as a negative number: its range holds INT32_MIN.
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    int64_t v = 0;
    bool saturated = false;
    for (; i < s.size() && isDigit(s[i]); ++i) {
        if (saturated) continue;
        v = v * 10 - (s[i] - '0');
        if (v < kMin) saturated = true;
    }
    if (negative) return saturated ? static_cast<int32_t>(kMin) : static_cast<int32_t>(v);
    if (saturated || -v > kMax) return static_cast<int32_t>(kMax);
    return static_cast<int32_t>(-v);
}

double toNumber(const Text& t) {
    std::string s = narrowFullWidth(t.view());
    std::size_t i = 0;
    bool negative = skipSpaceAndSign(s, i);
    // Decimal digits, an optional fraction, an optional exponent; nothing else
    // (no hexadecimal, infinity or NaN forms), whatever the process locale.
    // `magnitude` is the decimal exponent of the first nonzero digit, which
    // tells overflow from underflow when the value is out of range.
    const std::size_t begin = i;
    std::size_t digits = 0;
    long long magnitude = 0;
    bool nonzero = false;
    long long place = 0;  // exponent of the digit at i
    std::size_t intEnd = i;
    while (intEnd < s.size() && isDigit(s[intEnd])) ++intEnd;
    place = static_cast<long long>(intEnd - i) - 1;
    for (; i < intEnd; ++i, --place, ++digits) {
        if (!nonzero && s[i] != '0') nonzero = true, magnitude = place;
    }
    if (i < s.size() && s[i] == '.') {
        std::size_t j = i + 1;
        place = -1;
        for (; j < s.size() && isDigit(s[j]); ++j, --place, ++digits) {
            if (!nonzero && s[j] != '0') nonzero = true, magnitude = place;
        }
        if (digits > 0) i = j;
    }
    if (digits == 0) return 0.0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        bool expNegative = false;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) expNegative = s[j++] == '-';
        if (j < s.size() && isDigit(s[j])) {
            long long exp = 0;
            for (; j < s.size() && isDigit(s[j]); ++j) {
                if (exp < 1000000000) exp = exp * 10 + (s[j] - '0');
            }
            magnitude += expNegative ? -exp : exp;
            i = j;
        }
    }
    double v = 0.0;
    auto [ptr, ec] = std::from_chars(s.data() + begin, s.data() + i, v, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Like strtod: too large gives infinity, too small gives zero.
        v = nonzero && magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (ec != std::errc()) {
        v = 0.0;
    }
    return negative ? -v : v;
}

Text toText(int64_t i) { return Text(std::to_string(i)); }

Text blankText(int n) {
    return n <= 0 ? Text() : Text(std::string(static_cast<std::size_t>(n), ' '));
}

int bytesLength(const Bytes& b) { return clampToInt(b.size()); }

Bytes textToBytes(const Text& t) { return Bytes(t.view()); }

Bytes blankBytes(int n) {
    return n <= 0 ? Bytes() : Bytes(std::string(static_cast<std::size_t>(n), '\0'));
}

Bytes bytesLeft(const Bytes& b, int n) {
    if (n <= 0) return {};
    return Bytes(b.view().substr(0, static_cast<std::size_t>(n)));
}

Bytes bytesRight(const Bytes& b, int n) {
    if (n <= 0) return {};
    std::size_t k = std::min(static_cast<std::size_t>(n), b.size());
    return Bytes(b.view().substr(b.size() - k));
}

Bytes concatBytes(std::initializer_list<Bytes> parts) {
    std::size_t total = 0;
    for (const Bytes& p : parts) total += p.size();
    std::string out;
    out.reserve(total);
    for (const Bytes& p : parts) out += p.str();
    return Bytes(std::move(out));
}

std::vector<Bytes> splitBytes(const Bytes& b, const Bytes& separator) {
    std::vector<Bytes> pieces;
    std::string_view s = b.view();
    std::string_view sep = separator.view();
    if (s.empty()) return pieces;
    // An empty separator occurs nowhere: the whole input is one piece.
    std::size_t pos = 0;
    if (!sep.empty()) {
        for (std::size_t hit = s.find(sep); hit != std::string_view::npos; hit = s.find(sep, pos)) {
            pieces.emplace_back(s.substr(pos, hit - pos));
            pos = hit + sep.size();
        }
    }
    if (pos < s.size()) pieces.emplace_back(s.substr(pos));
    return pieces;
}

int32_t truncateToInteger(double x) {
    if (std::isnan(x)) return 0;
    if (x >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (x <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(x);  // the conversion truncates toward zero
}

}  // namespace nds
