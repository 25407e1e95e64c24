// The demo search service's pages and routes; see demo_service.h.

#include "demo_service.h"

#include <httplib.h>
#include <iconv.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>

#ifndef NDS_DEMO_CORPUS_SOURCE
#define NDS_DEMO_CORPUS_SOURCE ""
#endif

namespace nds::demo {

namespace {

// The page format of the service the program was written for.
constexpr std::string_view kResultStart = "<div style=\"margin-top:8px; margin-bottom:2px;\">";
constexpr std::string_view kResultEnd = "<div align=center>";

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return fields;
}

std::string asciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string htmlEscape(std::string_view s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// For the pager's links: everything but unreserved ASCII escaped.
std::string urlEncode(std::string_view s) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

long parseOffset(std::string_view s) {
    if (s.empty()) return 0;
    const std::string text(s);
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || errno == ERANGE || v < 0) return 0;
    return std::min<long>(v, INT_MAX);
}

}  // namespace

bool loadCorpus(const std::string& path, std::vector<Entry>& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    out.clear();
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f = splitTabs(line);
        f.resize(4);
        if (f[0].empty()) continue;
        out.push_back({f[0], f[1], f[2], f[3]});
    }
    return true;
}

std::string percentDecode(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
            i += 2;
        } else {
            // '+' stays '+': the program sends its keyword's bytes as typed.
            out += s[i];
        }
    }
    return out;
}

std::string percentShow(std::string_view raw) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : raw) {
        if (c <= 0x20 || c >= 0x7F || c == '%') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool isValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = s[i];
        int len = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > s.size()) return false;
        for (int k = 1; k < len; ++k) {
            const unsigned char cc = s[i + k];
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += len;
    }
    return true;
}

std::string gbkToUtf8(std::string_view gbk) {
    iconv_t cd = iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(gbk);
    std::string out;
    std::string in(gbk);
    char* src = in.data();
    std::size_t srcLeft = in.size();
    char buf[256];
    while (srcLeft > 0) {
        char* dst = buf;
        std::size_t dstLeft = sizeof buf;
        const std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, dst - buf);
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // A byte that is not GBK (or a lead byte cut off at the end).
            out += "\xEF\xBF\xBD";  // U+FFFD
            ++src;
            --srcLeft;
        }
    }
    iconv_close(cd);
    return out;
}

Query parseSearchTarget(std::string_view target) {
    Query q;
    const std::size_t mark = target.find('?');
    if (mark == std::string_view::npos) return q;
    std::string_view rest = target.substr(mark + 1);
    bool haveKeyword = false, haveOffset = false;
    while (true) {
        const std::size_t amp = rest.find('&');
        const std::string_view param = rest.substr(0, amp);
        const std::size_t eq = param.find('=');
        const std::string_view name = param.substr(0, eq);
        const std::string_view value =
            eq == std::string_view::npos ? std::string_view() : param.substr(eq + 1);
        if (name == "q" && !haveKeyword) {
            haveKeyword = true;
            const std::string bytes = percentDecode(value);
            q.keyword = isValidUtf8(bytes) ? bytes : gbkToUtf8(bytes);
        } else if (name == "p" && !haveOffset) {
            haveOffset = true;
            q.offset = parseOffset(value);
        }
        if (amp == std::string_view::npos) break;
        rest = rest.substr(amp + 1);
    }
    return q;
}

std::vector<const Entry*> findEntries(const std::vector<Entry>& corpus, std::string_view keyword) {
    const std::string needle = asciiLower(keyword);
    std::vector<const Entry*> found;
    for (const Entry& e : corpus) {
        if (asciiLower(e.title).find(needle) != std::string::npos) found.push_back(&e);
    }
    return found;
}

std::string searchPage(const std::vector<Entry>& corpus, const Query& query) {
    const std::vector<const Entry*> found = findEntries(corpus, query.keyword);
    const long total = static_cast<long>(found.size());
    const std::string kw = htmlEscape(query.keyword);
    std::string page;
    page += "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n";
    page += "<title>" + kw + " - 网盘搜索演示</title></head>\n<body>\n";
    page += "<div class=\"top\"><a href=\"/\">网盘搜索演示</a> &gt; " + kw + "</div>\n";
    page += "<div class=\"count\">为您获得约 <strong>" + std::to_string(total) +
            "</strong> 条结果</div>\n";
    // The result block: the page's results, then the pager, whose marker ends
    // the block for a reader that cuts at it. A page with nothing to show has
    // the two markers side by side.
    page += kResultStart;
    for (long i = query.offset; i < total && i < query.offset + kPageSize; ++i) {
        const Entry& e = *found[i];
        page += "<p><a href=\"" + htmlEscape(e.link) + "\" target=\"_blank\">" +
                htmlEscape(e.title) + "</a><br>\n<font color=\"#008000\">大小：" +
                htmlEscape(e.size) + " &nbsp; 分享时间：" + htmlEscape(e.date) + "</font></p>\n";
    }
    page += kResultEnd;
    const std::string q = urlEncode(query.keyword);
    if (query.offset > 0) {
        page += "<a href=\"/s?q=" + q +
                "&p=" + std::to_string(std::max(0L, query.offset - kPageSize)) + "\">上一页</a> ";
    }
    if (query.offset + kPageSize < total) {
        page += "<a href=\"/s?q=" + q + "&p=" + std::to_string(query.offset + kPageSize) +
                "\">下一页</a>";
    }
    page += "</div></div>\n</body></html>\n";
    return page;
}

std::string homePage(std::size_t entries) {
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>网盘搜索演示</title>"
           "</head>\n<body>\n<h1>网盘搜索演示服务</h1>\n<p>一个本机上的演示搜索服务，收录 " +
           std::to_string(entries) +
           " 条虚构的分享链接。</p>\n<p>A local demo search service with made-up share "
           "links. Try <a href=\"/s?q=%E5%90%88%E9%9B%86\">合集</a>, "
           "<a href=\"/s?q=linux\">linux</a> or <a href=\"/s?q=open%20data&p=10\">open "
           "data, page 2</a>.</p>\n</body></html>\n";
}

void RequestLog::write(std::string_view method, std::string_view target) {
    if (!file_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string line = std::string(method) + " " + percentShow(target) + "\n";
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

void installRoutes(httplib::Server& server, const std::vector<Entry>& corpus, RequestLog& log) {
    // httplib's default sets SO_REUSEPORT, with which a second service on a
    // busy port would share it silently and answer every other request.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // Logged as the request arrives, before any answer goes out: whoever
    // got the page can read the line.
    server.set_pre_routing_handler([&log](const httplib::Request& req, httplib::Response&) {
        log.write(req.method, req.target);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // Every answer sets the service's cookie, as the real service does.
    server.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "ndsdemo=1; Path=/");
    });
    server.Get("/s", [&corpus](const httplib::Request& req, httplib::Response& res) {
        // req.target is the request line's target as it arrived; the decoded
        // params of httplib would lose what a GBK byte was.
        res.set_content(searchPage(corpus, parseSearchTarget(req.target)),
                        "text/html; charset=utf-8");
    });
    server.Get("/", [&corpus](const httplib::Request&, httplib::Response& res) {
        res.set_content(homePage(corpus.size()), "text/html; charset=utf-8");
    });
}

std::string defaultCorpusPath() {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string dir(self, n);
        dir = dir.substr(0, dir.rfind('/') + 1);
        const std::string beside = dir + "corpus.tsv";
        if (access(beside.c_str(), R_OK) == 0) return beside;
    }
    return NDS_DEMO_CORPUS_SOURCE;
}

}  // namespace nds::demo
