// Code-page conversion for Linux: our own UTF-8 <-> UTF-16 codec, and code page
// 936 through glibc iconv ("GBK"), with iconv's transliteration as best fit.
// Leaves out every other code page and the Windows flags (all are ignored).
#include "platform/codepage.h"

#include <iconv.h>
#include <locale.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>

namespace nds {
namespace {

constexpr unsigned kCp936 = 936;
constexpr unsigned kCp65001 = 65001;
constexpr char16_t kReplacement = 0xFFFD;

// One iconv descriptor for the length of one call, so calls on different
// threads never share conversion state.
class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much of [in, inEnd) as iconv takes, moving both pointers.
    // Returns 0 when all input was used, else the errno iconv stopped with.
    int step(const char*& in, const char* inEnd, char*& out, char* outEnd) {
        char* inp = const_cast<char*>(in);
        std::size_t inLeft = static_cast<std::size_t>(inEnd - in);
        std::size_t outLeft = static_cast<std::size_t>(outEnd - out);
        std::size_t r = iconv(cd_, &inp, &inLeft, &out, &outLeft);
        int err = r == static_cast<std::size_t>(-1) ? errno : 0;
        in = inp;
        return err;
    }

    void reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

private:
    iconv_t cd_;
};

bool isCont(unsigned char b) { return b >= 0x80 && b <= 0xBF; }

void appendCodePoint(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// UTF-8 to UTF-16 that never fails. Each ill-formed sequence becomes one
// U+FFFD per maximal subpart: a lead byte and the continuation bytes that could
// still have completed it are replaced together, and decoding resumes at the
// first byte that broke the sequence.
std::u16string decodeUtf8(const unsigned char* s, std::size_t n) {
    std::u16string out;
    out.reserve(n);
    std::size_t i = 0;
    while (i < n) {
        unsigned char b = s[i];
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        int need;
        char32_t cp;
        unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            cp = b & 0x0F;
            if (b == 0xE0) lo = 0xA0;  // no over-long forms
            if (b == 0xED) hi = 0x9F;  // no surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            cp = b & 0x07;
            if (b == 0xF0) lo = 0x90;  // no over-long forms
            if (b == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
        } else {
            // Stray continuation byte, C0/C1 (always over-long) or F5..FF.
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool good = true;
        for (int k = 0; k < need; ++k, ++j) {
            if (j >= n) {
                good = false;
                break;
            }
            unsigned char c = s[j];
            bool inRange = k == 0 ? (c >= lo && c <= hi) : isCont(c);
            if (!inRange) {
                good = false;
                break;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        if (good) {
            appendCodePoint(out, cp);
        } else {
            out.push_back(kReplacement);
        }
        i = j;
    }
    return out;
}

// GBK to UTF-16 through iconv. A byte pair iconv rejects becomes one U+FFFD
// when its second byte could be a trail byte; otherwise only the first byte is
// replaced, so an ASCII byte after a broken lead byte survives.
std::u16string decodeGbk(const unsigned char* s, std::size_t n) {
    // Every GBK character, valid or not, yields one unit.
    std::string buf(2 * n, '\0');
    char* out = buf.data();
    char* outEnd = buf.data() + buf.size();
    const char* in = reinterpret_cast<const char*>(s);
    const char* inEnd = in + n;
    Iconv cd("UTF-16LE", "GBK");
    auto replace = [&out] {
        *out++ = '\xFD';
        *out++ = '\xFF';
    };
    while (in < inEnd) {
        int err = cd.ok() ? cd.step(in, inEnd, out, outEnd) : EILSEQ;
        if (err == 0) break;
        if (err == E2BIG || outEnd - out < 2) break;  // cannot happen: see the sizing above
        auto lead = static_cast<unsigned char>(*in);
        if (lead < 0x80) {  // only without iconv
            *out++ = static_cast<char>(lead);
            *out++ = '\0';
            ++in;
            continue;
        }
        replace();
        bool pair = false;
        if (lead >= 0x81 && lead <= 0xFE && inEnd - in >= 2) {
            auto trail = static_cast<unsigned char>(in[1]);
            pair = (trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFE);
        }
        in += pair ? 2 : 1;
        if (cd.ok()) cd.reset();
    }
    std::u16string units;
    units.reserve(static_cast<std::size_t>(out - buf.data()) / 2);
    for (const char* p = buf.data(); p + 1 < out; p += 2) {
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                              (static_cast<unsigned char>(p[1]) << 8)));
    }
    return units;
}

// Reads one code point from UTF-16 units; a lone surrogate gives -1.
long nextCodePoint(const char16_t* s, std::size_t n, std::size_t& i) {
    char16_t u = s[i++];
    if (u < 0xD800 || u > 0xDFFF) return u;
    if (u <= 0xDBFF && i < n && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
        char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (s[i] - 0xDC00);
        ++i;
        return static_cast<long>(cp);
    }
    return -1;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string encodeUtf8(const char16_t* s, std::size_t n) {
    std::string out;
    out.reserve(n * 3);
    std::size_t i = 0;
    while (i < n) {
        long cp = nextCodePoint(s, n, i);
        appendUtf8(out, cp < 0 ? 0xFFFD : static_cast<char32_t>(cp));
    }
    return out;
}

// One GBK character: a single byte below 0x80 or a lead byte and its trail.
bool isOneGbkChar(const char* p, long len) {
    auto b0 = static_cast<unsigned char>(p[0]);
    if (len == 1) return true;
    return len == 2 && b0 >= 0x81 && b0 <= 0xFE;
}

// Converts one UTF-32LE character; returns the bytes written, or -1 when the
// descriptor could not take all of it.
long convertOne(Iconv& cd, const char (&in)[4], char* buf, std::size_t cap) {
    if (!cd.ok()) return -1;
    cd.reset();
    const char* p = in;
    char* out = buf;
    if (cd.step(p, in + 4, out, buf + cap) != 0 || p != in + 4) return -1;
    return static_cast<long>(out - buf);
}

// glibc takes its transliterations from the LC_CTYPE of the calling thread,
// and the "C" locale a program starts in has almost none. The best fit is done
// under C.UTF-8 for this thread only, whatever locale the process runs in.
class BestFitLocale {
public:
    BestFitLocale() {
        static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
        if (utf8 != locale_t(0)) old_ = uselocale(utf8);
    }
    ~BestFitLocale() {
        if (old_ != locale_t(0)) uselocale(old_);
    }
    BestFitLocale(const BestFitLocale&) = delete;
    BestFitLocale& operator=(const BestFitLocale&) = delete;

private:
    locale_t old_ = locale_t(0);
};

// UTF-16 to GBK. Characters GBK holds convert directly; for the others the
// transliteration of iconv serves as best fit when it yields one character
// (so a unit never takes more than two bytes), and '?' stands in otherwise.
std::string encodeGbk(const char16_t* s, std::size_t n) {
    std::string out;
    out.reserve(n * 2);
    Iconv plain("GBK", "UTF-32LE");
    std::optional<Iconv> fit;  // opened at the first character GBK lacks
    std::size_t i = 0;
    while (i < n) {
        long cp = nextCodePoint(s, n, i);
        if (cp >= 0 && cp < 0x80) {
            out.push_back(static_cast<char>(cp));
            continue;
        }
        if (cp < 0) {
            out.push_back('?');
            continue;
        }
        const char in[4] = {static_cast<char>(cp), static_cast<char>(cp >> 8),
                            static_cast<char>(cp >> 16), static_cast<char>(cp >> 24)};
        char buf[16];
        long len = convertOne(plain, in, buf, sizeof buf);
        if (len <= 0) {
            BestFitLocale scope;
            if (!fit) fit.emplace("GBK//TRANSLIT", "UTF-32LE");
            len = convertOne(*fit, in, buf, sizeof buf);
        }
        if (len > 0 && isOneGbkChar(buf, len)) {
            out.append(buf, static_cast<std::size_t>(len));
        } else {
            out.push_back('?');
        }
    }
    return out;
}

}  // namespace

int multiByteToWideChar(unsigned codePage, uint32_t flags, const char* src, int srcLen,
                        char16_t* dst, int dstLen) {
    if (src == nullptr || dstLen < 0 || (dstLen > 0 && dst == nullptr)) return 0;
    // -1: the source ends at its NUL, which is converted too.
    std::size_t n;
    if (srcLen == -1) {
        n = std::strlen(src) + 1;
    } else if (srcLen > 0) {
        n = static_cast<std::size_t>(srcLen);
    } else {
        return 0;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(src);
    std::u16string units;
    if (codePage == kCp65001) {
        units = decodeUtf8(bytes, n);
    } else if (codePage == kCp936) {
        units = decodeGbk(bytes, n);
    } else {
        return 0;
    }
    if (units.size() > static_cast<std::size_t>(INT32_MAX)) return 0;
    int count = static_cast<int>(units.size());
    if (dstLen == 0) return count;
    if (count > dstLen) return 0;
    std::memcpy(dst, units.data(), units.size() * sizeof(char16_t));
    return count;
}

int wideCharToMultiByte(unsigned codePage, uint32_t flags, const char16_t* src, int srcLen,
                        char* dst, int dstLen) {
    if (src == nullptr || dstLen < 0 || (dstLen > 0 && dst == nullptr)) return 0;
    std::size_t n;
    if (srcLen == -1) {
        n = std::char_traits<char16_t>::length(src) + 1;
    } else if (srcLen > 0) {
        n = static_cast<std::size_t>(srcLen);
    } else {
        return 0;
    }
    std::string bytes;
    if (codePage == kCp936) {
        bytes = encodeGbk(src, n);
    } else if (codePage == kCp65001) {
        bytes = encodeUtf8(src, n);
    } else {
        return 0;
    }
    if (bytes.size() > static_cast<std::size_t>(INT32_MAX)) return 0;
    int count = static_cast<int>(bytes.size());
    if (dstLen == 0) return count;
    if (count > dstLen) return 0;
    std::memcpy(dst, bytes.data(), bytes.size());
    return count;
}

}  // namespace nds
