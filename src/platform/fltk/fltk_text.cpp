// The text edge of the FLTK backend: GBK <-> UTF-8 through the platform's code
// pages, FLTK label escaping, and the cleaning of the HTML view's pages.
// Leaves out any HTML checking beyond what the view needs to stay safe.
#include "platform/fltk/fltk_text.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "platform/codepage.h"

namespace nds::fltk {
namespace {

constexpr unsigned kGbk = 936;
constexpr unsigned kUtf8 = 65001;

std::u16string decode(unsigned codePage, std::string_view bytes) {
    if (bytes.empty()) return {};
    const int n = static_cast<int>(bytes.size());
    const int units = multiByteToWideChar(codePage, 0, bytes.data(), n, nullptr, 0);
    if (units <= 0) return {};
    std::u16string wide(static_cast<size_t>(units), u'\0');
    const int got = multiByteToWideChar(codePage, 0, bytes.data(), n, wide.data(), units);
    wide.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return wide;
}

std::string encode(unsigned codePage, const std::u16string& wide) {
    if (wide.empty()) return {};
    // At most three bytes per UTF-16 unit in UTF-8, two in GBK.
    std::string out(wide.size() * 3 + 4, '\0');
    const int got = wideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                        out.data(), static_cast<int>(out.size()));
    out.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return out;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// One character as GBK bytes, for a numeric entity.
std::string codePointToGbk(uint32_t cp) {
    if (cp == 0 || cp > 0x10FFFF) return "?";
    if (cp < 0x80) return std::string(1, static_cast<char>(cp));
    std::u16string wide;
    if (cp < 0x10000) {
        wide.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        wide.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        wide.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
    return encode(kGbk, wide);
}

// An attribute value as a browser reads it: the common entities decoded.
std::string decodeEntities(std::string_view v) {
    static const struct {
        std::string_view name;
        char c;
    } named[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    std::string out;
    size_t i = 0;
    while (i < v.size()) {
        if (v[i] != '&') {
            out.push_back(v[i++]);
            continue;
        }
        const size_t semi = v.find(';', i);
        if (semi == std::string_view::npos || semi - i > 10) {
            out.push_back(v[i++]);
            continue;
        }
        std::string_view body = v.substr(i + 1, semi - i - 1);
        bool done = false;
        if (!body.empty() && body[0] == '#') {
            uint32_t cp = 0;
            std::string_view digits = body.substr(1);
            int base = 10;
            if (!digits.empty() && (digits[0] == 'x' || digits[0] == 'X')) {
                digits.remove_prefix(1);
                base = 16;
            }
            auto [end, ec] =
                std::from_chars(digits.data(), digits.data() + digits.size(), cp, base);
            if (ec == std::errc() && end == digits.data() + digits.size() && !digits.empty()) {
                out += codePointToGbk(cp);
                done = true;
            }
        } else {
            for (const auto& e : named) {
                if (equalsIgnoreCase(body, e.name)) {
                    out.push_back(e.c);
                    done = true;
                    break;
                }
            }
        }
        if (done) {
            i = semi + 1;
        } else {
            out.push_back(v[i++]);
        }
    }
    return out;
}

struct Attribute {
    std::string_view name;
    std::string_view value;  // without its quotes
    bool hasValue = false;
};

// Parses the attributes of a tag from `pos` (just after the tag name) up to
// its '>'. Returns the position of the '>' or npos when the tag is not closed.
size_t parseAttributes(std::string_view s, size_t pos, std::vector<Attribute>& out) {
    constexpr size_t npos = std::string_view::npos;
    while (pos < s.size()) {
        while (pos < s.size() && (isSpace(s[pos]) || s[pos] == '/')) ++pos;
        if (pos >= s.size()) break;
        if (s[pos] == '>') return pos;
        const size_t start = pos++;  // a name has at least one character, even '='
        while (pos < s.size() && !isSpace(s[pos]) && s[pos] != '=' && s[pos] != '>' &&
               s[pos] != '/') {
            ++pos;
        }
        Attribute a;
        a.name = s.substr(start, pos - start);
        size_t look = pos;
        while (look < s.size() && isSpace(s[look])) ++look;
        if (look < s.size() && s[look] == '=') {
            a.hasValue = true;
            pos = look + 1;
            while (pos < s.size() && isSpace(s[pos])) ++pos;
            if (pos < s.size() && (s[pos] == '"' || s[pos] == '\'')) {
                const size_t open = pos;
                const size_t close = s.find(s[open], open + 1);
                const size_t lt = s.find('<', open + 1);
                if (close != npos && (lt == npos || close < lt)) {
                    a.value = s.substr(open + 1, close - open - 1);
                    pos = close + 1;
                } else {
                    // A missing quote: the value, and the tag, end at the next '>'.
                    const size_t gt = s.find('>', open + 1);
                    if (gt == npos) return npos;
                    a.value = s.substr(open + 1, gt - open - 1);
                    pos = gt;
                }
            } else {
                const size_t vstart = pos;
                while (pos < s.size() && !isSpace(s[pos]) && s[pos] != '>') ++pos;
                a.value = s.substr(vstart, pos - vstart);
            }
        }
        out.push_back(a);
    }
    return npos;
}

bool isAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// Tag and attribute names the view may see: letters, digits and "-_:.".
bool isPlainName(std::string_view name, bool tag) {
    if (name.empty() || !isAsciiAlpha(name[0])) return false;
    for (char c : name) {
        if (isAsciiAlpha(c) || isAsciiDigit(c)) continue;
        if (!tag && (c == '-' || c == '_' || c == ':' || c == '.')) continue;
        return false;
    }
    return true;
}

void appendLower(std::string& out, std::string_view name) {
    for (char c : name)
        out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
}

// A value inside double quotes, with nothing that could end or start a tag
// for the view.
void appendValue(std::string& out, std::string_view v) {
    for (char c : v) {
        switch (c) {
            case '"':
                out += "&quot;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out.push_back(c);
        }
    }
}

// A <font size> value as an absolute size 1 to 7; empty when it is no size.
// The view scales its body size by 1.2 to the power (size - 3), and a relative
// size by the same power of the size around it, so an unbounded value would
// ask the X server for fonts of any size.
std::string fontSize(std::string_view v) {
    while (!v.empty() && isSpace(v.front())) v.remove_prefix(1);
    int sign = 0;
    if (!v.empty() && (v[0] == '+' || v[0] == '-')) {
        sign = v[0] == '+' ? 1 : -1;
        v.remove_prefix(1);
    }
    size_t digits = 0;
    while (digits < v.size() && isAsciiDigit(v[digits])) ++digits;
    if (digits == 0) return {};
    int n = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + digits, n);
    if (ec != std::errc()) n = 100;  // too many digits: far beyond either end
    const long size = sign == 0 ? n : 3L + sign * static_cast<long>(n);
    return std::to_string(std::clamp(size, 1L, 7L));
}

// Writes one tag in the regular form, or nothing when the view must not see it.
void writeTag(std::string& out, bool closing, std::string_view name,
              const std::vector<Attribute>& attrs, std::vector<Text>& links) {
    if (!isPlainName(name, true) || equalsIgnoreCase(name, "img")) return;
    out.push_back('<');
    if (closing) {
        out.push_back('/');
        appendLower(out, name);
        out.push_back('>');
        return;
    }
    appendLower(out, name);
    const bool anchor = equalsIgnoreCase(name, "a");
    const bool font = equalsIgnoreCase(name, "font");
    const bool body = equalsIgnoreCase(name, "body");
    if (anchor) {
        const Attribute* target = nullptr;
        for (const char* wanted : {"href", "url"}) {
            for (const Attribute& a : attrs) {
                if (equalsIgnoreCase(a.name, wanted)) {
                    target = &a;
                    break;
                }
            }
            if (target) break;
        }
        if (target) {
            out += " href=\"";
            out += kLinkScheme;
            out += std::to_string(links.size());
            out += '"';
            links.emplace_back(decodeEntities(target->value));
        }
    }
    for (const Attribute& a : attrs) {
        if (!isPlainName(a.name, false)) continue;
        if (anchor && (equalsIgnoreCase(a.name, "href") || equalsIgnoreCase(a.name, "url"))) {
            continue;
        }
        if (body && (equalsIgnoreCase(a.name, "link") || equalsIgnoreCase(a.name, "vlink") ||
                     equalsIgnoreCase(a.name, "alink"))) {
            continue;
        }
        std::string value(a.value);
        if (font && equalsIgnoreCase(a.name, "size")) {
            value = fontSize(a.value);
            if (value.empty()) continue;
        }
        if (font && equalsIgnoreCase(a.name, "face") && a.value.size() >= 6 &&
            equalsIgnoreCase(a.value.substr(0, 6), "symbol")) {
            continue;
        }
        out.push_back(' ');
        appendLower(out, a.name);
        if (a.hasValue) {
            out += "=\"";
            appendValue(out, value);
            out.push_back('"');
        }
    }
    out.push_back('>');
}

}  // namespace

std::string gbkToUtf8(std::string_view gbk) { return encode(kUtf8, decode(kGbk, gbk)); }

Text utf8ToGbk(std::string_view utf8) { return Text(encode(kGbk, decode(kUtf8, utf8))); }

std::string labelText(const Text& gbk) {
    std::string utf8 = gbkToUtf8(gbk.view());
    std::string out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        if (c == '\r') continue;
        if (c == '@') out.push_back('@');
        out.push_back(c);
    }
    return out;
}

std::string prepareHtml(std::string_view s, std::vector<Text>& links) {
    constexpr size_t npos = std::string_view::npos;
    std::string out;
    out.reserve(s.size() + 64);
    size_t pos = 0;
    while (pos < s.size()) {
        const size_t lt = s.find('<', pos);
        if (lt == npos) {
            out.append(s.substr(pos));
            break;
        }
        // GBK trail bytes lie above 0x3F, so '<' and '>' are never part of a
        // character.
        out.append(s.substr(pos, lt - pos));
        if (s.substr(lt, 4) == "<!--") {
            const size_t end = s.find("-->", lt + 4);
            if (end == npos) break;  // an open comment hides the rest, as in a browser
            pos = end + 3;
            continue;
        }
        const char next = lt + 1 < s.size() ? s[lt + 1] : '\0';
        if (next == '!' || next == '?') {
            const size_t gt = s.find('>', lt);
            if (gt == npos) break;
            pos = gt + 1;
            continue;
        }
        const bool closing = next == '/';
        const size_t nameStart = lt + (closing ? 2 : 1);
        if (nameStart >= s.size() || !isAsciiAlpha(s[nameStart])) {
            out += "&lt;";  // a '<' in the text
            pos = lt + 1;
            continue;
        }
        size_t nameEnd = nameStart;
        while (nameEnd < s.size() && !isSpace(s[nameEnd]) && s[nameEnd] != '>' &&
               s[nameEnd] != '/') {
            ++nameEnd;
        }
        std::vector<Attribute> attrs;
        const size_t gt = parseAttributes(s, nameEnd, attrs);
        if (gt == npos) break;  // a tag left open at the end of the page
        writeTag(out, closing, s.substr(nameStart, nameEnd - nameStart), attrs, links);
        pos = gt + 1;
    }
    return out;
}

int linkIndex(std::string_view uri) {
    if (uri.substr(0, kLinkScheme.size()) != kLinkScheme) return -1;
    std::string_view digits = uri.substr(kLinkScheme.size());
    int n = -1;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (ec != std::errc() || end != digits.data() + digits.size() || n < 0) return -1;
    return n;
}

}  // namespace nds::fltk
