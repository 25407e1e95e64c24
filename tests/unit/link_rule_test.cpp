// Which hrefs of a result page may reach the browser, and as what URL: web
// addresses only, references without a scheme resolved against the search
// service's home page, everything else (programs, files, scripts) dropped.
#include <gtest/gtest.h>

#include "shell/handlers.h"
#include "shell/program.h"

namespace nds {
namespace {

TEST(LinkRule, WhatReachesTheBrowser) {
    searchHost = Text("search.test:8765");
    struct Case {
        const char* href;
        const char* url;  // "" when the link is ignored
    };
    const Case cases[] = {
        // Web addresses pass unchanged; the scheme in any case.
        {"http://pan.example.com/s/1abc", "http://pan.example.com/s/1abc"},
        {"https://pan.example.com/s/1?pwd=x#y", "https://pan.example.com/s/1?pwd=x#y"},
        {"HTTPS://Pan.Example.com/", "HTTPS://Pan.Example.com/"},
        {"hTtP://a", "hTtP://a"},
        {"  http://a.example/x \r\n", "http://a.example/x"},
        {"http://a.exa\tmple/\nx", "http://a.example/x"},
        {"http://a.example/\xCD\xF8\xC5\xCC", "http://a.example/\xCD\xF8\xC5\xCC"},
        // Web schemes without a host.
        {"http://", ""},
        {"http:///etc/passwd", ""},
        {"https:example.com", ""},
        {"http:\\\\evil\\share", ""},
        // Everything with another scheme.
        {"javascript:alert(1)", ""},
        {"JavaScript:alert(1)", ""},
        {"file:///C:/Windows/System32/calc.exe", ""},
        {"file://server/share/x.exe", ""},
        {"mailto:someone@example.com", ""},
        {"ftp://files.example.com/a", ""},
        {"data:text/html,<b>x</b>", ""},
        {"vbscript:msgbox(1)", ""},
        {"ms-settings:display", ""},
        {"C:\\Windows\\notepad.exe", ""},
        {"c:/boot.ini", ""},
        {"x-custom+app.v1:run", ""},
        // Control bytes spoil a link.
        {"http://a.example/\x01x", ""},
        {"http://a.example/\x7F", ""},
        // Nothing at all.
        {"", ""},
        {"   ", ""},
        // Without a scheme: against http://search.test:8765/.
        {"/x", "http://search.test:8765/x"},
        {"x?y", "http://search.test:8765/x?y"},
        {"/s?q=abc&p=10", "http://search.test:8765/s?q=abc&p=10"},
        {"?q=1", "http://search.test:8765/?q=1"},
        {"#top", "http://search.test:8765/#top"},
        {"a/b/../c", "http://search.test:8765/a/c"},
        {"../../etc/passwd", "http://search.test:8765/etc/passwd"},
        {"./a/./b/", "http://search.test:8765/a/b/"},
        {"/a/..", "http://search.test:8765/"},
        {"/a/b?x=../y", "http://search.test:8765/a/b?x=../y"},
        {"1abc:def", "http://search.test:8765/1abc:def"},
        {"\xCD\xF8\xC5\xCC.html", "http://search.test:8765/\xCD\xF8\xC5\xCC.html"},
        // A double-byte character whose second byte is a backslash stays whole.
        {"\x81\x5C", "http://search.test:8765/\x81\x5C"},
        // Same scheme as the page: http. A host is needed.
        {"//cdn.example.com/a.js", "http://cdn.example.com/a.js"},
        {"//", ""},
        {"///x", ""},
        // Backslashes are slashes in a web reference, so a file share cannot
        // be named.
        {"\\\\server\\share\\x.exe", "http://server/share/x.exe"},
        {"\\x", "http://search.test:8765/x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(browserUrlForLink(Text(c.href)).str(), c.url) << "href: " << c.href;
    }
}

TEST(LinkRule, ResolvesAgainstTheHostOfThisRun) {
    searchHost = Text("127.0.0.1:9");
    EXPECT_EQ(browserUrlForLink(Text("/a")).str(), "http://127.0.0.1:9/a");
}

}  // namespace
}  // namespace nds
