// The text edge of the FLTK backend: GBK <-> UTF-8 through the platform's code
// pages, FLTK label escaping, and the link rewriting of the HTML view.
// Leaves out any HTML beyond the <a> tag and the common entities.
#include "platform/fltk/fltk_text.h"

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
    std::string_view raw;  // the whole attribute as written
    std::string_view name;
    std::string_view value;  // without its quotes
};

// Parses the attributes of a tag from `pos` (just after the tag name) up to
// its '>'. Returns the position of the '>' or npos when the tag is not closed.
size_t parseAttributes(std::string_view s, size_t pos, std::vector<Attribute>& out) {
    while (pos < s.size()) {
        while (pos < s.size() && isSpace(s[pos])) ++pos;
        if (pos >= s.size()) break;
        if (s[pos] == '>') return pos;
        const size_t start = pos;
        if (s[pos] == '/') {
            ++pos;
            continue;
        }
        while (pos < s.size() && !isSpace(s[pos]) && s[pos] != '=' && s[pos] != '>') ++pos;
        Attribute a;
        a.name = s.substr(start, pos - start);
        size_t look = pos;
        while (look < s.size() && isSpace(s[look])) ++look;
        if (look < s.size() && s[look] == '=') {
            pos = look + 1;
            while (pos < s.size() && isSpace(s[pos])) ++pos;
            if (pos < s.size() && (s[pos] == '"' || s[pos] == '\'')) {
                const char quote = s[pos];
                const size_t close = s.find(quote, pos + 1);
                if (close == std::string_view::npos) return std::string_view::npos;
                a.value = s.substr(pos + 1, close - pos - 1);
                pos = close + 1;
            } else {
                const size_t vstart = pos;
                while (pos < s.size() && !isSpace(s[pos]) && s[pos] != '>') ++pos;
                a.value = s.substr(vstart, pos - vstart);
            }
        }
        a.raw = s.substr(start, pos - start);
        out.push_back(a);
    }
    return std::string_view::npos;
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

std::string rewriteLinks(std::string_view s, std::vector<Text>& links) {
    std::string out;
    out.reserve(s.size() + 64);
    size_t pos = 0;
    while (pos < s.size()) {
        const size_t lt = s.find('<', pos);
        if (lt == std::string_view::npos) break;
        out.append(s.substr(pos, lt - pos));
        pos = lt;
        if (s.substr(lt, 4) == "<!--") {
            const size_t end = s.find("-->", lt + 4);
            const size_t stop = end == std::string_view::npos ? s.size() : end + 3;
            out.append(s.substr(lt, stop - lt));
            pos = stop;
            continue;
        }
        const bool anchor = lt + 2 <= s.size() && (s[lt + 1] == 'a' || s[lt + 1] == 'A') &&
                            (lt + 2 == s.size() || isSpace(s[lt + 2]) || s[lt + 2] == '>');
        if (!anchor) {
            out.push_back('<');
            ++pos;
            continue;
        }
        std::vector<Attribute> attrs;
        const size_t gt = parseAttributes(s, lt + 2, attrs);
        if (gt == std::string_view::npos) {
            out.append(s.substr(lt));  // an unclosed tag: left as it is
            pos = s.size();
            break;
        }
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
        if (!target) {
            out.append(s.substr(lt, gt + 1 - lt));
        } else {
            out += "<a";
            for (const Attribute& a : attrs) {
                if (equalsIgnoreCase(a.name, "href") || equalsIgnoreCase(a.name, "url")) continue;
                out.push_back(' ');
                out.append(a.raw);
            }
            out += " href=\"";
            out += kLinkScheme;
            out += std::to_string(links.size());
            out += "\">";
            links.emplace_back(decodeEntities(target->value));
        }
        pos = gt + 1;
    }
    if (pos < s.size()) out.append(s.substr(pos));
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
