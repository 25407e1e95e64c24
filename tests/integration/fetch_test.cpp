// fetchUrl and the exchange through the real HTTP layer, on the headless
// runtime, against scripted loopback servers.

#include "fetch/fetch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fetch/exchange.h"
#include "platform/events.h"
#include "platform/headless/headless_backend.h"
#include "platform/posix/http_limits.h"
#include "shell/runtime.h"
#include "support/loopback_server.h"

namespace nds {
namespace {

using test::httpResponse;
using test::LoopbackServer;
using Clock = std::chrono::steady_clock;

// Runs `body` as the program on a fresh headless runtime, so fetchUrl's wait
// has a runtime to pump.
std::function<void()> programBody;
int runBody() {
    programBody();
    return 0;
}
void onHeadless(std::function<void()> body, HeadlessBackend* backend = nullptr) {
    HeadlessBackend own;
    programBody = std::move(body);
    runProgram(backend ? *backend : own, runBody);
}

Bytes fetchOnHeadless(const std::string& url, Text* headersOut = nullptr) {
    Bytes body;
    onHeadless([&] { body = fetchUrl(Text(url), {}, {}, {}, {}, {}, {}, 0, headersOut); });
    return body;
}

std::vector<std::string> headerLines(const std::string& raw) {
    std::vector<std::string> lines;
    const std::string head = raw.substr(0, raw.find("\r\n\r\n"));
    std::size_t at = head.find("\r\n");
    while (at != std::string::npos) {
        const std::size_t next = head.find("\r\n", at + 2);
        lines.push_back(head.substr(at + 2, next == std::string::npos ? next : next - at - 2));
        at = next;
    }
    return lines;
}

LoopbackServer::Script answer(std::string response) {
    return [response](LoopbackServer::Connection& c, const LoopbackServer::Request&) {
        c.write(response);
        c.close();
    };
}

class StallLimit : public ::testing::Environment {
public:
    // A silent server ends an exchange after this long without a byte.
    void SetUp() override { setStallLimitSeconds(2); }
};
const auto* const stallLimit = ::testing::AddGlobalTestEnvironment(new StallLimit);

TEST(FetchRequest, UrlAloneSendsTheBuiltInRequestByteForByte) {
    LoopbackServer server(answer(httpResponse(200, "ok")));
    const std::string url = server.url("/a");
    EXPECT_EQ(fetchOnHeadless(url).str(), "ok");

    ASSERT_EQ(server.requests().size(), 1u);
    const std::string raw = server.requests()[0].raw;
    EXPECT_EQ(raw.substr(0, raw.find("\r\n") + 2), "GET /a HTTP/1.1\r\n");
    EXPECT_EQ(raw.substr(raw.size() - 4), "\r\n\r\n") << "a GET carries no body";

    const std::string accept = std::string(kDefaultAcceptLine);
    const std::vector<std::string> expected = {
        accept.substr(0, accept.size() - 2),
        "Referer: " + url,
        "Accept-Language: zh-cn",
        "User-Agent: " + std::string(kUserAgent),
        "Host: " + server.address(),
    };
    std::vector<std::string> lines = headerLines(raw);
    // The three default lines go out in their order; the layer adds only
    // Host and User-Agent.
    std::vector<std::string> defaults;
    for (const auto& l : lines)
        if (l.starts_with("Accept") || l.starts_with("Referer")) defaults.push_back(l);
    EXPECT_EQ(defaults, std::vector<std::string>(expected.begin(), expected.begin() + 3));
    std::sort(lines.begin(), lines.end());
    std::vector<std::string> sorted = expected;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(lines, sorted);
}

TEST(FetchRequest, CallerHeadersTakeThePlaceOfDefaults) {
    struct Case {
        const char* headers;
        bool accept, referer, language;
    };
    const Case cases[] = {
        {"accept: text/html\r\n", false, true, true},
        {"REFERER: http://elsewhere/\r\n", true, false, true},
        {"Accept-Language: en\r\n", true, true, false},
        {"X-Extra: 1\r\n", true, true, true},
    };
    for (const Case& c : cases) {
        LoopbackServer server(answer(httpResponse(200, "")));
        onHeadless([&] { fetchUrl(Text(server.url("/h")), {}, {}, {}, {}, Text(c.headers)); });
        ASSERT_EQ(server.requests().size(), 1u) << c.headers;
        const std::string raw = server.requests()[0].raw;
        EXPECT_EQ(raw.find(std::string(kDefaultAcceptLine)) != std::string::npos, c.accept)
            << c.headers;
        EXPECT_EQ(raw.find("Referer: " + server.url("/h")) != std::string::npos, c.referer)
            << c.headers;
        EXPECT_EQ(raw.find(std::string(kDefaultLanguageLine)) != std::string::npos, c.language)
            << c.headers;
        EXPECT_NE(raw.find(c.headers), std::string::npos) << "the caller's line goes out";
    }
}

TEST(FetchRequest, MethodDecidesTheBody) {
    struct Case {
        const char* method;
        const char* headers;
        const char* body;
        const char* requestLineStart;
        const char* sentBody;
        bool defaultContentType;
        bool contentLength;
    };
    const Case cases[] = {
        {"", "", "ignored", "GET ", "", false, false},
        {"get", "", "ignored", "get ", "", false, false},
        {"POST", "", "a=1&b=2", "POST ", "a=1&b=2", true, true},
        {"post", "", "x=y", "post ", "x=y", true, true},
        {"POST", "content-type: text/plain\r\n", "hello", "POST ", "hello", false, true},
        // No body: the exchange adds neither line; the layer says Content-Length: 0.
        {"POST", "", "", "POST ", "", false, true},
    };
    for (const Case& c : cases) {
        LoopbackServer server(answer(httpResponse(200, "done")));
        Bytes got;
        onHeadless([&] {
            got = fetchUrl(Text(server.url("/m")), Text(c.method), {}, {}, {}, Text(c.headers),
                           Text(c.body));
        });
        EXPECT_EQ(got.str(), "done") << c.method;
        ASSERT_EQ(server.requests().size(), 1u) << c.method;
        const auto request = server.requests()[0];
        EXPECT_TRUE(request.requestLine.starts_with(c.requestLineStart)) << request.requestLine;
        EXPECT_EQ(request.body, c.sentBody) << c.method;
        EXPECT_EQ(request.raw.find(std::string(kDefaultContentTypeLine)) != std::string::npos,
                  c.defaultContentType)
            << c.method << " " << c.headers;
        const std::string length = "Content-Length: " + std::to_string(std::string(c.body).size());
        EXPECT_EQ(request.raw.find(length) != std::string::npos, c.contentLength) << c.method;
    }
}

// The keyword reaches the URL unescaped; a line break in it must not split the
// request line or start a header of its own, in the path or in the Referer.
TEST(FetchRequest, LineBreaksInTheUrlCannotAddAHeader) {
    LoopbackServer server(answer(httpResponse(200, "ok")));
    const std::string url = server.url("/s?q=a\r\nX-Evil: 1\n");
    EXPECT_EQ(fetchOnHeadless(url).str(), "ok");
    ASSERT_EQ(server.requests().size(), 1u);
    const std::string raw = server.requests()[0].raw;
    for (const std::string& line : headerLines(raw))
        EXPECT_FALSE(line.starts_with("X-Evil")) << raw;
    EXPECT_EQ(server.requests()[0].requestLine, "GET /s?q=a%0D%0AX-Evil:%201%0A HTTP/1.1");
    EXPECT_NE(raw.find("\r\nReferer: " + server.url("/s?q=a%0D%0AX-Evil: 1%0A") + "\r\n"),
              std::string::npos)
        << raw;
}

// A proxy that was asked for is used or the fetch fails: the request never
// leaves directly, whatever the environment says.
TEST(FetchRequest, AProxyAskedForIsUsedOrTheFetchFails) {
    LoopbackServer origin(answer(httpResponse(200, "direct")));
    LoopbackServer proxy(answer(httpResponse(200, "via proxy")));
    setenv("NO_PROXY", "*", 1);
    const struct {
        std::string proxyText;
        const char* body;
    } cases[] = {
        {proxy.address(), "via proxy"},
        {" " + proxy.address(), "via proxy"},  // "http= HOST": the bare entry serves
        {"ftp=127.0.0.1:1", ""},               // "http=ftp=...": unusable
        {"127.0.0.1:abc", ""},
        {"127.0.0.1:99999", ""},
        {"http=" + proxy.address(), ""},  // goes out as "http=http=..."
    };
    for (const auto& c : cases) {
        Bytes body;
        onHeadless([&] { body = fetchUrl(Text(origin.url("/p")), {}, Text(c.proxyText)); });
        EXPECT_EQ(body.str(), c.body) << "proxy '" << c.proxyText << "'";
    }
    unsetenv("NO_PROXY");
    ASSERT_EQ(proxy.requests().size(), 2u);
    EXPECT_EQ(proxy.requests()[0].requestLine, "GET " + origin.url("/p") + " HTTP/1.1");
    EXPECT_TRUE(origin.requests().empty()) << "nothing went direct";
}

TEST(FetchRequest, OtherMethodsSendNothingAndGiveTheEmptyBody) {
    LoopbackServer server(answer(httpResponse(200, "never")));
    Text headers = "untouched";
    Bytes got;
    onHeadless(
        [&] { got = fetchUrl(Text(server.url("/")), "PUT", {}, {}, {}, {}, {}, 0, &headers); });
    EXPECT_TRUE(got.empty());
    EXPECT_TRUE(headers.empty());
    EXPECT_TRUE(server.requests().empty());
}

TEST(FetchResponse, BodiesComeBackByteForByte) {
    std::string binary(1 << 20, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>((i * 131) % 256);

    struct Case {
        const char* name;
        std::string response;
        std::string body;
    };
    const Case cases[] = {
        {"1 MiB binary with NUL bytes", httpResponse(200, binary), binary},
        {"chunked",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n "
         "world\r\n0\r\n\r\n",
         "hello world"},
        {"close-delimited", "HTTP/1.1 200 OK\r\n\r\nuntil the end", "until the end"},
        {"cut mid-way", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(500, 'x'),
         std::string(500, 'x')},
        {"404 body", httpResponse(404, "not here"), "not here"},
        {"no body", httpResponse(204, ""), ""},
    };
    for (const Case& c : cases) {
        LoopbackServer server(answer(c.response));
        const Bytes got = fetchOnHeadless(server.url("/b"));
        EXPECT_EQ(got.size(), c.body.size()) << c.name;
        EXPECT_TRUE(got.str() == c.body) << c.name;
    }
}

TEST(FetchResponse, RedirectIsFollowedToTheFinalPage) {
    LoopbackServer server([](LoopbackServer::Connection& c, const LoopbackServer::Request& r) {
        if (r.requestLine.starts_with("GET /old"))
            c.write(httpResponse(302, "", "Location: /new\r\nSet-Cookie: hop=1\r\n"));
        else
            c.write(httpResponse(200, "final"));
        c.close();
    });
    Text headers;
    EXPECT_EQ(fetchOnHeadless(server.url("/old"), &headers).str(), "final");
    EXPECT_TRUE(headers.str().starts_with("HTTP/1.1 200")) << headers.str();
}

TEST(FetchResponse, HeaderTextIsTheRawHeaders) {
    LoopbackServer server(answer(httpResponse(200, "x", "X-One:   padded  \r\n")));
    Text headers;
    fetchOnHeadless(server.url("/"), &headers);
    EXPECT_TRUE(headers.str().starts_with("HTTP/1.1 200")) << headers.str();
    EXPECT_NE(headers.str().find("\r\nX-One: padded\r\n"), std::string::npos) << headers.str();
    EXPECT_TRUE(headers.str().ends_with("\r\n\r\n"));
}

// The Cookie line of a raw request, or "".
std::string cookieLine(const std::string& raw) {
    const std::size_t line = raw.find("\r\nCookie: ");
    return line == std::string::npos ? ""
                                     : raw.substr(line + 2, raw.find("\r\n", line + 2) - line - 2);
}

TEST(FetchCookies, ACookieSetByOneResponseGoesWithTheNextRequest) {
    const struct {
        const char* setCookie;
        const char* sent;  // what the next request's Cookie line holds
    } cases[] = {
        {"session=abc123; path=/", "session=abc123"},
        {"flagonly", "flagonly"},  // no "=": a cookie without a name
        {"=first=equals", "first=equals"},
    };
    for (const auto& c : cases) {
        const std::string header = std::string("Set-Cookie: ") + c.setCookie + "\r\n";
        LoopbackServer server(
            [&](LoopbackServer::Connection& connection, const LoopbackServer::Request& r) {
                connection.write(
                    httpResponse(200, "", r.requestLine.starts_with("GET /set") ? header : ""));
                connection.close();
            });
        onHeadless([&] {
            fetchUrl(Text(server.url("/set")));
            fetchUrl(Text(server.url("/next")));
        });
        ASSERT_EQ(server.requests().size(), 2u) << c.setCookie;
        // The store is the process's: earlier cookies for 127.0.0.1 are there too.
        EXPECT_EQ(cookieLine(server.requests()[0].raw).find(c.sent), std::string::npos)
            << c.setCookie;
        EXPECT_NE(cookieLine(server.requests()[1].raw).find(c.sent), std::string::npos)
            << c.setCookie << "\n"
            << server.requests()[1].raw;
    }
}

TEST(FetchCookies, HeadersBeyondTheBufferGiveSpacesAndRecordNothing) {
    const std::string longHeader = "X-Long: " + std::string(1100, 'v') + "\r\n";
    LoopbackServer server([&](LoopbackServer::Connection& c, const LoopbackServer::Request& r) {
        c.write(httpResponse(200, "body",
                             r.requestLine.starts_with("GET /set")
                                 ? "Set-Cookie: toolong=1\r\n" + longHeader
                                 : std::string()));
        c.close();
    });
    Text headers;
    Bytes body;
    onHeadless([&] {
        body = fetchUrl(Text(server.url("/set")), {}, {}, {}, {}, {}, {}, 0, &headers);
        fetchUrl(Text(server.url("/next")));
    });
    EXPECT_EQ(body.str(), "body");
    EXPECT_EQ(headers.str(), std::string(1024, ' '));
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[1].raw.find("toolong"), std::string::npos);
}

TEST(FetchFailure, RefusedPortGivesTheEmptyBodyQuickly) {
    const auto start = Clock::now();
    const Bytes body =
        fetchOnHeadless("http://127.0.0.1:" + std::to_string(LoopbackServer::refusedPort()) + "/");
    EXPECT_TRUE(body.empty());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

TEST(FetchFailure, SilentServerEndsTheExchangeNotTheProgram) {
    LoopbackServer server(
        [](LoopbackServer::Connection& c, const LoopbackServer::Request&) { c.holdOpen(); });
    const auto start = Clock::now();
    Text headers;
    const Bytes body = fetchOnHeadless(server.url("/silent"), &headers);
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(headers.str(), std::string(1024, ' ')) << "no headers arrived";
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

// The worker outlives a call that gave up on it; it must write only into its
// own mailbox. Run under AddressSanitizer as fetch_test_asan.
TEST(FetchTimeout, AbandonedWorkerNeverReachesALaterCall) {
    LoopbackServer server([](LoopbackServer::Connection& c, const LoopbackServer::Request& r) {
        if (r.requestLine.starts_with("GET /slow")) c.sleep(std::chrono::milliseconds(1500));
        c.write(httpResponse(200, r.requestLine.starts_with("GET /slow") ? "late" : "fresh"));
        c.close();
    });
    Bytes slow, fresh;
    Text slowHeaders = "untouched";
    const auto start = Clock::now();
    onHeadless([&] {
        slow = fetchUrl(Text(server.url("/slow")), {}, {}, {}, {}, {}, {}, 1, &slowHeaders);
        fresh = fetchUrl(Text(server.url("/fresh")));
    });
    EXPECT_TRUE(slow.empty());
    EXPECT_TRUE(slowHeaders.empty());
    EXPECT_EQ(fresh.str(), "fresh");
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1450))
        << "the call gave up after its one-second wait";
    // Let the abandoned worker finish its exchange and write its response.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
}

// A runtime whose wait itself fails: the call must give up at once, not spin.
class FailingWait : public HeadlessBackend {
public:
    uint32_t waitForWorkerOrInput(WorkerThread*, uint32_t, uint32_t) override {
        ++waits;
        return kWaitFailed;
    }
    int waits = 0;
};

TEST(FetchWait, AFailedWaitGivesTheEmptyBody) {
    LoopbackServer server(answer(httpResponse(200, "unseen")));
    FailingWait backend;
    Bytes body(std::string_view("stale"));
    Text headers = "stale";
    onHeadless([&] { body = fetchUrl(Text(server.url("/")), {}, {}, {}, {}, {}, {}, 0, &headers); },
               &backend);
    EXPECT_TRUE(body.empty());
    EXPECT_TRUE(headers.empty());
    EXPECT_EQ(backend.waits, 1);
}

// Input handlers run inside a fetch's wait; one of them fetches too.
std::string nestedInner;
int ticks = 0;
void countTick() { ++ticks; }
void fetchInner();
std::string innerUrl;
void fetchInner() { nestedInner = fetchUrl(Text(innerUrl)).str(); }

TEST(FetchWait, NestedFetchReturnsFirstAndTimersTickDuringTheWait) {
    LoopbackServer server([](LoopbackServer::Connection& c, const LoopbackServer::Request& r) {
        if (r.requestLine.starts_with("GET /outer")) c.sleep(std::chrono::milliseconds(600));
        c.write(httpResponse(200, r.requestLine.starts_with("GET /outer") ? "outer" : "inner"));
        c.close();
    });
    innerUrl = server.url("/inner");
    nestedInner.clear();
    ticks = 0;

    WindowForm form;
    form.id = WindowId::MainWindow;
    form.name = "TestWindow";
    form.width = 200;
    form.height = 100;
    form.controls.push_back(
        {.id = ControlId::searchTimer, .name = "timer", .kind = ControlKind::Timer});
    form.controls.push_back(
        {.id = ControlId::searchButton, .name = "button", .kind = ControlKind::PushButton});
    const WindowForm forms[] = {form};
    const Binding bindings[] = {
        {WindowId::MainWindow, ControlId::searchTimer, Event::tick, countTick},
        {WindowId::MainWindow, ControlId::searchButton, Event::clicked, fetchInner},
    };

    HeadlessBackend backend;
    std::vector<std::string> order;
    onHeadless(
        [&] {
            initWindowRuntime(forms, bindings);
            loadWindow(WindowId::MainWindow);
            writeProperty(WindowId::MainWindow, ControlId::searchTimer, Property::timerPeriod, 10);
            backend.queueInput(100,
                               [] { userClick(WindowId::MainWindow, ControlId::searchButton); });
            const std::string outer = fetchUrl(Text(server.url("/outer"))).str();
            order.push_back(nestedInner.empty() ? "outer before inner" : "inner first");
            order.push_back(outer);
            writeProperty(WindowId::MainWindow, ControlId::searchTimer, Property::timerPeriod, 0);
        },
        &backend);
    EXPECT_EQ(order, (std::vector<std::string>{"inner first", "outer"}));
    EXPECT_EQ(nestedInner, "inner");
    // 600 ms of wait with a 10 ms timer: far more than a handful of ticks even
    // on a loaded machine.
    EXPECT_GT(ticks, 10);
}

TEST(FetchMailboxRecord, RunRequestRefusesWhatIsNotARequest) {
    EXPECT_FALSE(runRequest(nullptr));

    MemoryStream foreign;
    writeValues(foreign, Text("Other"), Text("http://127.0.0.1/"));
    const std::string before = foreign.content;
    EXPECT_FALSE(runRequest(&foreign));
    EXPECT_EQ(foreign.content, before) << "a mailbox without the tag is left untouched";

    MemoryStream badMethod;
    writeValues(badMethod, kRequestTag, Text("http://127.0.0.1:1/"), Text("DELETE"), Text(), Text(),
                Text(), Text(), Text());
    EXPECT_FALSE(runRequest(&badMethod));
    EXPECT_EQ(streamLength(badMethod), 0) << "emptied before the method was looked at";
}

}  // namespace
}  // namespace nds
