// The demo service over real HTTP on loopback: page format, keyword forms
// (UTF-8 and GBK, raw and percent-encoded), case, paging offsets, the empty
// result page, the cookie and the request log.

#include "demo_service.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>

namespace {

using nds::demo::Entry;

const std::string kStart = "<div style=\"margin-top:8px; margin-bottom:2px;\">";
const std::string kEnd = "<div align=center>";
const std::string kLinkPrefix = "<a href=\"https://pan.example.com/s/";

// The bundled corpus, as measured: 30 titles hold 合集, 6 hold linux (in any
// case), 11 hold "open data".
constexpr int kHejiCount = 30;

class DemoServiceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        ASSERT_TRUE(nds::demo::loadCorpus(nds::demo::defaultCorpusPath(), corpus, error)) << error;
        log = std::tmpfile();
        requestLog = new nds::demo::RequestLog(log);
        server = new httplib::Server;
        nds::demo::installRoutes(*server, corpus, *requestLog);
        port = server->bind_to_any_port("127.0.0.1");
        ASSERT_GT(port, 0);
        thread = std::thread([] { server->listen_after_bind(); });
        while (!server->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    static void TearDownTestSuite() {
        server->stop();
        thread.join();
        delete server;
        delete requestLog;
        std::fclose(log);
    }

    // GET of a target sent as given, byte for byte.
    static httplib::Result get(const std::string& target) {
        httplib::Client client("127.0.0.1", port);
        client.set_url_encode(false);
        return client.Get(target.c_str());
    }

    // The result block of a page, between the start marker and the end marker.
    static std::string block(const std::string& page) {
        const size_t start = page.find(kStart);
        EXPECT_NE(start, std::string::npos);
        EXPECT_EQ(page.find(kStart, start + 1), std::string::npos) << "one start marker only";
        const size_t end = page.find(kEnd, start);
        EXPECT_NE(end, std::string::npos);
        if (start == std::string::npos || end == std::string::npos) return {};
        return page.substr(start + kStart.size(), end - start - kStart.size());
    }

    static std::vector<std::string> links(const std::string& text) {
        std::vector<std::string> out;
        for (size_t at = text.find(kLinkPrefix); at != std::string::npos;
             at = text.find(kLinkPrefix, at + 1)) {
            out.push_back(text.substr(at, kLinkPrefix.size() + 8));
        }
        return out;
    }

    static std::string countPhrase(int n) {
        return "获得约 <strong>" + std::to_string(n) + "</strong> 条";
    }

    static inline std::vector<Entry> corpus;
    static inline std::FILE* log = nullptr;
    static inline nds::demo::RequestLog* requestLog = nullptr;
    static inline httplib::Server* server = nullptr;
    static inline std::thread thread;
    static inline int port = 0;
};

TEST_F(DemoServiceTest, SearchPageHasCountBlockOfTenAndCookie) {
    const auto res = get("/s?q=%E5%90%88%E9%9B%86");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_NE(res->get_header_value("Content-Type").find("utf-8"), std::string::npos);
    EXPECT_NE(res->get_header_value("Set-Cookie").find("ndsdemo="), std::string::npos);
    const std::string& page = res->body;
    const size_t count = page.find(countPhrase(kHejiCount));
    ASSERT_NE(count, std::string::npos);
    EXPECT_LT(count, page.find(kStart)) << "the count comes before the block";
    const std::string b = block(page);
    EXPECT_EQ(links(b).size(), 10u);
    EXPECT_NE(b.find("合集"), std::string::npos);
    EXPECT_NE(b.find("大小："), std::string::npos);
    EXPECT_EQ(links(page.substr(page.find(kEnd))).size(), 0u) << "no result after the block";
}

TEST_F(DemoServiceTest, KeywordFormsGiveTheSamePage) {
    const auto reference = get("/s?q=%E5%90%88%E9%9B%86");
    ASSERT_TRUE(reference);
    const struct {
        const char* name;
        std::string target;
    } forms[] = {
        {"raw UTF-8", "/s?q=\xE5\x90\x88\xE9\x9B\x86"},
        {"raw GBK", "/s?q=\xBA\xCF\xBC\xAF"},
        {"percent-encoded GBK", "/s?q=%BA%CF%BC%AF"},
        {"lower-case escapes", "/s?q=%e5%90%88%e9%9b%86"},
        {"explicit p=0", "/s?q=%E5%90%88%E9%9B%86&p=0"},
        {"negative p", "/s?q=%E5%90%88%E9%9B%86&p=-10"},
        {"unreadable p", "/s?q=%E5%90%88%E9%9B%86&p=abc"},
    };
    for (const auto& f : forms) {
        const auto res = get(f.target);
        ASSERT_TRUE(res) << f.name;
        EXPECT_EQ(res->body, reference->body) << f.name;
    }
}

TEST_F(DemoServiceTest, MatchingIgnoresAsciiCaseAndKeepsSpaces) {
    const struct {
        const char* target;
        int count;
    } cases[] = {
        {"/s?q=linux", 6},        {"/s?q=LINUX", 6},    {"/s?q=LiNuX", 6},
        {"/s?q=open%20data", 11}, {"/s?q=opendata", 0},
    };
    for (const auto& c : cases) {
        const auto res = get(c.target);
        ASSERT_TRUE(res) << c.target;
        EXPECT_NE(res->body.find(countPhrase(c.count)), std::string::npos) << c.target;
    }
}

TEST_F(DemoServiceTest, ZeroResultPageHasCountZeroAndAnEmptyBlock) {
    const auto res = get("/s?q=zzzz");
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find(countPhrase(0)), std::string::npos);
    EXPECT_NE(res->body.find(kStart + kEnd), std::string::npos);
}

TEST_F(DemoServiceTest, OffsetsPageThroughEveryResultOnce) {
    std::set<std::string> seen;
    const struct {
        int offset;
        size_t results;
    } pages[] = {{0, 10}, {10, 10}, {20, 10}, {30, 0}, {25, 5}, {1000, 0}};
    for (const auto& p : pages) {
        const auto res = get("/s?q=%E5%90%88%E9%9B%86&p=" + std::to_string(p.offset));
        ASSERT_TRUE(res);
        EXPECT_NE(res->body.find(countPhrase(kHejiCount)), std::string::npos) << p.offset;
        const std::vector<std::string> found = links(block(res->body));
        EXPECT_EQ(found.size(), p.results) << p.offset;
        if (p.offset < kHejiCount && p.offset % 10 == 0) seen.insert(found.begin(), found.end());
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kHejiCount)) << "pages 1 to 3 overlap";
}

TEST_F(DemoServiceTest, HomePageAndUnknownPaths) {
    const auto home = get("/");
    ASSERT_TRUE(home);
    EXPECT_EQ(home->status, 200);
    EXPECT_NE(home->body.find("<html>"), std::string::npos);
    const auto other = get("/nothing-here");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 404);
}

TEST_F(DemoServiceTest, LogShowsTheRawTargetBytes) {
    ASSERT_TRUE(get("/s?q=\xBA\xCF&p=10"));
    ASSERT_TRUE(get("/s?q=%BA%CF"));
    std::fflush(log);
    std::rewind(log);
    std::string all;
    char buf[512];
    while (std::fgets(buf, sizeof buf, log)) all += buf;
    EXPECT_NE(all.find("GET /s?q=%BA%CF&p=10\n"), std::string::npos) << all;
    EXPECT_NE(all.find("GET /s?q=%25BA%25CF\n"), std::string::npos) << all;
}

TEST(DemoServiceQuery, TargetsDecodeToUtf8Keywords) {
    const struct {
        std::string target;
        std::string keyword;
        long offset;
    } cases[] = {
        {"/s?q=abc&p=10", "abc", 10},
        {"/s?p=20&q=abc", "abc", 20},
        {"/s?q=C++", "C++", 0},
        {"/s?q=100%", "100%", 0},              // a lone percent stays
        {"/s?q=%zz%4", "%zz%4", 0},            // so do broken escapes
        {"/s?q=\xD6\xD0\xCE\xC4", "中文", 0},  // GBK
        {"/s?q=%D6%D0%CE%C4", "中文", 0},
        {"/s?q=\xE4\xB8\xAD\xE6\x96\x87", "中文", 0},  // UTF-8
        {"/s?q=&p=", "", 0},
        {"/s", "", 0},
    };
    for (const auto& c : cases) {
        const nds::demo::Query q = nds::demo::parseSearchTarget(c.target);
        EXPECT_EQ(q.keyword, c.keyword) << c.target;
        EXPECT_EQ(q.offset, c.offset) << c.target;
    }
    // A GBK byte that is no character does not end the keyword.
    EXPECT_EQ(nds::demo::gbkToUtf8("a\xFF"
                                   "b"),
              "a\xEF\xBF\xBD"
              "b");
}

}  // namespace
