// The HTTP layer of platform/http.h for Linux, on libcurl: WinINet's handles, request
// building, redirects, raw headers, in-memory cookie store, proxy list and Basic retry.
// Leaves out https, caching, asynchronous calls and every other authentication scheme.
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/http.h"
#include "platform/posix/http_limits.h"

namespace nds {
namespace {

using Clock = std::chrono::steady_clock;

// Limits of one exchange. The stall limit (no byte arriving) is 60 s; tests shorten it
// with setStallLimitSeconds (platform/posix/http_limits.h).
// The whole exchange, redirects and the credential retry included, ends after five stall
// limits, so a server that trickles one byte now and then cannot keep a fetch alive forever.
constexpr int kDefaultStallSeconds = 60;
constexpr long kConnectTimeoutSeconds = 60;
constexpr int kExchangeLimitInStalls = 5;
constexpr int kMaxRedirects = 10;
// A body beyond this size ends as if the connection broke there (the bytes so far are
// kept), so a hostile server cannot exhaust memory.
constexpr size_t kMaxBodyBytes = size_t{64} << 20;
// Header lines of one response beyond this total make the send fail.
constexpr size_t kMaxHeaderBytes = size_t{256} << 10;
// Cookie store limits: longer cookies are refused, a host keeps its newest cookies.
constexpr size_t kMaxCookieBytes = 4096;
constexpr size_t kMaxCookiesPerHost = 50;

std::atomic<int> stallLimit{kDefaultStallSeconds};

int stallSeconds() { return stallLimit.load(std::memory_order_relaxed); }

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

// ---------------------------------------------------------------- small text helpers

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string toLowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = lowerAscii(c);
    return out;
}

std::string toUpperAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

bool startsWithIgnoreCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && equalsIgnoreCase(s.substr(0, prefix.size()), prefix);
}

bool isSpaceOrTab(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isSpaceOrTab(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpaceOrTab(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view textOf(const char* s) { return s == nullptr ? std::string_view() : s; }

// A header name must be an HTTP token; anything else cannot go out on a request line.
bool isTokenChar(unsigned char c) {
    if (c <= 0x20 || c >= 0x7F) return false;
    return std::strchr("()<>@,;:\\\"/[]?={}", c) == nullptr;
}

bool isToken(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return isTokenChar(static_cast<unsigned char>(c));
    });
}

// Host names the layer will hand to libcurl: letters, digits, '-', '.', '_'. Anything
// else (user info, spaces, brackets) could not be resolved by WinINet either and would
// make libcurl read the URL differently.
bool isPlainHost(std::string_view host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '.' || c == '_';
    });
}

// Spaces become %20 as WinINet does; control bytes are escaped too so that no text can
// split the request line or add a header. Bytes of 0x80 and above go out raw.
std::string escapePath(std::string_view path) {
    if (path.empty()) return "/";
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (char ch : path) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == ' ' || c < 0x20 || c == 0x7F) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string hostWithPort(const std::string& host, int port) {
    return port == 80 ? host : host + ":" + std::to_string(port);
}

// The path without its query or fragment, for cookie matching.
std::string_view pathOnly(std::string_view target) {
    size_t end = target.find_first_of("?#");
    if (end != std::string_view::npos) target = target.substr(0, end);
    return target.empty() ? std::string_view("/") : target;
}

// The default cookie path of a request path: its directory.
std::string defaultCookiePath(std::string_view target) {
    std::string_view path = pathOnly(target);
    if (path.empty() || path.front() != '/') return "/";
    size_t slash = path.rfind('/');
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string base64(std::string_view in) {
    static const char kTable[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        uint32_t v = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8) | uint8_t(in[i + 2]);
        out += kTable[(v >> 18) & 63];
        out += kTable[(v >> 12) & 63];
        out += kTable[(v >> 6) & 63];
        out += kTable[v & 63];
    }
    if (i + 1 == in.size()) {
        uint32_t v = uint8_t(in[i]) << 16;
        out += kTable[(v >> 18) & 63];
        out += kTable[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == in.size()) {
        uint32_t v = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8);
        out += kTable[(v >> 18) & 63];
        out += kTable[(v >> 12) & 63];
        out += kTable[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

// ---------------------------------------------------------------- header lists

struct HeaderLine {
    std::string name;
    std::string value;
};
using HeaderList = std::vector<HeaderLine>;

HeaderLine* findHeader(HeaderList& list, std::string_view name) {
    for (HeaderLine& line : list)
        if (equalsIgnoreCase(line.name, name)) return &line;
    return nullptr;
}

const HeaderLine* findHeader(const HeaderList& list, std::string_view name) {
    return findHeader(const_cast<HeaderList&>(list), name);
}

// Caller header text: lines end in CR LF, a lone CR or a lone LF. A name given twice
// keeps its first place and takes the later value. Lines without a token name before a
// ':' cannot be sent and are dropped.
HeaderList parseRequestHeaders(std::string_view text) {
    HeaderList list;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end;
        if (pos < text.size()) {  // past CR LF, or a lone CR or LF
            bool crlf = text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n';
            pos += crlf ? 2 : 1;
        }
        size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view name = trim(line.substr(0, colon));
        if (!isToken(name)) continue;
        std::string_view value = trim(line.substr(colon + 1));
        if (HeaderLine* existing = findHeader(list, name)) {
            existing->value = std::string(value);
        } else {
            list.push_back({std::string(name), std::string(value)});
        }
    }
    return list;
}

// ---------------------------------------------------------------- cookie store

struct Cookie {
    std::string name;
    std::string value;
    std::string path;
    std::optional<time_t> expires;
    uint64_t order = 0;
};

class CookieStore {
public:
    // Records a cookie given as `name=value; attributes` for `host` (lower-cased, no
    // port); `requestPath` gives the default path. False when the cookie is refused.
    bool set(const std::string& host, std::string_view requestPath, std::string_view text) {
        std::vector<std::string_view> parts;
        size_t pos = 0;
        while (true) {
            size_t semi = text.find(';', pos);
            parts.push_back(text.substr(pos, semi == std::string_view::npos ? semi : semi - pos));
            if (semi == std::string_view::npos) break;
            pos = semi + 1;
        }
        Cookie cookie;
        std::string_view first = parts[0];
        size_t eq = first.find('=');
        if (eq == std::string_view::npos) {
            cookie.value = std::string(trim(first));
        } else {
            cookie.name = std::string(trim(first.substr(0, eq)));
            cookie.value = std::string(trim(first.substr(eq + 1)));
        }
        cookie.path = defaultCookiePath(requestPath);
        for (size_t i = 1; i < parts.size(); ++i) {
            std::string_view attr = trim(parts[i]);
            size_t aeq = attr.find('=');
            std::string_view key = trim(attr.substr(0, aeq));
            std::string_view val =
                aeq == std::string_view::npos ? std::string_view() : trim(attr.substr(aeq + 1));
            if (equalsIgnoreCase(key, "path")) {
                if (!val.empty() && val.front() == '/') cookie.path = std::string(val);
            } else if (equalsIgnoreCase(key, "expires")) {
                std::string date(val);
                time_t when = curl_getdate(date.c_str(), nullptr);
                if (when != -1) cookie.expires = when;
            } else if (equalsIgnoreCase(key, "domain")) {
                std::string domain = toLowerAscii(val);
                if (!domain.empty() && domain.front() == '.') domain.erase(0, 1);
                bool matches = domain == host || (host.size() > domain.size() && !domain.empty() &&
                                                  host.compare(host.size() - domain.size(),
                                                               domain.size(), domain) == 0 &&
                                                  host[host.size() - domain.size() - 1] == '.');
                if (!matches) return false;
            }
        }
        if (cookie.name.size() + cookie.value.size() > kMaxCookieBytes) return false;
        auto hasControl = [](const std::string& s) {
            return std::any_of(s.begin(), s.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
            });
        };
        if (hasControl(cookie.name) || hasControl(cookie.value) || hasControl(cookie.path))
            return false;

        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Cookie>& jar = jars_[host];
        jar.erase(std::remove_if(jar.begin(), jar.end(),
                                 [&](const Cookie& c) {
                                     return c.name == cookie.name && c.path == cookie.path;
                                 }),
                  jar.end());
        if (cookie.expires && *cookie.expires <= std::time(nullptr)) return true;  // deleted
        cookie.order = ++counter_;
        jar.push_back(std::move(cookie));
        if (jar.size() > kMaxCookiesPerHost) jar.erase(jar.begin());
        return true;
    }

    // The value of the Cookie line for a request to `host` and `target`, empty when no
    // cookie matches. Longer paths first, then older cookies first.
    std::string cookieLine(const std::string& host, std::string_view target) {
        std::string_view path = pathOnly(target);
        std::vector<const Cookie*> matches;
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = jars_.find(host);
        if (it == jars_.end()) return {};
        time_t now = std::time(nullptr);
        std::vector<Cookie>& jar = it->second;
        jar.erase(std::remove_if(jar.begin(), jar.end(),
                                 [&](const Cookie& c) { return c.expires && *c.expires <= now; }),
                  jar.end());
        for (const Cookie& c : jar) {
            bool pathMatches =
                path == c.path ||
                (path.size() > c.path.size() && path.compare(0, c.path.size(), c.path) == 0 &&
                 (c.path.back() == '/' || path[c.path.size()] == '/'));
            if (pathMatches) matches.push_back(&c);
        }
        std::stable_sort(matches.begin(), matches.end(), [](const Cookie* a, const Cookie* b) {
            if (a->path.size() != b->path.size()) return a->path.size() > b->path.size();
            return a->order < b->order;
        });
        std::string line;
        for (const Cookie* c : matches) {
            if (!line.empty()) line += "; ";
            if (!c->name.empty()) line += c->name + "=";
            line += c->value;
        }
        return line;
    }

private:
    std::mutex mutex_;
    std::unordered_map<std::string, std::vector<Cookie>> jars_;
    uint64_t counter_ = 0;
};

CookieStore& cookieStore() {
    static CookieStore* store = new CookieStore();  // never destroyed: workers may outlive main
    return *store;
}

// ---------------------------------------------------------------- handles

enum class Kind { Root, Connection, Request };

struct Proxy {
    std::string host;
    int port = 80;
};

struct Handle {
    explicit Handle(Kind k) : kind(k) {}
    virtual ~Handle() = default;
    Kind kind;
};

struct RootHandle : Handle {
    RootHandle() : Handle(Kind::Root) {}
    std::string agent;
    std::optional<Proxy> proxy;
};

struct ConnectionHandle : Handle {
    ConnectionHandle() : Handle(Kind::Connection) {}
    std::string agent;
    std::optional<Proxy> proxy;
    std::string host;  // lower-cased
    int port = 80;
    bool hasCredentials = false;
    std::string user;
    std::string password;
};

struct Response {
    std::string statusLine;
    HeaderList headers;
    int status = 0;
};

struct RequestHandle : Handle {
    RequestHandle() : Handle(Kind::Request) {}
    ConnectionHandle connection;  // a copy: the request stays usable whatever is closed first
    std::string method;
    std::string target;  // escaped path
    long httpVersion = CURL_HTTP_VERSION_1_1;
    std::string referrer;
    std::string accept;

    std::mutex mutex;  // one call at a time on a request
    bool haveResponse = false;
    Response response;
    std::string body;
    size_t readPos = 0;
    bool bodyFailed = false;  // the body ended by a broken connection or a time limit
};

class HandleTable {
public:
    NetHandle add(std::shared_ptr<Handle> handle) {
        NetHandle key = handle.get();
        std::lock_guard<std::mutex> lock(mutex_);
        handles_[key] = std::move(handle);
        return key;
    }
    template <class T>
    std::shared_ptr<T> get(NetHandle key, Kind kind) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = handles_.find(key);
        if (it == handles_.end() || it->second->kind != kind) return nullptr;
        return std::static_pointer_cast<T>(it->second);
    }
    bool remove(NetHandle key) {
        std::shared_ptr<Handle> doomed;  // released outside the lock
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = handles_.find(key);
        if (it == handles_.end()) return false;
        doomed = std::move(it->second);
        handles_.erase(it);
        return true;
    }

private:
    std::mutex mutex_;
    std::map<NetHandle, std::shared_ptr<Handle>> handles_;
};

HandleTable& handleTable() {
    static HandleTable* table = new HandleTable();  // never destroyed: workers may outlive main
    return *table;
}

// The proxy list: space-separated `[scheme=]host[:port]`; the `http=` entry, or else the
// first entry without a scheme, serves http URLs. A list with neither (only entries for
// other schemes) lets http go direct.
struct ProxyChoice {
    bool named = false;          // the list names a proxy for http
    std::optional<Proxy> proxy;  // ... and this is it, when it can be used
};

std::optional<Proxy> parseProxyAddress(std::string_view address) {
    if (startsWithIgnoreCase(address, "http://")) address.remove_prefix(7);
    if (!address.empty() && address.back() == '/') address.remove_suffix(1);
    Proxy proxy;
    size_t colon = address.find(':');
    proxy.host = toLowerAscii(address.substr(0, colon));
    if (colon != std::string_view::npos) {
        std::string portText(address.substr(colon + 1));
        char* end = nullptr;
        long port = std::strtol(portText.c_str(), &end, 10);
        if (portText.empty() || *end != '\0' || port < 1 || port > 65535) return std::nullopt;
        proxy.port = static_cast<int>(port);
    }
    if (!isPlainHost(proxy.host)) return std::nullopt;
    return proxy;
}

ProxyChoice parseProxyList(std::string_view list) {
    std::optional<std::string_view> chosen;
    std::optional<std::string_view> bare;
    size_t pos = 0;
    while (pos < list.size()) {
        while (pos < list.size() && isSpaceOrTab(list[pos])) ++pos;
        size_t end = pos;
        while (end < list.size() && !isSpaceOrTab(list[end])) ++end;
        std::string_view entry = list.substr(pos, end - pos);
        pos = end;
        if (entry.empty()) continue;
        size_t eq = entry.find('=');
        if (eq == std::string_view::npos) {
            if (!bare) bare = entry;
        } else if (!chosen && eq + 1 < entry.size() &&
                   equalsIgnoreCase(entry.substr(0, eq), "http")) {
            chosen = entry.substr(eq + 1);  // an empty `http=` names nothing
        }
    }
    if (!chosen) chosen = bare;
    if (!chosen) return {};
    return {true, parseProxyAddress(*chosen)};
}

// ---------------------------------------------------------------- one hop of an exchange

struct Hop {
    std::string host;
    int port = 80;
    std::string target;  // escaped path, query included
};

// What the callbacks of one curl_easy_perform collect.
struct HopState {
    const Hop* hop = nullptr;
    bool inHeaders = false;
    bool finalHeaders = false;  // the headers of a final (non-1xx) response are complete
    Response current;
    size_t headerBytes = 0;
    std::string body;
    bool bodyCapped = false;
    bool connected = false;
    Clock::time_point lastActivity;
    Clock::time_point deadline;
    curl_off_t lastUpload = 0;
    CURLcode result = CURLE_OK;
};

int parseStatus(std::string_view statusLine) {
    size_t space = statusLine.find(' ');
    if (space == std::string_view::npos) return 0;
    int status = 0;
    for (size_t i = space + 1; i < statusLine.size() && i < space + 4; ++i) {
        char c = statusLine[i];
        if (c < '0' || c > '9') return 0;
        status = status * 10 + (c - '0');
    }
    return status;
}

size_t onHeader(char* data, size_t size, size_t count, void* userdata) {
    HopState& s = *static_cast<HopState*>(userdata);
    size_t length = size * count;
    s.lastActivity = Clock::now();
    s.headerBytes += length;
    if (s.headerBytes > kMaxHeaderBytes) return 0;  // ends the transfer with an error
    std::string line(data, length);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    std::replace(line.begin(), line.end(), '\0', ' ');
    if (!s.inHeaders) {
        // A status line opens a response; after the final headers only trailers come.
        if (!s.finalHeaders && line.rfind("HTTP/", 0) == 0) {
            s.current = Response();
            s.current.statusLine = line;
            s.current.status = parseStatus(line);
            s.inHeaders = true;
        }
        return length;
    }
    if (line.empty()) {
        s.inHeaders = false;
        if (s.current.status >= 200 || s.current.status < 100) s.finalHeaders = true;
        return length;
    }
    if (isSpaceOrTab(line.front())) {  // a folded continuation of the previous line
        if (!s.current.headers.empty()) {
            std::string_view more = trim(line);
            if (!more.empty()) s.current.headers.back().value += " " + std::string(more);
        }
        return length;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos) return length;
    std::string_view view(line);
    s.current.headers.push_back(
        {std::string(trim(view.substr(0, colon))), std::string(trim(view.substr(colon + 1)))});
    return length;
}

size_t onBody(char* data, size_t size, size_t count, void* userdata) {
    HopState& s = *static_cast<HopState*>(userdata);
    size_t length = size * count;
    s.lastActivity = Clock::now();
    size_t room = kMaxBodyBytes - s.body.size();
    if (length > room) {
        s.body.append(data, room);
        s.bodyCapped = true;
        return 0;  // ends the transfer; the bytes so far stay
    }
    s.body.append(data, length);
    return length;
}

int onConnected(void* userdata, char*, char*, int, int) {
    HopState& s = *static_cast<HopState*>(userdata);
    s.connected = true;
    s.lastActivity = Clock::now();
    return CURL_PREREQFUNC_OK;
}

int onProgress(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
    HopState& s = *static_cast<HopState*>(userdata);
    Clock::time_point now = Clock::now();
    if (uploaded != s.lastUpload) {
        s.lastUpload = uploaded;
        s.lastActivity = now;
    }
    if (now >= s.deadline) return 1;
    // Before the connection stands, the connect timeout governs.
    if (s.connected && now - s.lastActivity >= std::chrono::seconds(stallSeconds())) return 1;
    return 0;
}

struct CurlList {
    curl_slist* list = nullptr;
    ~CurlList() { curl_slist_free_all(list); }
    bool add(const std::string& line) {
        curl_slist* next = curl_slist_append(list, line.c_str());
        if (next == nullptr) return false;
        list = next;
        return true;
    }
};

enum class HopOutcome { Failed, Response };

struct HopRequest {
    const RequestHandle* request;
    const Hop* hop;
    const HeaderList* headers;  // everything that goes out, in order
    const std::string* body;    // null: no body
    bool isHead;
};

HopOutcome performHop(CURL* curl, const HopRequest& r, Clock::time_point deadline,
                      HopState& state) {
    const ConnectionHandle& c = r.request->connection;
    state.hop = r.hop;
    state.deadline = deadline;
    state.lastActivity = Clock::now();

    CurlList headers;
    // An empty Host line first stops libcurl from putting the Host line right after the
    // request line, so that ours goes out where it stands in the list.
    if (!headers.add("Host:")) return HopOutcome::Failed;
    for (const HeaderLine& h : *r.headers) {
        // "Name;" is libcurl's way to send a header with an empty value.
        if (!headers.add(h.value.empty() ? h.name + ";" : h.name + ": " + h.value))
            return HopOutcome::Failed;
    }
    // Headers libcurl would add by itself go out only when the caller gave them.
    for (const char* name : {"Accept", "Expect", "Content-Type", "Pragma", "Connection",
                             "Accept-Encoding", "Transfer-Encoding", "TE"}) {
        if (findHeader(*r.headers, name) == nullptr && !headers.add(std::string(name) + ":"))
            return HopOutcome::Failed;
    }
    CurlList proxyHeaders;
    if (!proxyHeaders.add("Proxy-Connection:")) return HopOutcome::Failed;

    std::string url = "http://" + r.hop->host + ":" + std::to_string(r.hop->port) + "/";
    std::string target = r.hop->target;
    std::string proxyUrl;
    if (c.proxy) {
        proxyUrl = "http://" + c.proxy->host + ":" + std::to_string(c.proxy->port);
        target = "http://" + hostWithPort(r.hop->host, r.hop->port) +
                 (target.front() == '/' ? "" : "/") + target;
    }

    curl_easy_reset(curl);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_REQUEST_TARGET, target.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    // "" for both: the environment's *_proxy and no_proxy settings never apply.
    curl_easy_setopt(curl, CURLOPT_PROXY, proxyUrl.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "");
    curl_easy_setopt(curl, CURLOPT_PROXYHEADER, proxyHeaders.list);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.list);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, r.request->httpVersion);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &state);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &state);
    curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, onConnected);
    curl_easy_setopt(curl, CURLOPT_PREREQDATA, &state);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &state);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);

    const std::string& method = r.request->method;
    if (r.body != nullptr) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(r.body->size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, r.body->data());
        if (method != "POST") curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (r.isHead) {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        if (method != "HEAD") curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
        if (method != "GET") curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    // A response whose headers arrived counts, however its body ended.
    state.result = curl_easy_perform(curl);
    return state.finalHeaders ? HopOutcome::Response : HopOutcome::Failed;
}

// Where a redirect leads: an absolute http URL, a scheme-relative one, an absolute path
// or a relative reference. Other schemes are not followed.
std::optional<Hop> resolveLocation(const Hop& from, std::string_view location) {
    location = trim(location);
    size_t hash = location.find('#');
    if (hash != std::string_view::npos) location = location.substr(0, hash);
    if (location.empty()) return std::nullopt;
    Hop next;
    std::string_view rest;
    size_t colon = location.find(':');
    size_t firstDelim = location.find_first_of("/?");
    bool hasScheme = colon != std::string_view::npos &&
                     (firstDelim == std::string_view::npos || colon < firstDelim);
    if (hasScheme || location.substr(0, 2) == "//") {
        if (hasScheme) {
            if (!startsWithIgnoreCase(location, "http://")) return std::nullopt;
            rest = location.substr(7);
        } else {
            rest = location.substr(2);
        }
        size_t end = rest.find_first_of("/?");
        std::string_view authority = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
        size_t portColon = authority.find(':');
        next.host = toLowerAscii(authority.substr(0, portColon));
        next.port = 80;
        if (portColon != std::string_view::npos && portColon + 1 < authority.size()) {
            std::string portText(authority.substr(portColon + 1));
            char* endp = nullptr;
            long port = std::strtol(portText.c_str(), &endp, 10);
            if (*endp != '\0' || port < 1 || port > 65535) return std::nullopt;
            next.port = static_cast<int>(port);
        }
        if (!isPlainHost(next.host)) return std::nullopt;
        next.target = escapePath(rest.empty() ? std::string_view("/") : rest);
        if (next.target.front() == '?') next.target.insert(0, "/");
        return next;
    }
    next.host = from.host;
    next.port = from.port;
    if (location.front() == '/') {
        next.target = escapePath(location);
    } else if (location.front() == '?') {
        next.target = std::string(pathOnly(from.target)) + escapePath(location);
    } else {
        std::string_view base = pathOnly(from.target);
        size_t slash = base.rfind('/');
        std::string dir =
            slash == std::string_view::npos ? "/" : std::string(base.substr(0, slash + 1));
        next.target = dir + escapePath(location);
    }
    return next;
}

bool wantsBasic(const Response& response) {
    for (const HeaderLine& h : response.headers)
        if (equalsIgnoreCase(h.name, "WWW-Authenticate") && startsWithIgnoreCase(h.value, "Basic"))
            return true;
    return false;
}

bool runExchange(RequestHandle& request, std::string_view headerText, std::string_view body) {
    const ConnectionHandle& c = request.connection;
    const std::string upper = toUpperAscii(request.method);
    const bool isPost = upper == "POST";
    const bool isGet = upper == "GET";
    const bool isHead = upper == "HEAD";
    const std::string postBody(isPost ? body : std::string_view());

    if (!isPlainHost(c.host)) return false;
    const HeaderList caller = parseRequestHeaders(headerText);
    const bool callerAuthorization = findHeader(caller, "Authorization") != nullptr;

    CURL* curl = curl_easy_init();
    if (curl == nullptr) return false;
    std::unique_ptr<CURL, void (*)(CURL*)> owner(curl, curl_easy_cleanup);

    const Clock::time_point deadline =
        Clock::now() + std::chrono::seconds(stallSeconds()) * kExchangeLimitInStalls;
    Hop hop{c.host, c.port, request.target};
    bool credentialsSent = false;
    std::string authorization;
    for (int redirects = 0;;) {
        HeaderList lines = caller;
        if (redirects > 0)  // the caller's Host belongs to the first address
            lines.erase(std::remove_if(
                            lines.begin(), lines.end(),
                            [](const HeaderLine& h) { return equalsIgnoreCase(h.name, "Host"); }),
                        lines.end());
        auto addMissing = [&lines](const char* name, const std::string& value) {
            if (!value.empty() && findHeader(lines, name) == nullptr)
                lines.push_back({name, value});
        };
        addMissing("Accept", request.accept);
        addMissing("Referer", request.referrer);
        addMissing("User-Agent", c.agent);
        addMissing("Host", hostWithPort(hop.host, hop.port));
        if (isPost) addMissing("Content-Length", std::to_string(postBody.size()));
        if (!authorization.empty()) lines.push_back({"Authorization", authorization});
        std::string cookies = cookieStore().cookieLine(hop.host, hop.target);
        if (!cookies.empty()) {
            if (HeaderLine* line = findHeader(lines, "Cookie"))
                line->value = cookies;
            else
                lines.push_back({"Cookie", cookies});
        }

        HopState state;
        HopRequest hopRequest{&request, &hop, &lines, isPost ? &postBody : nullptr, isHead};
        if (performHop(curl, hopRequest, deadline, state) == HopOutcome::Failed) return false;
        const Response& response = state.current;
        // The layer records the cookies of the responses the caller never sees (a
        // redirect hop, a 401 answered with credentials) itself. The final response's
        // cookies are the caller's: the exchange records them from the header text it
        // reads back, and records none when that text did not fit its buffer.
        auto recordHopCookies = [&] {
            for (const HeaderLine& h : response.headers)
                if (equalsIgnoreCase(h.name, "Set-Cookie"))
                    cookieStore().set(hop.host, hop.target, h.value);
        };

        if (response.status == 401 && !credentialsSent && c.hasCredentials &&
            !callerAuthorization && hop.host == c.host && hop.port == c.port &&
            wantsBasic(response) && Clock::now() < deadline) {
            credentialsSent = true;
            recordHopCookies();
            authorization = "Basic " + base64(c.user + ":" + c.password);
            continue;
        }
        int status = response.status;
        if (isGet && (status == 301 || status == 302 || status == 303 || status == 307) &&
            redirects < kMaxRedirects && Clock::now() < deadline) {
            const HeaderList& h = response.headers;
            const HeaderLine* location = findHeader(h, "Location");
            std::optional<Hop> next;
            if (location != nullptr) next = resolveLocation(hop, location->value);
            if (next) {
                recordHopCookies();
                hop = *next;
                ++redirects;
                authorization.clear();
                continue;
            }
        }
        request.response = std::move(state.current);
        request.body = std::move(state.body);
        // A body cut short by the server, a time limit or the size cap: a failed read.
        request.bodyFailed = state.result != CURLE_OK || state.bodyCapped;
        request.haveResponse = true;
        return true;
    }
}

}  // namespace

void setStallLimitSeconds(int seconds) {
    stallLimit.store(std::clamp(seconds, 1, 3600), std::memory_order_relaxed);
}

// ---------------------------------------------------------------- the interface

NetHandle netOpen(const char* agent, uint32_t accessType, const char* proxy,
                  const char* proxyBypass, uint32_t flags) {
    initCurlOnce();
    auto root = std::make_shared<RootHandle>();
    root->agent = std::string(textOf(agent));
    if (accessType == kOpenTypeProxy) {
        if (textOf(proxy).empty()) return nullptr;
        // A proxy the list names for http but that cannot be used fails the open:
        // the request must not leave directly when a proxy was asked for.
        ProxyChoice choice = parseProxyList(proxy);
        if (choice.named && !choice.proxy) return nullptr;
        root->proxy = choice.proxy;
    }
    return handleTable().add(std::move(root));
}

NetHandle netConnect(NetHandle root, const char* host, int port, const char* user,
                     const char* password, uint32_t service, uint32_t flags, uintptr_t context) {
    auto r = handleTable().get<RootHandle>(root, Kind::Root);
    if (r == nullptr || service != kServiceHttp || textOf(host).empty()) return nullptr;
    auto connection = std::make_shared<ConnectionHandle>();
    connection->agent = r->agent;
    connection->proxy = r->proxy;
    connection->host = toLowerAscii(host);
    // The port is a 16-bit value as in WinINet; 0 means the service's default.
    connection->port = static_cast<uint16_t>(port);
    if (connection->port == 0) connection->port = 80;
    connection->hasCredentials = !textOf(user).empty();
    connection->user = std::string(textOf(user));
    connection->password = std::string(textOf(password));
    return handleTable().add(std::move(connection));
}

NetHandle netOpenRequest(NetHandle connection, const char* method, const char* path,
                         const char* version, const char* referrer, const char** acceptTypes,
                         uint32_t flags, uintptr_t context) {
    auto c = handleTable().get<ConnectionHandle>(connection, Kind::Connection);
    if (c == nullptr) return nullptr;
    auto request = std::make_shared<RequestHandle>();
    request->connection = *c;
    request->method = textOf(method).empty() ? "GET" : std::string(method);
    if (!isToken(request->method)) return nullptr;  // it goes on the request line as is
    request->target = escapePath(textOf(path));
    if (equalsIgnoreCase(textOf(version), "HTTP/1.0")) request->httpVersion = CURL_HTTP_VERSION_1_0;
    request->referrer = std::string(textOf(referrer));
    if (request->referrer.find_first_of("\r\n") != std::string::npos) request->referrer.clear();
    if (acceptTypes != nullptr) {
        for (const char** type = acceptTypes; *type != nullptr; ++type) {
            std::string_view t = textOf(*type);
            if (t.empty() || t.find_first_of("\r\n") != std::string_view::npos) continue;
            if (!request->accept.empty()) request->accept += ", ";
            request->accept += t;
        }
    }
    return handleTable().add(std::move(request));
}

bool netSendRequest(NetHandle request, const char* headers, uint32_t headersLength,
                    const void* optional, uint32_t optionalLength) {
    auto r = handleTable().get<RequestHandle>(request, Kind::Request);
    if (r == nullptr) return false;
    std::lock_guard<std::mutex> lock(r->mutex);
    r->haveResponse = false;
    r->response = Response();
    r->body.clear();
    r->readPos = 0;
    r->bodyFailed = false;
    std::string_view headerText;
    if (headers != nullptr) {
        // A length of -1 means the text runs to its NUL; no text reaches past one either.
        size_t limit =
            headersLength == 0xFFFFFFFFu ? std::strlen(headers) : strnlen(headers, headersLength);
        headerText = std::string_view(headers, limit);
    }
    std::string_view body;
    if (optional != nullptr && optionalLength > 0)
        body = std::string_view(static_cast<const char*>(optional), optionalLength);
    return runExchange(*r, headerText, body);
}

bool netReadFile(NetHandle request, void* buffer, uint32_t toRead, uint32_t* read) {
    if (read == nullptr) return false;
    *read = 0;
    auto r = handleTable().get<RequestHandle>(request, Kind::Request);
    if (r == nullptr) return false;
    std::lock_guard<std::mutex> lock(r->mutex);
    if (!r->haveResponse) return false;
    if (buffer == nullptr && toRead > 0) return false;
    size_t left = r->body.size() - r->readPos;
    size_t n = std::min<size_t>(left, toRead);
    if (n > 0) {
        std::memcpy(buffer, r->body.data() + r->readPos, n);
        r->readPos += n;
        *read = static_cast<uint32_t>(n);
        return true;
    }
    return !r->bodyFailed || toRead == 0;
}

bool netQueryInfo(NetHandle request, uint32_t infoLevel, void* buffer, uint32_t* length,
                  uint32_t* index) {
    if (length == nullptr || infoLevel != kQueryRawHeadersCrlf) return false;
    auto r = handleTable().get<RequestHandle>(request, Kind::Request);
    if (r == nullptr) return false;
    std::lock_guard<std::mutex> lock(r->mutex);
    if (!r->haveResponse) return false;
    std::string text = r->response.statusLine + "\r\n";
    for (const HeaderLine& h : r->response.headers) text += h.name + ": " + h.value + "\r\n";
    text += "\r\n";
    if (buffer == nullptr || text.size() + 1 > *length) {
        *length = static_cast<uint32_t>(text.size() + 1);
        return false;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *length = static_cast<uint32_t>(text.size());
    return true;
}

bool netSetCookie(const char* url, const char* name, const char* data) {
    std::string_view u = textOf(url);
    std::string_view d = textOf(data);
    if (u.empty() || d.empty()) return false;
    size_t scheme = u.find("://");
    if (scheme == std::string_view::npos) return false;
    std::string_view rest = u.substr(scheme + 3);
    size_t end = rest.find_first_of("/:?#");
    std::string host = toLowerAscii(rest.substr(0, end));
    if (!isPlainHost(host)) return false;
    std::string_view path = "/";
    size_t slash = rest.find('/');
    if (slash != std::string_view::npos) path = rest.substr(slash);
    std::string cookie =
        textOf(name).empty() ? std::string(d) : std::string(name) + "=" + std::string(d);
    return cookieStore().set(host, path, cookie);
}

bool netCloseHandle(NetHandle handle) { return handle != nullptr && handleTable().remove(handle); }

}  // namespace nds
