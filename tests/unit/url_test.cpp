// Taking a request URL apart: host, path and port.

#include <gtest/gtest.h>

#include "fetch/exchange.h"

namespace nds {
namespace {

TEST(UrlParts, Table) {
    struct Case {
        const char* url;
        const char* host;
        const char* hostWithPort;
        const char* path;
        int port;
    };
    const Case cases[] = {
        {"http://Example.COM/s?q=abc", "example.com", "example.com", "/s?q=abc", 80},
        {"http://Host.Example:8080/a/b?c=d", "host.example", "host.example:8080", "/a/b?c=d", 8080},
        {"http://example.com", "example.com", "example.com", "/", 80},
        {"http://example.com?q=1", "example.com?q=1", "example.com?q=1", "/", 80},
        {"example.com/x/y", "example.com", "example.com", "/x/y", 80},
        {"http://example.com:abc/", "example.com", "example.com:abc", "/", 0},
        {"http://example.com:8a/", "example.com", "example.com:8a", "/", 8},
        {"http://127.0.0.1:8765/s?q=a b", "127.0.0.1", "127.0.0.1:8765", "/s?q=a b", 8765},
        // "http://" counts wherever it stands, and only in lower case.
        {"see http://h.example/p", "h.example", "h.example", "/p", 80},
        {"HTTP://Upper.example/p", "http", "http:", "//Upper.example/p", 0},
        // A host that also occurs inside the scheme: the path still starts
        // after the host.
        {"http://p/x", "p", "p", "/x", 80},
        {"http://tp:81/y", "tp", "tp:81", "/y", 81},
        {"", "", "", "/", 80},
        // GBK bytes in the query pass as they are.
        {"http://h/s?q=\xD6\xD0\xCE\xC4", "h", "h", "/s?q=\xD6\xD0\xCE\xC4", 80},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(urlHost(c.url).str(), c.host) << c.url;
        EXPECT_EQ(urlHost(c.url, true).str(), c.hostWithPort) << c.url;
        EXPECT_EQ(urlPath(c.url).str(), c.path) << c.url;
        EXPECT_EQ(urlPort(c.url), c.port) << c.url;
    }
}

}  // namespace
}  // namespace nds
