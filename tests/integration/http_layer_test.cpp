// The posix HTTP layer against scripted loopback servers: the bytes that go out, how
// answers of every shape come back, cookies, proxy, credentials, time limits; and the
// worker threads.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/http.h"
#include "platform/posix/http_limits.h"
#include "platform/worker.h"
#include "support/loopback_server.h"

namespace nds {
namespace {

using test::httpResponse;
using test::LoopbackServer;
using Request = LoopbackServer::Request;
using Connection = LoopbackServer::Connection;
using namespace std::chrono_literals;

// Two seconds of stall limit keep the time-limit cases short
// (the whole exchange then ends after five of them, ten seconds).
const bool kShortStall = (setStallLimitSeconds(2), true);

const std::string kAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

struct Call {
    std::string host = "127.0.0.1";
    int port = 80;
    const char* method = nullptr;
    const char* path = "/";
    std::string headers;
    std::string body;
    const char* proxy = nullptr;
    const char* user = nullptr;
    const char* password = nullptr;
};

struct Outcome {
    bool sent = false;
    std::string body;
    bool lastReadOk = false;
    bool headersOk = false;
    std::string rawHeaders;
    double seconds = 0;
};

// One exchange the way the program's exchange drives the layer: open, connect, open
// request, send, read 512 bytes at a time, query the raw headers, close.
Outcome exchange(const Call& call) {
    Outcome out;
    auto start = std::chrono::steady_clock::now();
    NetHandle root = netOpen(kAgent.c_str(), call.proxy ? kOpenTypeProxy : kOpenTypeDirect,
                             call.proxy, nullptr, 0);
    EXPECT_NE(root, nullptr);
    NetHandle connection = netConnect(root, call.host.c_str(), call.port, call.user, call.password,
                                      kServiceHttp, 0, 0);
    EXPECT_NE(connection, nullptr);
    NetHandle request = netOpenRequest(connection, call.method, call.path, "HTTP/1.1", nullptr,
                                       nullptr, kFlagReload, 0);
    EXPECT_NE(request, nullptr);
    out.sent = netSendRequest(request, call.headers.empty() ? nullptr : call.headers.data(),
                              static_cast<uint32_t>(call.headers.size()),
                              call.body.empty() ? nullptr : call.body.data(),
                              static_cast<uint32_t>(call.body.size()));
    char buffer[512];
    while (true) {
        uint32_t read = 12345;
        bool ok = netReadFile(request, buffer, sizeof buffer, &read);
        EXPECT_LE(read, sizeof buffer);
        if (read == 0 || read > sizeof buffer) {
            out.lastReadOk = ok;
            break;
        }
        out.body.append(buffer, read);
    }
    std::vector<char> raw(1 << 20);
    uint32_t length = static_cast<uint32_t>(raw.size());
    out.headersOk = netQueryInfo(request, kQueryRawHeadersCrlf, raw.data(), &length, nullptr);
    if (out.headersOk) out.rawHeaders.assign(raw.data(), length);
    EXPECT_TRUE(netCloseHandle(request));
    EXPECT_TRUE(netCloseHandle(connection));
    EXPECT_TRUE(netCloseHandle(root));
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return out;
}

Call callTo(const LoopbackServer& server, const char* path = "/") {
    Call call;
    call.port = server.port();
    call.path = path;
    return call;
}

LoopbackServer::Script reply(std::string bytes, bool closeAfter = false) {
    return [bytes, closeAfter](Connection& connection, const Request&) {
        connection.write(bytes);
        if (closeAfter) connection.close();
    };
}

// The value of the first header line called `name` in a raw request, if any.
std::optional<std::string> headerOf(const std::string& raw, const std::string& name) {
    size_t pos = raw.find("\r\n");
    while (pos != std::string::npos && pos + 2 < raw.size()) {
        size_t start = pos + 2;
        size_t end = raw.find("\r\n", start);
        if (end == std::string::npos || end == start) break;
        std::string line = raw.substr(start, end - start);
        if (line.compare(0, name.size() + 2, name + ": ") == 0) return line.substr(name.size() + 2);
        if (line == name + ":") return std::string();
        pos = end;
    }
    return std::nullopt;
}

std::string defaultTail(const LoopbackServer& server) {
    return "User-Agent: " + kAgent + "\r\nHost: " + server.address() + "\r\n";
}

// ------------------------------------------------------------------ request bytes

TEST(HttpRequest, SendsExactlyTheCallersLinesThenUserAgentAndHost) {
    LoopbackServer server(reply(httpResponse(200, "ok")));
    Call call = callTo(server, "/s?q=abc&p=10");
    call.headers = "Accept: text/html\r\nReferer: http://x.test/\r\nAccept-Language: zh-cn\r\n";
    Outcome out = exchange(call);
    ASSERT_TRUE(out.sent);
    EXPECT_EQ(out.body, "ok");
    ASSERT_EQ(server.requests().size(), 1u);
    // No Accept: */*, Accept-Encoding, Connection, Pragma or Expect of libcurl's own.
    EXPECT_EQ(server.requests()[0].raw,
              "GET /s?q=abc&p=10 HTTP/1.1\r\nAccept: text/html\r\nReferer: http://x.test/\r\n"
              "Accept-Language: zh-cn\r\n" +
                  defaultTail(server) + "\r\n");
}

TEST(HttpRequest, PathGoesOutAsGivenExceptSpacesAndControlBytes) {
    struct Case {
        const char* path;
        std::string target;
    } cases[] = {
        {"/a b/c d", "/a%20b/c%20d"},
        {"/s?q=x\r\nX-Injected: 1", "/s?q=x%0D%0AX-Injected:%201"},
        {"/\x01\x1F\x7F\t", "/%01%1F%7F%09"},
        {"/s?q=\xD6\xD0\xCE\xC4", "/s?q=\xD6\xD0\xCE\xC4"},  // 中文 in GBK, raw
        {"/a/../b?c=%41&d#frag", "/a/../b?c=%41&d#frag"},
        {nullptr, "/"},
        {"", "/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        LoopbackServer server(reply(httpResponse(200, "ok")));
        ASSERT_TRUE(exchange(callTo(server, c.path)).sent);
        ASSERT_EQ(server.requests().size(), 1u);
        EXPECT_EQ(server.requests()[0].requestLine, "GET " + c.target + " HTTP/1.1");
        EXPECT_EQ(headerOf(server.requests()[0].raw, "X-Injected"), std::nullopt);
    }
}

TEST(HttpRequest, HeaderTextLinesAndLaterLineWins) {
    struct Case {
        const char* name;
        std::string text;
        std::string lines;  // what follows the request line; "*" stands for User-Agent + Host
    } cases[] = {
        {"line ends", "A: 1\nB: 2\rC: 3\r\nD: 4", "A: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\n*"},
        {"later wins", "X-Dup: first\r\nY: y\r\nx-dup: second\r\n", "X-Dup: second\r\nY: y\r\n*"},
        {"own host and agent", "Host: other.test\r\nUser-Agent: mine\r\n",
         "Host: other.test\r\nUser-Agent: mine\r\n"},
        {"no name", "NoColon\r\n: novalue\r\nBad Name: x\r\nGood: yes\r\n", "Good: yes\r\n*"},
        {"trimmed", "  Spaced  :   value  \r\nEmpty:\r\n", "Spaced: value\r\nEmpty:\r\n*"},
        {"blank lines", "\r\n\r\nA: 1\r\n\r\n", "A: 1\r\n*"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server(reply(httpResponse(200, "ok")));
        Call call = callTo(server);
        call.headers = c.text;
        ASSERT_TRUE(exchange(call).sent);
        std::string expected = c.lines;
        if (!expected.empty() && expected.back() == '*') {
            expected.pop_back();
            expected += defaultTail(server);
        }
        ASSERT_EQ(server.requests().size(), 1u);
        EXPECT_EQ(server.requests()[0].raw, "GET / HTTP/1.1\r\n" + expected + "\r\n");
    }
}

TEST(HttpRequest, OnlyUpperCasedPostSendsTheBody) {
    struct Case {
        const char* method;
        std::string body;
        std::string requestLine;
        std::optional<std::string> contentLength;
        std::string sentBody;
    } cases[] = {
        {"POST", "a=1&b=2", "POST / HTTP/1.1", "7", "a=1&b=2"},
        {"post", "abc", "post / HTTP/1.1", "3", "abc"},  // sent in lower case, with its body
        {"GET", "ignored", "GET / HTTP/1.1", std::nullopt, ""},
        {"get", "ignored", "get / HTTP/1.1", std::nullopt, ""},
        {nullptr, "ignored", "GET / HTTP/1.1", std::nullopt, ""},
        {"", "ignored", "GET / HTTP/1.1", std::nullopt, ""},
        {"POST", "", "POST / HTTP/1.1", "0", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.requestLine + " " + c.body);
        LoopbackServer server(reply(httpResponse(200, "ok")));
        Call call = callTo(server);
        call.method = c.method;
        call.body = c.body;
        Outcome out = exchange(call);
        ASSERT_TRUE(out.sent);
        EXPECT_EQ(out.body, "ok");
        ASSERT_EQ(server.requests().size(), 1u);
        const Request r = server.requests()[0];
        EXPECT_EQ(r.requestLine, c.requestLine);
        EXPECT_EQ(headerOf(r.raw, "Content-Length"), c.contentLength);
        EXPECT_EQ(headerOf(r.raw, "Content-Type"), std::nullopt);
        EXPECT_EQ(headerOf(r.raw, "Expect"), std::nullopt);
        EXPECT_EQ(r.body, c.sentBody);
    }
}

TEST(HttpRequest, PostKeepsTheCallersLastContentLengthAndType) {
    LoopbackServer server(reply(httpResponse(200, "ok")));
    Call call = callTo(server, "/form");
    call.method = "POST";
    call.headers =
        "Content-Length: 99\r\nContent-Type: application/x-www-form-urlencoded\r\n"
        "Content-Length: 5\r\n";
    call.body = "hello";
    ASSERT_TRUE(exchange(call).sent);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].raw,
              "POST /form HTTP/1.1\r\nContent-Length: 5\r\n"
              "Content-Type: application/x-www-form-urlencoded\r\n" +
                  defaultTail(server) + "\r\nhello");
}

TEST(HttpRequest, LargePostBodyGoesOutWithoutExpect) {
    LoopbackServer server(reply(httpResponse(200, "ok")));
    Call call = callTo(server, "/upload");
    call.method = "POST";
    call.body.assign(3 << 20, 'x');
    ASSERT_TRUE(exchange(call).sent);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(headerOf(server.requests()[0].raw, "Expect"), std::nullopt);
    EXPECT_EQ(server.requests()[0].body, call.body);
}

// ------------------------------------------------------------------ redirects

// /redirect/<code> answers <code> with a Location to /redirect/next and a cookie for
// /redirect; /redirect/next answers 200.
LoopbackServer::Script redirectScript(std::string location = "/redirect/next") {
    return [location](Connection& connection, const Request& request) {
        std::string path = request.requestLine.substr(request.requestLine.find(' ') + 1);
        path = path.substr(0, path.find(' '));
        if (path == "/redirect/next") {
            connection.write(httpResponse(200, "arrived"));
            return;
        }
        int code = std::atoi(path.substr(std::strlen("/redirect/")).c_str());
        if (code == 0) code = 302;
        connection.write(httpResponse(code, "moved",
                                      "Location: " + location + "\r\nSet-Cookie: hop=" +
                                          std::to_string(code) + "; path=/redirect\r\n"));
    };
}

TEST(HttpRedirect, GetFollowsRedirectsAndRecordsTheHopsCookie) {
    for (int code : {301, 302, 303, 307}) {
        SCOPED_TRACE(code);
        LoopbackServer server(redirectScript());
        std::string path = "/redirect/" + std::to_string(code);
        Outcome out = exchange(callTo(server, path.c_str()));
        ASSERT_TRUE(out.sent);
        EXPECT_EQ(out.body, "arrived");
        EXPECT_EQ(out.rawHeaders, "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\n");
        std::vector<Request> requests = server.requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[1].requestLine, "GET /redirect/next HTTP/1.1");
        EXPECT_EQ(headerOf(requests[1].raw, "Cookie"), "hop=" + std::to_string(code));
        EXPECT_EQ(headerOf(requests[1].raw, "Host"), server.address());
    }
}

TEST(HttpRedirect, NotFollowedFor308PostOrAnotherScheme) {
    struct Case {
        const char* name;
        const char* method;
        const char* path;
        std::string location;
        std::string statusLine;
    } cases[] = {
        {"308", nullptr, "/redirect/308", "/redirect/next", "HTTP/1.1 308 Permanent Redirect"},
        {"post", "POST", "/redirect/302", "/redirect/next", "HTTP/1.1 302 Found"},
        {"https", nullptr, "/redirect/302", "https://127.0.0.1/redirect/next",
         "HTTP/1.1 302 Found"},
        {"no location host", nullptr, "/redirect/301", "http:///x",
         "HTTP/1.1 301 Moved Permanently"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server(redirectScript(c.location));
        Call call = callTo(server, c.path);
        call.method = c.method;
        Outcome out = exchange(call);
        ASSERT_TRUE(out.sent);
        EXPECT_EQ(out.body, "moved");
        EXPECT_EQ(out.rawHeaders.substr(0, out.rawHeaders.find("\r\n")), c.statusLine);
        EXPECT_EQ(server.requests().size(), 1u);
    }
}

TEST(HttpRedirect, FollowsToAnotherPortWithItsOwnHostLine) {
    LoopbackServer target(reply(httpResponse(200, "other port")));
    LoopbackServer server(redirectScript(target.url("/landing")));
    Call call = callTo(server, "/redirect/302");
    call.headers = "Host: caller.test\r\n";
    Outcome out = exchange(call);
    ASSERT_TRUE(out.sent);
    EXPECT_EQ(out.body, "other port");
    ASSERT_EQ(target.requests().size(), 1u);
    EXPECT_EQ(target.requests()[0].requestLine, "GET /landing HTTP/1.1");
    EXPECT_EQ(headerOf(target.requests()[0].raw, "Host"), target.address());
    EXPECT_EQ(headerOf(server.requests()[0].raw, "Host"), "caller.test");
}

TEST(HttpRedirect, LoopEndsWithTheLastRedirect) {
    LoopbackServer server(redirectScript("/redirect/loop"));
    Outcome out = exchange(callTo(server, "/redirect/loop"));
    ASSERT_TRUE(out.sent);
    EXPECT_EQ(out.body, "moved");
    EXPECT_EQ(server.requests().size(), 11u);  // the request and ten redirects
}

// ------------------------------------------------------------------ response bodies

TEST(HttpResponse, BodiesOfEveryShape) {
    struct Case {
        const char* name;
        std::string response;
        bool closeAfter;
        std::string body;
        bool lastReadOk;
    } cases[] = {
        {"chunked",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n "
         "world\r\n0\r\n\r\n",
         false, "hello world", true},
        {"until close", "HTTP/1.1 200 OK\r\n\r\nuntil the end", true, "until the end", true},
        {"cut mid-body", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789", true,
         "0123456789", false},
        {"cut mid-chunk",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n10\r\n", true, "hello",
         false},
        {"not decoded",
         "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 8\r\n\r\nnot gzip", false,
         "not gzip", true},
        {"not found", httpResponse(404, "missing page"), false, "missing page", true},
        {"server error", httpResponse(500, "it broke"), false, "it broke", true},
        {"empty", httpResponse(200, ""), false, "", true},
        {"interim 100", "HTTP/1.1 100 Continue\r\n\r\n" + httpResponse(200, "after"), false,
         "after", true},
        {"http/1.0", "HTTP/1.0 200 OK\r\n\r\nold style", true, "old style", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server(reply(c.response, c.closeAfter));
        Outcome out = exchange(callTo(server));
        EXPECT_TRUE(out.sent);
        EXPECT_EQ(out.body, c.body);
        EXPECT_EQ(out.lastReadOk, c.lastReadOk);
        EXPECT_TRUE(out.headersOk);
    }
}

TEST(HttpResponse, BinaryBodyArrivesByteForByte) {
    std::string body(1 << 20, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 7) % 256);
    LoopbackServer server(reply(httpResponse(200, body)));
    Outcome out = exchange(callTo(server));
    ASSERT_TRUE(out.sent);
    EXPECT_EQ(out.body.size(), body.size());
    EXPECT_TRUE(out.body == body);
    EXPECT_TRUE(out.lastReadOk);
}

TEST(HttpResponse, RawHeadersAreRebuiltFromTheFinalResponse) {
    std::string response =
        "HTTP/1.1 100 Continue\r\nX-Interim: yes\r\n\r\n"
        "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nX-Dup: one\r\nx-dup:   two  \r\n"
        "Set-Cookie: raw=1; path=/raw-headers\r\nX-Folded: first\r\n  second\r\n\r\nok";
    LoopbackServer server(reply(response));
    Outcome out = exchange(callTo(server, "/raw-headers"));
    ASSERT_TRUE(out.headersOk);
    EXPECT_EQ(out.rawHeaders,
              "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nX-Dup: one\r\nx-dup: two\r\n"
              "Set-Cookie: raw=1; path=/raw-headers\r\nX-Folded: first second\r\n\r\n");
}

TEST(HttpResponse, RawHeadersBufferTooSmallFailsUntouchedWithTheNeededLength) {
    LoopbackServer server(reply(httpResponse(200, "ok")));
    const std::string text = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n";
    NetHandle root = netOpen(kAgent.c_str(), kOpenTypeDirect, nullptr, nullptr, 0);
    NetHandle connection =
        netConnect(root, "127.0.0.1", server.port(), nullptr, nullptr, kServiceHttp, 0, 0);
    NetHandle request =
        netOpenRequest(connection, nullptr, "/", "HTTP/1.1", nullptr, nullptr, kFlagReload, 0);
    char buffer[128];
    uint32_t length = sizeof buffer;
    EXPECT_FALSE(netQueryInfo(request, kQueryRawHeadersCrlf, buffer, &length, nullptr))
        << "no response yet";
    ASSERT_TRUE(netSendRequest(request, nullptr, 0, nullptr, 0));

    for (uint32_t size : {uint32_t(0), uint32_t(1), uint32_t(text.size())}) {
        SCOPED_TRACE(size);
        std::memset(buffer, '#', sizeof buffer);
        length = size;
        EXPECT_FALSE(netQueryInfo(request, kQueryRawHeadersCrlf, buffer, &length, nullptr));
        EXPECT_EQ(length, text.size() + 1);
        EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '#'));
    }
    length = 10;
    EXPECT_FALSE(netQueryInfo(request, kQueryRawHeadersCrlf, nullptr, &length, nullptr));
    EXPECT_EQ(length, text.size() + 1);

    std::memset(buffer, '#', sizeof buffer);
    length = static_cast<uint32_t>(text.size() + 1);
    ASSERT_TRUE(netQueryInfo(request, kQueryRawHeadersCrlf, buffer, &length, nullptr));
    EXPECT_EQ(length, text.size());
    EXPECT_EQ(std::string(buffer, text.size() + 2), text + '\0' + '#');

    length = sizeof buffer;
    EXPECT_FALSE(netQueryInfo(request, 19, buffer, &length, nullptr)) << "other levels";
    netCloseHandle(request);
    netCloseHandle(connection);
    netCloseHandle(root);
}

// ------------------------------------------------------------------ cookies

// A response that redirects sets cookies the caller never sees, so the layer
// records them itself; the final response's cookies are the caller's to record
// (the exchange does it from the header text it reads back).
LoopbackServer::Script redirectSettingCookies(std::string cookies, std::string to) {
    return [cookies, to](Connection& connection, const Request& request) {
        if (request.requestLine.find(to) == std::string::npos)
            connection.write(httpResponse(302, "", "Location: " + to + "\r\n" + cookies));
        else
            connection.write(httpResponse(200, "final", "Set-Cookie: final=1; path=/\r\n"));
    };
}

TEST(HttpCookies, ResponseCookiesGoBackToTheSameHostOnAnotherPort) {
    LoopbackServer setter(redirectSettingCookies(
        "Set-Cookie: first=1; path=/cookie-port\r\nSet-Cookie: second=2; Path=/cookie-port; "
        "HttpOnly\r\nSet-Cookie: gone=x; path=/cookie-port; expires=Thu, 01 Jan 1970 00:00:01 "
        "GMT\r\n",
        "/cookie-port/done"));
    ASSERT_TRUE(exchange(callTo(setter, "/cookie-port/set")).sent);

    LoopbackServer other(reply(httpResponse(200, "ok")));
    Call call = callTo(other, "/cookie-port/read");
    call.headers = "Cookie: caller=replaced\r\nX-After: 1\r\n";
    ASSERT_TRUE(exchange(call).sent);
    ASSERT_TRUE(exchange(callTo(other, "/elsewhere")).sent);
    std::vector<Request> requests = other.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].raw,
              "GET /cookie-port/read HTTP/1.1\r\nCookie: first=1; second=2\r\n"
              "X-After: 1\r\n" +
                  defaultTail(other) + "\r\n")
        << "the final response's cookie is not the layer's to record";
    EXPECT_EQ(headerOf(requests[1].raw, "Cookie"), std::nullopt) << "path does not match";
}

TEST(HttpCookies, ALaterCookieOfTheSameNameAndPathReplacesTheEarlierOne) {
    LoopbackServer server([](Connection& connection, const Request& request) {
        if (request.requestLine.find("/replace/final") != std::string::npos)
            connection.write(httpResponse(200, "ok", "Connection: close\r\n"));
        else
            connection.write(httpResponse(302, "",
                                          "Location: /replace/final\r\nSet-Cookie: counter=" +
                                              std::to_string(request.connection) +
                                              "; path=/replace\r\nConnection: close\r\n"));
        connection.close();
    });
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(exchange(callTo(server, "/replace/x")).sent);
    std::vector<Request> requests = server.requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(headerOf(requests[0].raw, "Cookie"), std::nullopt);
    EXPECT_EQ(headerOf(requests[1].raw, "Cookie"), "counter=0") << "the hop's cookie";
    EXPECT_EQ(headerOf(requests[2].raw, "Cookie"), "counter=0");
    EXPECT_EQ(headerOf(requests[4].raw, "Cookie"), "counter=2");
}

// netSetCookie for made-up hosts, read back through a proxy that records what the layer
// sends for them.
TEST(HttpCookies, SetCookieRules) {
    struct Case {
        const char* url;
        const char* name;
        const char* data;
        bool ok;
        const char* host;  // where the request then goes (port 80)
        const char* path;
        std::optional<std::string> cookie;
    } cases[] = {
        {"http://set-a.test", "n", "v", true, "set-a.test", "/", "n=v"},
        {"http://set-b.test", nullptr, "n=v; path=/", true, "set-b.test", "/", "n=v"},
        {"http://set-c.test", nullptr, "nodata", true, "set-c.test", "/", "nodata"},
        {"http://set-c2.test", nullptr, "=rest=more", true, "set-c2.test", "/", "rest=more"},
        {"http://set-d.test", nullptr, "n=v; domain=other.test", false, "set-d.test", "/",
         std::nullopt},
        {"http://set-e.test", nullptr, "n=v; domain=.SET-E.test", true, "set-e.test", "/", "n=v"},
        {"http://www.set-e2.test", nullptr, "n=v; domain=set-e2.test", true, "www.set-e2.test", "/",
         "n=v"},
        {"http://set-e3.test", nullptr, "n=v; domain=www.set-e3.test", false, "set-e3.test", "/",
         std::nullopt},
        {"http://set-f.test", "n", "v; path=/inside", true, "set-f.test", "/outside", std::nullopt},
        {"http://set-g.test", "n", "v; path=/inside", true, "set-g.test", "/inside/page", "n=v"},
        {"http://set-g2.test", "n", "v; path=/inside", true, "set-g2.test", "/insider",
         std::nullopt},
        {"http://set-h.test", "n", "v; expires=Thu, 01-Jan-1970 00:00:01 GMT", true, "set-h.test",
         "/", std::nullopt},
        {"http://set-i.test", "n", "v; expires=Fri, 01-Jan-2100 00:00:00 GMT", true, "set-i.test",
         "/", "n=v"},
        {"http://set-j.test:8080/", "n", "v", true, "set-j.test", "/", "n=v"},
        {"http://Set-K.Test", "n", "v", true, "set-k.test", "/", "n=v"},
        {"http://set-l.test", "n", "a\r\nX-Injected: 1", false, "set-l.test", "/", std::nullopt},
        {nullptr, "n", "v", false, "set-m.test", "/", std::nullopt},
        {"http://set-n.test", "n", nullptr, false, "set-n.test", "/", std::nullopt},
        {"no-scheme.test", "n", "v", false, "no-scheme.test", "/", std::nullopt},
    };
    LoopbackServer proxy(reply(httpResponse(200, "ok")));
    std::string proxyList = "http=" + proxy.address();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url ? c.url : "(null)");
        EXPECT_EQ(netSetCookie(c.url, c.name, c.data), c.ok);
        Call call;
        call.host = c.host;
        call.path = c.path;
        call.proxy = proxyList.c_str();
        ASSERT_TRUE(exchange(call).sent);
        EXPECT_EQ(headerOf(proxy.requests().back().raw, "Cookie"), c.cookie);
        EXPECT_EQ(headerOf(proxy.requests().back().raw, "X-Injected"), std::nullopt);
    }
}

TEST(HttpCookies, ExpiredCookieRemovesTheStoredOne) {
    LoopbackServer proxy(reply(httpResponse(200, "ok")));
    std::string proxyList = proxy.address();
    ASSERT_TRUE(netSetCookie("http://expire.test", "a", "1"));
    ASSERT_TRUE(netSetCookie("http://expire.test", "b", "2"));
    ASSERT_TRUE(
        netSetCookie("http://expire.test", "a", "x; expires=Sun, 06 Nov 1994 08:49:37 GMT"));
    Call call;
    call.host = "expire.test";
    call.proxy = proxyList.c_str();
    ASSERT_TRUE(exchange(call).sent);
    EXPECT_EQ(headerOf(proxy.requests().back().raw, "Cookie"), "b=2");
}

// ------------------------------------------------------------------ proxy, credentials

TEST(HttpProxy, RequestLineCarriesTheAbsoluteUrl) {
    LoopbackServer proxy(reply(httpResponse(200, "via proxy")));
    struct Case {
        std::string list;
        int port;
        std::string requestLine;
        std::string host;
    } cases[] = {
        {"http=" + proxy.address(), 80, "GET http://example.test/p?q=1 HTTP/1.1", "example.test"},
        {proxy.address(), 8080, "GET http://example.test:8080/p?q=1 HTTP/1.1", "example.test:8080"},
        {"ftp=10.0.0.1:21 HTTP=" + proxy.address() + " https=10.0.0.2:443", 80,
         "GET http://example.test/p?q=1 HTTP/1.1", "example.test"},
        {"  http=http://" + proxy.address() + "  ", 80, "GET http://example.test/p?q=1 HTTP/1.1",
         "example.test"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        size_t before = proxy.requests().size();
        Call call;
        call.host = "example.test";
        call.port = c.port;
        call.path = "/p?q=1";
        call.proxy = c.list.c_str();
        Outcome out = exchange(call);
        ASSERT_TRUE(out.sent);
        EXPECT_EQ(out.body, "via proxy");
        ASSERT_EQ(proxy.requests().size(), before + 1);
        EXPECT_EQ(proxy.requests().back().raw,
                  c.requestLine + "\r\nUser-Agent: " + kAgent + "\r\nHost: " + c.host + "\r\n\r\n");
    }
}

TEST(HttpProxy, ListWithoutAnHttpEntryConnectsDirectly) {
    LoopbackServer server(reply(httpResponse(200, "direct")));
    Call call = callTo(server);
    call.proxy = "ftp=10.0.0.1:21";
    Outcome out = exchange(call);
    ASSERT_TRUE(out.sent);
    EXPECT_EQ(out.body, "direct");
    EXPECT_EQ(server.requests().at(0).requestLine, "GET / HTTP/1.1");
}

LoopbackServer::Script basicGate(std::string challenge) {
    return [challenge](Connection& connection, const Request& request) {
        if (headerOf(request.raw, "Authorization") == "Basic dXNlcjpwYXNz")  // user:pass
            connection.write(httpResponse(200, "welcome"));
        else
            connection.write(
                httpResponse(401, "denied", "WWW-Authenticate: " + challenge + "\r\n"));
    };
}

TEST(HttpCredentials, SentOnlyAfterABasicChallenge) {
    struct Case {
        const char* name;
        const char* user;
        const char* password;
        std::string challenge;
        std::string body;
        size_t requests;
    } cases[] = {
        {"basic", "user", "pass", "Basic realm=\"area\"", "welcome", 2},
        {"no credentials", nullptr, nullptr, "Basic realm=\"area\"", "denied", 1},
        {"wrong password", "user", "nope", "Basic realm=\"area\"", "denied", 2},
        {"digest", "user", "pass", "Digest realm=\"area\", nonce=\"1\"", "denied", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server(basicGate(c.challenge));
        Call call = callTo(server, "/private");
        call.user = c.user;
        call.password = c.password;
        Outcome out = exchange(call);
        ASSERT_TRUE(out.sent);
        EXPECT_EQ(out.body, c.body);
        std::vector<Request> requests = server.requests();
        ASSERT_EQ(requests.size(), c.requests);
        EXPECT_EQ(headerOf(requests[0].raw, "Authorization"), std::nullopt) << "not up front";
    }
}

// ------------------------------------------------------------------ failures and limits

TEST(HttpFailure, RefusedPortFailsFast) {
    Call call;
    call.port = LoopbackServer::refusedPort();
    Outcome out = exchange(call);
    EXPECT_FALSE(out.sent);
    EXPECT_FALSE(out.lastReadOk);
    EXPECT_EQ(out.body, "");
    EXPECT_FALSE(out.headersOk);
    EXPECT_LT(out.seconds, 5);
}

TEST(HttpFailure, SilentServerEndsAfterTheStallLimit) {
    LoopbackServer server([](Connection& connection, const Request&) { connection.holdOpen(); });
    Outcome out = exchange(callTo(server));
    EXPECT_FALSE(out.sent);
    EXPECT_FALSE(out.headersOk);
    EXPECT_GE(out.seconds, 1.5);
    EXPECT_LT(out.seconds, 6);
}

TEST(HttpFailure, SilenceMidBodyKeepsTheBytesSoFarAsAFailedRead) {
    LoopbackServer server([](Connection& connection, const Request&) {
        connection.write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nfirst part");
        connection.holdOpen();
    });
    Outcome out = exchange(callTo(server));
    EXPECT_TRUE(out.sent);
    EXPECT_EQ(out.body, "first part");
    EXPECT_FALSE(out.lastReadOk);
    EXPECT_TRUE(out.headersOk);
    EXPECT_GE(out.seconds, 1.5);
    EXPECT_LT(out.seconds, 6);
}

TEST(HttpFailure, TrickleEndsAtTheExchangeLimit) {
    LoopbackServer server([](Connection& connection, const Request&) {
        connection.write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
        for (int i = 0; i < 100 && connection.write("x"); ++i) connection.sleep(500ms);
    });
    Outcome out = exchange(callTo(server));
    EXPECT_TRUE(out.sent);
    EXPECT_FALSE(out.lastReadOk);
    EXPECT_GE(out.body.size(), 5u);  // about twenty, fewer on a loaded machine
    EXPECT_LE(out.body.size(), 25u);
    EXPECT_GE(out.seconds, 9.5);
    EXPECT_LT(out.seconds, 14);
}

TEST(HttpFailure, HostileAnswersEndWithoutHarm) {
    std::string manyHeaders = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 20000; ++i) manyHeaders += "X-H" + std::to_string(i) + ": value\r\n";
    manyHeaders += "Content-Length: 0\r\n\r\n";
    struct Case {
        const char* name;
        std::string response;
        bool sent;
    } cases[] = {
        {"huge header line", "HTTP/1.1 200 OK\r\nX-Big: " + std::string(1 << 20, 'a') + "\r\n\r\n",
         false},
        {"too many headers", manyHeaders, false},
        {"garbage status line", "SSH-2.0-OpenSSH_9.2\r\n\r\nnot http", false},
        {"nothing at all", "", false},
        {"bad chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n",
         true},
        {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nabc", false},
        {"nul in a header", "HTTP/1.1 200 OK\r\nX-Nul: a" + std::string(1, '\0') + "b\r\n\r\n",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server(reply(c.response, true));
        Outcome out = exchange(callTo(server));
        EXPECT_EQ(out.sent, c.sent);
        EXPECT_LT(out.seconds, 6);
    }
}

TEST(HttpFailure, EndlessBodyStopsAtTheSizeCap) {
    LoopbackServer server([](Connection& connection, const Request&) {
        std::string chunk(1 << 20, 'z');
        if (!connection.write("HTTP/1.1 200 OK\r\n\r\n")) return;
        for (int i = 0; i < 80 && connection.write(chunk); ++i) {
        }
        connection.close();
    });
    Outcome out = exchange(callTo(server));
    EXPECT_TRUE(out.sent);
    EXPECT_EQ(out.body.size(), size_t{64} << 20);
    EXPECT_FALSE(out.lastReadOk);
}

TEST(HttpHandles, WrongOrClosedHandlesAreRefused) {
    uint32_t read = 7;
    char buffer[8];
    EXPECT_FALSE(netSendRequest(nullptr, nullptr, 0, nullptr, 0));
    EXPECT_FALSE(netReadFile(nullptr, buffer, sizeof buffer, &read));
    EXPECT_EQ(read, 0u);
    EXPECT_FALSE(netCloseHandle(nullptr));
    NetHandle root = netOpen(kAgent.c_str(), kOpenTypeDirect, nullptr, nullptr, 0);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(netOpen(kAgent.c_str(), kOpenTypeProxy, nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(netConnect(root, "h.test", 80, nullptr, nullptr, 1, 0, 0), nullptr) << "ftp";
    EXPECT_EQ(netConnect(root, nullptr, 80, nullptr, nullptr, kServiceHttp, 0, 0), nullptr);
    NetHandle connection = netConnect(root, "h.test", 80, nullptr, nullptr, kServiceHttp, 0, 0);
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(netConnect(connection, "h.test", 80, nullptr, nullptr, kServiceHttp, 0, 0), nullptr)
        << "a connection is no root";
    EXPECT_EQ(
        netOpenRequest(connection, "GET /x HTTP/1.1\r\nX:", "/", nullptr, nullptr, nullptr, 0, 0),
        nullptr)
        << "a method that would split the request line";
    NetHandle request = netOpenRequest(connection, nullptr, "/", nullptr, nullptr, nullptr, 0, 0);
    ASSERT_NE(request, nullptr);
    EXPECT_FALSE(netReadFile(request, buffer, sizeof buffer, &read)) << "nothing sent yet";
    EXPECT_TRUE(netCloseHandle(root));  // the others stay usable until closed themselves
    EXPECT_TRUE(netCloseHandle(connection));
    EXPECT_TRUE(netCloseHandle(request));
    EXPECT_FALSE(netCloseHandle(request));
    EXPECT_FALSE(netSendRequest(request, nullptr, 0, nullptr, 0));
}

TEST(HttpHandles, BadHostFailsTheSendWithoutReachingLibcurlsUrlParser) {
    LoopbackServer server(reply(httpResponse(200, "should not be reached")));
    for (std::string host : {"user@127.0.0.1", "127.0.0.1/x", "a b", "[::1]"}) {
        SCOPED_TRACE(host);
        Call call = callTo(server);
        call.host = host;
        EXPECT_FALSE(exchange(call).sent);
    }
    EXPECT_EQ(server.requests().size(), 0u);
}

TEST(HttpConcurrency, ExchangesOnSeveralThreadsAtOnce) {
    LoopbackServer server([](Connection& connection, const Request& request) {
        connection.sleep(100ms);
        connection.write(httpResponse(200, request.requestLine));
    });
    std::vector<std::thread> threads;
    std::vector<std::string> bodies(8);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            std::string path = "/thread/" + std::to_string(i);
            bodies[i] = exchange(callTo(server, path.c_str())).body;
        });
    }
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(bodies[i], "GET /thread/" + std::to_string(i) + " HTTP/1.1");
}

// ------------------------------------------------------------------ the test server itself

TEST(LoopbackServerStop, DestructorReturnsAtOnceWhileAClientIsStuck) {
    std::vector<int> clients;
    auto start = std::chrono::steady_clock::now();
    {
        LoopbackServer server([](Connection& connection, const Request&) {
            std::string lots(1 << 20, 'x');
            while (connection.write(lots)) {  // the client never reads
            }
        });
        LoopbackServer sleeper(
            [](Connection& connection, const Request&) { connection.sleep(60s); });
        for (LoopbackServer* s : {&server, &sleeper}) {
            int client = socket(AF_INET, SOCK_STREAM, 0);
            clients.push_back(client);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<uint16_t>(s->port()));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
            std::string request = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
            ASSERT_EQ(send(client, request.data(), request.size(), 0), ssize_t(request.size()));
            for (int i = 0; i < 200 && s->requests().empty(); ++i) std::this_thread::sleep_for(5ms);
            ASSERT_EQ(s->requests().size(), 1u);
        }
        start = std::chrono::steady_clock::now();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    for (int client : clients) close(client);
}

// ------------------------------------------------------------------ worker threads

std::atomic<bool> hookSawEnded{false};
std::atomic<std::thread::id> hookThread{};
std::atomic<WorkerThread*> watched{nullptr};

TEST(WorkerThreads, RoutineRunsAndTheHookFollowsTheEndedFlag) {
    struct Shared {
        std::atomic<bool> release{false};
        std::atomic<std::thread::id> routineThread{};
    } shared;
    auto routine = [](void* p) -> uint32_t {
        auto* s = static_cast<Shared*>(p);
        s->routineThread = std::this_thread::get_id();
        while (!s->release) std::this_thread::sleep_for(1ms);
        return 7;
    };
    setWorkerEndedHook([] {
        hookThread = std::this_thread::get_id();
        hookSawEnded = workerEnded(watched.load());
    });
    WorkerThread* worker = startWorker(routine, &shared);
    ASSERT_NE(worker, nullptr);
    watched = worker;
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(workerEnded(worker));
    shared.release = true;
    for (int i = 0; i < 2000 && hookThread.load() == std::thread::id(); ++i)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(workerEnded(worker));
    EXPECT_TRUE(hookSawEnded);
    EXPECT_EQ(hookThread.load(), shared.routineThread.load());
    EXPECT_NE(hookThread.load(), std::this_thread::get_id());
    closeWorker(worker);
    setWorkerEndedHook(nullptr);
}

TEST(WorkerThreads, ClosingARunningWorkerNeitherWaitsNorStopsIt) {
    static std::atomic<bool> release{false};
    static std::atomic<bool> finished{false};
    WorkerThread* worker = startWorker(
        [](void*) -> uint32_t {
            while (!release) std::this_thread::sleep_for(1ms);
            finished = true;
            return 0;
        },
        nullptr);
    ASSERT_NE(worker, nullptr);
    auto start = std::chrono::steady_clock::now();
    closeWorker(worker);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
    release = true;
    for (int i = 0; i < 2000 && !finished; ++i) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(finished);
    EXPECT_EQ(startWorker(nullptr, nullptr), nullptr);
}

}  // namespace
}  // namespace nds
