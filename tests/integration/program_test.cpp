// The whole program on the headless runtime against a scripted loopback
// service: start-up, docking, animation, search, result count, paging, the
// links and the two ways the program ends, as a user would drive them.
#include "shell/program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fetch/fetch.h"
#include "platform/codepage.h"
#include "platform/headless/headless_backend.h"
#include "shell/runtime.h"
#include "support/loopback_server.h"

namespace nds {
namespace {

constexpr WindowId M = WindowId::MainWindow;
constexpr WindowId R = WindowId::ResultsWindow;
using C = ControlId;
using P = Property;
using Clock = std::chrono::steady_clock;
using test::LoopbackServer;

// UTF-8 (how the tests write texts) to GBK (how the program holds them), and back.
Text G(std::string_view utf8) {
    const int n = multiByteToWideChar(65001, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::u16string units(size_t(n), u'\0');
    multiByteToWideChar(65001, 0, utf8.data(), int(utf8.size()), units.data(), n);
    std::string out(units.size() * 2 + 1, '\0');
    const int m =
        wideCharToMultiByte(936, 0, units.data(), int(units.size()), out.data(), int(out.size()));
    out.resize(size_t(m));
    return Text(out);
}

std::string U(std::string_view gbk) {
    const int n = multiByteToWideChar(936, 0, gbk.data(), int(gbk.size()), nullptr, 0);
    std::u16string units(size_t(n), u'\0');
    multiByteToWideChar(936, 0, gbk.data(), int(gbk.size()), units.data(), n);
    std::string out(units.size() * 3 + 1, '\0');
    const int m =
        wideCharToMultiByte(65001, 0, units.data(), int(units.size()), out.data(), int(out.size()));
    out.resize(size_t(m));
    return out;
}

std::string textOf(WindowId w, ControlId c, Property p) { return U(readText(w, c, p).view()); }
int intOf(WindowId w, ControlId c, Property p) { return readInt(w, c, p); }
std::string viewHtml() {
    PropertyValue v = readProperty(R, C::resultView, P::htmlContent);
    const Bytes* b = std::get_if<Bytes>(&v);
    return b ? U(b->view()) : "";
}
std::string placeOf(WindowId w) {
    return std::to_string(intOf(w, C::self, P::left)) + "," +
           std::to_string(intOf(w, C::self, P::top));
}
std::string positionText() {
    std::string s;
    for (size_t i = 0; i < pageState.size(); ++i)
        s += (i ? "," : "") + std::to_string(pageState[i]);
    return s;
}

const std::string kStart = "<div style=\"margin-top:8px; margin-bottom:2px;\">";
const std::string kEnd = "<div align=center>";

// A result page as the service sends it (UTF-8).
std::string page(const std::string& count, const std::string& block) {
    return "<html><head><meta charset=utf-8></head><body>获得约 <strong>" + count + "</strong> 条" +
           kStart + block + kEnd + "<a href=\"/s?q=x&p=10\">下一页</a></body></html>";
}

struct Reply {
    int status = 200;
    std::string body;
    int delayMs = 0;
};

// The backend, noting what a user would see, in order.
class RecordingBackend : public HeadlessBackend {
public:
    std::vector<std::string> log;
    std::vector<int> searchBar, pageBar;  // every position the bars were set to
    void createWindow(const WindowForm& form, int left, int top) override {
        log.push_back(std::string("create ") + form.name + " " + std::to_string(left) + "," +
                      std::to_string(top));
        HeadlessBackend::createWindow(form, left, top);
    }
    void showWindow(WindowId w) override {
        log.push_back(std::string("show ") + formOf(w).name);
        HeadlessBackend::showWindow(w);
    }
    void destroyWindow(WindowId w) override {
        log.push_back(std::string("destroy ") + formOf(w).name);
        HeadlessBackend::destroyWindow(w);
    }
    void showMessage(const Text& caption, const Text& text) override {
        log.push_back("message " + U(text.view()));
        HeadlessBackend::showMessage(caption, text);
    }
    void setPosition(WindowId w, ControlId c, int position) override {
        (c == C::searchProgress ? searchBar : pageBar).push_back(position);
        HeadlessBackend::setPosition(w, c, position);
    }
};

class Program : public ::testing::Test {
protected:
    Program()
        : server([this](LoopbackServer::Connection& connection,
                        const LoopbackServer::Request& request) { answer(connection, request); }) {}

    void SetUp() override {
        searchHost = Text(server.address());
        setFetchObserver([this](const Text& url) { fetched.push_back(url.str()); });
    }
    void TearDown() override { setFetchObserver(nullptr); }

    // Serves `route(target)`; unknown targets get a 404 with an empty body.
    void answer(LoopbackServer::Connection& connection, const LoopbackServer::Request& request) {
        std::string target = request.requestLine;
        target = target.substr(target.find(' ') + 1);
        target = target.substr(0, target.rfind(' '));
        Reply reply{404, ""};
        {
            std::lock_guard<std::mutex> lock(routeMutex);
            if (route) reply = route(target);
        }
        if (reply.delayMs > 0) connection.sleep(std::chrono::milliseconds(reply.delayMs));
        connection.write(test::httpResponse(reply.status, reply.body));
    }
    void serve(std::function<Reply(const std::string& target)> r) {
        std::lock_guard<std::mutex> lock(routeMutex);
        route = std::move(r);
    }
    // Every page answers with `body` (after `delayMs`).
    void serveAlways(std::string body, int delayMs = 0) {
        serve([body, delayMs](const std::string&) { return Reply{200, body, delayMs}; });
    }

    // Runs the program; each step runs once when the event loop is idle, in
    // order. After the last one, Esc in MainWindow ends the program unless
    // it has ended already. Returns the exit code.
    int run(std::vector<std::function<void()>> steps, bool escAtEnd = true) {
        // A fresh backend for every run: no timer or input of an earlier run.
        backend = std::make_unique<RecordingBackend>();
        size_t next = 0;
        backend->setDriver([&, escAtEnd]() {
            if (next < steps.size()) {
                steps[next++]();
                return true;
            }
            if (escAtEnd && !programEnded()) userKey(M, Key::Esc);
            return false;
        });
        releasesBefore = releaseGlobalsCount();
        const int code = runProgram(*backend, programMain);
        releases = releaseGlobalsCount() - releasesBefore;
        return code;
    }

    static void type(const std::string& keyword) { userEditText(M, C::keywordEdit, G(keyword)); }
    static void search(const std::string& keyword) {
        type(keyword);
        userClick(M, C::searchButton);
    }
    std::string lastFetch() const { return fetched.empty() ? "" : U(fetched.back()); }
    std::string base() const { return "http://" + server.address(); }
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const Text& t : backend->messages) out.push_back(U(t.view()));
        return out;
    }

    LoopbackServer server;
    std::mutex routeMutex;
    std::function<Reply(const std::string&)> route;
    std::unique_ptr<RecordingBackend> backend = std::make_unique<RecordingBackend>();
    std::vector<std::string> fetched;
    int releasesBefore = 0;
    int releases = 0;
};

const char* kNotice =
    "这个仅仅是一个测试版本，后续会慢慢更新的。可以搜索更多的网盘。界面也会优化得更好。谢谢大家";

TEST_F(Program, StartUpShowsTheNoticeFirstThenBothWindowsAtTheirPlaces) {
    std::string main, results, label, caption;
    int prevDisabled = -1, quitPeriod = -1, pageTimer = -1, skin = -1, quit = -1;
    std::string position;
    const int code = run({[&] {
        main = placeOf(M);
        results = placeOf(R);
        label = textOf(R, C::pageLabel, P::caption);
        caption = textOf(R, C::self, P::caption);
        prevDisabled = intOf(R, C::prevButton, P::disabled);
        quitPeriod = intOf(R, C::quitTimer, P::timerPeriod);
        pageTimer = intOf(R, C::pageTimer, P::timerPeriod);
        skin = skinStyle();
        quit = quitRequested;
        position = positionText();
    }});
    EXPECT_EQ(code, 0);
    // Each window is created centred on the 1280 x 1024 screen, the notice
    // comes before anything is shown, and ResultsWindow is shown first.
    ASSERT_GE(backend->log.size(), 5u);
    EXPECT_EQ(backend->log[0], "create MainWindow 501,417");
    EXPECT_EQ(backend->log[1], std::string("message ") + kNotice);
    EXPECT_EQ(backend->log[2], "create ResultsWindow 392,128");
    EXPECT_EQ(backend->log[3], "show ResultsWindow");
    EXPECT_EQ(backend->log[4], "show MainWindow");
    EXPECT_EQ(main, "568,40");
    EXPECT_EQ(results, "864,37");
    EXPECT_EQ(label, "第1页");
    EXPECT_EQ(caption, "搜索页面");
    EXPECT_EQ(prevDisabled, 1);
    EXPECT_EQ(quitPeriod, 100);
    EXPECT_EQ(pageTimer, 0);
    EXPECT_EQ(skin, 1);
    EXPECT_EQ(quit, 0);
    EXPECT_EQ(position, "0,1");
    EXPECT_TRUE(fetched.empty());
}

TEST_F(Program, DockingKeepsResultsWindowBesideMainWindow) {
    struct Case {
        const char* what;
        WindowId moved;
        int left, top;  // where the user puts the moved window
        const char* main;
        const char* results;
    };
    const Case cases[] = {
        {"main straight down", M, 568, 90, "568,90", "864,87"},
        {"main straight across", M, 668, 40, "668,40", "964,37"},
        {"main diagonally: only the vertical part stays", M, 668, 90, "568,90", "864,87"},
        {"results straight down", R, 864, 137, "568,140", "864,137"},
        {"results straight across", R, 764, 37, "468,40", "764,37"},
        {"results diagonally: only the vertical part stays", R, 964, 87, "568,90", "864,87"},
    };
    for (const Case& c : cases) {
        std::string main, results;
        run({[&] {
            userMoveWindow(c.moved, c.left, c.top);
            main = placeOf(M);
            results = placeOf(R);
        }});
        EXPECT_EQ(main, c.main) << c.what;
        EXPECT_EQ(results, c.results) << c.what;
    }
}

TEST_F(Program, ClosedResultsWindowIsReopenedByASearchAndBothSnapBack) {
    serveAlways(page("95", "<p>第一页</p>"));
    std::string mainWhileClosed, main, results, label, position;
    int prevDisabled = -1;
    bool openAfterEsc = true;
    run({[&] {
        userMoveWindow(M, 600, 100);
        userClick(R, C::nextButton);  // totalPages 0: refused
        userKey(R, Key::Esc);
        openAfterEsc = isWindowOpen(R);
        userMoveWindow(M, 700, 300);  // docking against a closed window: nothing
        mainWhileClosed = placeOf(M);
        search("abc");
        main = placeOf(M);
        results = placeOf(R);
        label = textOf(R, C::pageLabel, P::caption);
        prevDisabled = intOf(R, C::prevButton, P::disabled);
        position = positionText();
    }});
    EXPECT_FALSE(openAfterEsc);
    EXPECT_EQ(mainWhileClosed, "700,300");
    EXPECT_EQ(main, "568,40");
    EXPECT_EQ(results, "864,37");
    EXPECT_EQ(label, "第1页");
    EXPECT_EQ(prevDisabled, 1);
    EXPECT_EQ(position, "0,1");
}

TEST_F(Program, SearchBarAnimatesDuringAFetchAndStopsAtZero) {
    // A sweep is 100 ticks of 10 ms: the page comes late enough for more.
    serveAlways(page("95", "x"), 2200);
    std::string status;
    int timerDuringFetch = -1;
    run({[&] {
        backend->queueInput(200, [&] {
            status = textOf(M, C::statusLabel, P::caption);
            timerDuringFetch = intOf(M, C::searchTimer, P::timerPeriod);
        });
        search("slow");
    }});
    EXPECT_EQ(status, "正在搜索");
    EXPECT_EQ(timerDuringFetch, 10);
    std::vector<int> bar = backend->searchBar;
    bar.erase(bar.begin(), std::find_if(bar.begin(), bar.end(), [](int v) { return v != 0; }));
    ASSERT_GE(bar.size(), 102u) << "too few ticks during the fetch";
    // Ticks give 1, 2, ... 99, then 0 in the same tick; the end sets 100, 0.
    EXPECT_EQ(bar[bar.size() - 2], 100);
    EXPECT_EQ(bar.back(), 0);
    int wraps = 0;
    int expected = 1;
    for (size_t i = 0; i + 2 < bar.size(); ++i) {
        if (bar[i] == 100) {  // reached in a tick, set back to 0 at once
            ASSERT_EQ(expected, 100) << "at " << i;
            ASSERT_EQ(bar[i + 1], 0) << "at " << i;
            ++i;
            ++wraps;
            expected = 1;
            continue;
        }
        ASSERT_EQ(bar[i], expected) << "at " << i;
        ++expected;
    }
    EXPECT_GE(wraps, 1);
}

TEST_F(Program, EmptyKeywordOnlyShowsTheMessage) {
    std::string status;
    int timer = -1, bar = -1;
    run({[&] {
        type("");
        userClick(M, C::searchButton);
        userKey(M, Key::Enter);  // Enter is the same click
        status = textOf(M, C::statusLabel, P::caption);
        timer = intOf(M, C::searchTimer, P::timerPeriod);
        bar = intOf(M, C::searchProgress, P::position);
    }});
    EXPECT_EQ(messages(), (std::vector<std::string>{kNotice, "请输入搜索内容", "请输入搜索内容"}));
    EXPECT_EQ(status, "");
    EXPECT_EQ(timer, 0);
    EXPECT_EQ(bar, 0);
    EXPECT_TRUE(fetched.empty());
}

TEST_F(Program, KeywordGoesIntoTheUrlAsTypedGbkBytesAndSpacesIncluded) {
    serveAlways(page("95", "x"));
    run({[&] {
        search("a b");
        userKey(M, Key::Enter);
        search("网盘");
        search(" ");
    }});
    ASSERT_EQ(fetched.size(), 4u);
    EXPECT_EQ(fetched[0], "http://" + server.address() + "/s?q=a b");
    EXPECT_EQ(fetched[1], fetched[0]);
    EXPECT_EQ(fetched[2], "http://" + server.address() + "/s?q=\xCD\xF8\xC5\xCC");
    EXPECT_EQ(fetched[3], "http://" + server.address() + "/s?q= ");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].requestLine, "GET /s?q=a%20b HTTP/1.1");
    EXPECT_EQ(requests[2].requestLine, "GET /s?q=\xCD\xF8\xC5\xCC HTTP/1.1");
}

TEST_F(Program, CountDecidesPagesSummaryAndWhetherTheBlockIsShown) {
    struct Case {
        const char* what;
        std::string count;  // in the page; nullptr-like "-" for no phrase
        int pages;
        const char* summary;
        bool found;
    };
    const Case cases[] = {
        {"95 results", "95", 9, "9页     搜索到约95个结果", true},
        {"12 results", "12", 1, "1页     搜索到约12个结果", true},
        {"thousands separator", "1,234", 0, "0页     搜索到约1,234个结果", true},
        {"CR LF in the count", "\r\n95", 9, "9页     搜索到约\r\n95个结果", true},
        {"no count phrase", "-", 0, "0页     搜索到约个结果", true},
        {"nothing found", "0", 0, "0页     搜索到约0个结果", false},
    };
    for (const Case& c : cases) {
        const std::string body =
            c.count == "-" ? kStart + "<b>新</b>" + kEnd : page(c.count, "<b>新</b>");
        serve([body](const std::string& target) {
            if (target.rfind("/s?q=first", 0) == 0) return Reply{200, page("95", "<i>旧</i>")};
            return Reply{200, body};
        });
        std::string summary, status, html, label;
        int bar = -1, timer = -1;
        size_t messagesBefore = 0;
        run({[&] {
            search("first");
            userClick(R, C::nextButton);  // to page 2 first
            messagesBefore = backend->messages.size();
            search("second");
            summary = textOf(R, C::summaryEdit, P::text);
            status = textOf(M, C::statusLabel, P::caption);
            html = viewHtml();
            label = textOf(R, C::pageLabel, P::caption);
            bar = intOf(M, C::searchProgress, P::position);
            timer = intOf(M, C::searchTimer, P::timerPeriod);
            EXPECT_EQ(totalPages, c.pages) << c.what;
            EXPECT_EQ(positionText(), "0,1") << c.what;
        }});
        EXPECT_EQ(summary, c.summary) << c.what;
        EXPECT_EQ(status, "搜索完毕") << c.what;
        EXPECT_EQ(label, "第1页") << c.what;
        EXPECT_EQ(timer, 0) << c.what;
        const std::vector<std::string> all = messages();
        const std::vector<std::string> after(all.begin() + long(messagesBefore), all.end());
        if (c.found) {
            EXPECT_EQ(html, "<b>新</b>") << c.what;
            EXPECT_EQ(bar, 0) << c.what;
            EXPECT_TRUE(after.empty()) << c.what;
        } else {
            EXPECT_EQ(html, "<i>旧</i>") << c.what << ": the view keeps the last block";
            EXPECT_EQ(bar, 100) << c.what;
            EXPECT_EQ(after, std::vector<std::string>{"没有搜索到任何结果"}) << c.what;
        }
    }
}

TEST_F(Program, ResultBlockIsCutBetweenTheMarkers) {
    const std::string head = "<p>获得约 <strong>95</strong> 条</p>";
    struct Case {
        const char* what;
        std::string body;
        std::string block;
        int pieces;  // pagePieces afterwards
    };
    const Case cases[] = {
        {"block then end marker", head + kStart + "<a href=\"/f\">文件</a>" + kEnd + "tail",
         "<a href=\"/f\">文件</a>", 2},
        {"no end marker: to the end of the page", head + kStart + "<p>甲</p><p>乙</p>",
         "<p>甲</p><p>乙</p>", 1},
        {"two start markers: stops at the second", head + kStart + "一" + kStart + "二" + kEnd,
         "一", 1},
        {"empty block", head + kStart + kEnd + "tail", "", 2},
        {"second start marker right away: empty block", head + kStart + kStart + "x", "", 0},
        {"start marker in other case does not count",
         head + "<DIV style=\"margin-top:8px; margin-bottom:2px;\">no" + kStart + "yes", "yes", 1},
    };
    for (const Case& c : cases) {
        serve([&](const std::string& target) {
            if (target == "/s?q=first") return Reply{200, page("95", "旧")};
            return Reply{200, c.body};
        });
        std::string html, status;
        int pieces = -1;
        run({[&] {
            search("first");
            search("second");
            html = viewHtml();
            status = textOf(M, C::statusLabel, P::caption);
            pieces = int(pagePieces.size());
        }});
        EXPECT_EQ(html, c.block) << c.what;
        EXPECT_EQ(status, "搜索完毕") << c.what;
        EXPECT_EQ(pieces, c.pieces) << c.what;
        EXPECT_EQ(messages().size(), 1u) << c.what;
    }
}

TEST_F(Program, PageWithoutAResultBlockEndsTheSearchAsFailed) {
    struct Case {
        const char* what;
        Reply reply;
    };
    const Case cases[] = {
        {"no start marker", {200, "<html>获得约 <strong>95</strong> 条 nothing</html>"}},
        {"nothing after the start marker", {200, "<html>获得约 <strong>0</strong> 条" + kStart}},
        {"empty body", {200, ""}},
        {"404 with an empty body", {404, ""}},
    };
    for (const Case& c : cases) {
        serve([&](const std::string& target) {
            if (target.rfind("/s?q=first", 0) == 0) return Reply{200, page("95", "旧")};
            return c.reply;
        });
        std::string status, html, summary, label, position;
        int timer = -1, bar = -1, pages = -1;
        size_t messageCount = 0;
        run({[&] {
            search("first");
            userClick(R, C::nextButton);
            messageCount = backend->messages.size();
            search("second");
            status = textOf(M, C::statusLabel, P::caption);
            html = viewHtml();
            summary = textOf(R, C::summaryEdit, P::text);
            label = textOf(R, C::pageLabel, P::caption);
            timer = intOf(M, C::searchTimer, P::timerPeriod);
            bar = intOf(M, C::searchProgress, P::position);
            position = positionText();
            pages = totalPages;
        }});
        EXPECT_EQ(status, "搜索失败") << c.what;
        EXPECT_EQ(timer, 0) << c.what;
        EXPECT_EQ(bar, 0) << c.what;
        EXPECT_EQ(backend->messages.size(), messageCount) << c.what << ": no message box";
        // Nothing of the earlier search is touched.
        EXPECT_EQ(html, "旧") << c.what;
        EXPECT_EQ(summary, "9页     搜索到约95个结果") << c.what;
        EXPECT_EQ(label, "第2页") << c.what;
        EXPECT_EQ(position, "10,2") << c.what;
        EXPECT_EQ(pages, 9) << c.what;
    }
}

TEST_F(Program, SearchAgainstAClosedPortFails) {
    searchHost = Text("127.0.0.1:" + std::to_string(LoopbackServer::refusedPort()));
    std::string status;
    run({[&] {
        search("abc");
        status = textOf(M, C::statusLabel, P::caption);
    }});
    EXPECT_EQ(status, "搜索失败");
    EXPECT_EQ(messages(), std::vector<std::string>{kNotice});
}

TEST_F(Program, PagingToTheLastPageAndBack) {
    serve([](const std::string& target) {
        return Reply{200, page("95", "page " + target.substr(target.find("p=") + 2))};
    });
    std::vector<std::string> labels, urls, html;
    std::vector<int> prevDisabled;
    std::string positionAtEnd;
    std::vector<std::string> refusals;
    run({[&] {
        userClick(R, C::prevButton);  // disabled at start: ignored
        search("abc");
        for (int i = 0; i < 8; ++i) {
            userClick(R, C::nextButton);
            labels.push_back(textOf(R, C::pageLabel, P::caption));
            urls.push_back(lastFetch());
            html.push_back(viewHtml());
            prevDisabled.push_back(intOf(R, C::prevButton, P::disabled));
        }
        const size_t fetches = fetched.size();
        userClick(R, C::nextButton);  // page 9 of 9
        EXPECT_EQ(fetched.size(), fetches);
        EXPECT_EQ(positionText(), "80,9");
        for (int i = 0; i < 8; ++i) {
            userClick(R, C::prevButton);
            labels.push_back(textOf(R, C::pageLabel, P::caption));
            urls.push_back(lastFetch());
            prevDisabled.push_back(intOf(R, C::prevButton, P::disabled));
        }
        userClick(R, C::prevButton);  // page 1
        positionAtEnd = positionText();
        EXPECT_EQ(intOf(R, C::pageTimer, P::timerPeriod), 0);
        EXPECT_EQ(intOf(R, C::pageProgress, P::position), 0);
        EXPECT_EQ(totalPages, 9);
        EXPECT_EQ(textOf(R, C::summaryEdit, P::text), "9页     搜索到约95个结果");
    }});
    const std::string q = base() + "/s?q=abc&p=";
    EXPECT_EQ(labels, (std::vector<std::string>{
                          "第2页", "第3页", "第4页", "第5页", "第6页", "第7页", "第8页", "第9页",
                          "第8页", "第7页", "第6页", "第5页", "第4页", "第3页", "第2页", "第1页"}));
    EXPECT_EQ(urls,
              (std::vector<std::string>{q + "10", q + "20", q + "30", q + "40", q + "50", q + "60",
                                        q + "70", q + "80", q + "70", q + "60", q + "50", q + "40",
                                        q + "30", q + "20", q + "10", q + "0"}));
    EXPECT_EQ(html.front(), "page 10");
    EXPECT_EQ(html.back(), "page 80");
    EXPECT_EQ(prevDisabled, std::vector<int>(16, 0));
    EXPECT_EQ(positionAtEnd, "0,1");
    EXPECT_EQ(messages(),
              (std::vector<std::string>{kNotice, "对不起哦！没有下一页了", "没有上一页了！"}));
}

TEST_F(Program, ForwardStepsAreBoundedByTheLastSearchesPageTotal) {
    struct Case {
        const char* count;
        bool stepAllowed;
    };
    const Case cases[] = {{"12", false}, {"9", false}, {"-", false}, {"20", true}};
    for (const Case& c : cases) {
        const std::string body =
            std::string(c.count) == "-" ? kStart + "b" + kEnd : page(c.count, "b");
        serveAlways(body);
        size_t fetchesBefore = 0;
        std::vector<std::string> after;
        run({[&] {
            search("abc");
            fetchesBefore = fetched.size();
            const size_t m = backend->messages.size();
            userClick(R, C::nextButton);
            for (size_t i = m; i < backend->messages.size(); ++i)
                after.push_back(U(backend->messages[i].view()));
        }});
        EXPECT_EQ(fetched.size() > fetchesBefore, c.stepAllowed) << c.count;
        EXPECT_EQ(after.empty(), c.stepAllowed) << c.count;
    }
}

TEST_F(Program, StepUsesTheKeywordTypedNowAndANewSearchStartsOver) {
    serveAlways(page("95", "b"));
    run({[&] {
        search("old");
        userClick(R, C::nextButton);
        userClick(R, C::nextButton);
        type("new");
        userClick(R, C::nextButton);
        EXPECT_EQ(lastFetch(), base() + "/s?q=new&p=30");
        EXPECT_EQ(textOf(R, C::pageLabel, P::caption), "第4页");
        type("");
        userClick(R, C::nextButton);
        EXPECT_EQ(lastFetch(), base() + "/s?q=&p=40");
        search("again");
        EXPECT_EQ(positionText(), "0,1");
        EXPECT_EQ(textOf(R, C::pageLabel, P::caption), "第1页");
        // prevButton stays enabled through a search.
        EXPECT_EQ(intOf(R, C::prevButton, P::disabled), 0);
        userClick(R, C::nextButton);
        EXPECT_EQ(lastFetch(), base() + "/s?q=again&p=10");
        EXPECT_EQ(textOf(R, C::pageLabel, P::caption), "第2页");
    }});
}

TEST_F(Program, StepWhosePageHasNoBlockMovesBack) {
    serve([](const std::string& target) {
        if (target.find("p=20") != std::string::npos) return Reply{200, "<html>busy</html>"};
        return Reply{200, page("95", "ok " + target)};
    });
    run({[&] {
        search("abc");
        userClick(R, C::nextButton);
        const std::string html = viewHtml();
        userClick(R, C::nextButton);  // p=20 fails
        EXPECT_EQ(lastFetch(), base() + "/s?q=abc&p=20");
        EXPECT_EQ(positionText(), "10,2");
        EXPECT_EQ(textOf(R, C::pageLabel, P::caption), "第2页");
        EXPECT_EQ(intOf(R, C::pageTimer, P::timerPeriod), 0);
        EXPECT_EQ(intOf(R, C::pageProgress, P::position), 0);
        EXPECT_EQ(viewHtml(), html);
        userClick(R, C::prevButton);
        EXPECT_EQ(lastFetch(), base() + "/s?q=abc&p=0");
        EXPECT_EQ(textOf(R, C::pageLabel, P::caption), "第1页");
    }});
    EXPECT_EQ(messages(), std::vector<std::string>{kNotice});
}

// A search that runs inside a failing step's wait resets the position; the
// step must not then move the new search's position back (to page 2 of a
// search that has one page), or paging would run past the page total.
TEST_F(Program, FailedStepLeavesAPositionThatANestedSearchReset) {
    serve([](const std::string& target) {
        if (target == "/s?q=slow&p=0") return Reply{200, "<html>busy</html>", 500};
        if (target.starts_with("/s?q=slow")) return Reply{200, page("95", "slow")};
        return Reply{200, page("12", "one page")};
    });
    run({[&] {
        search("slow");
        userClick(R, C::nextButton);
        EXPECT_EQ(positionText(), "10,2");
        backend->queueInput(100, [] { search("other"); });
        userClick(R, C::prevButton);  // p=0 has no block; "other" ran meanwhile
        EXPECT_EQ(totalPages, 1);
        EXPECT_EQ(positionText(), "0,1");
        userClick(R, C::nextButton);
        EXPECT_EQ(lastFetch(), base() + "/s?q=other") << "the forward step is refused";
    }});
    EXPECT_EQ(messages(), (std::vector<std::string>{kNotice, "对不起哦！没有下一页了"}));
}

TEST_F(Program, PageBarAnimatesDuringAStep) {
    serve([](const std::string& target) {
        return Reply{200, page("95", "b"), target.find("p=10") != std::string::npos ? 400 : 0};
    });
    run({[&] {
        search("abc");
        userClick(R, C::nextButton);
    }});
    std::vector<int> bar = backend->pageBar;
    bar.erase(bar.begin(), std::find_if(bar.begin(), bar.end(), [](int v) { return v != 0; }));
    ASSERT_GE(bar.size(), 12u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(bar[size_t(i)], i + 1);
    EXPECT_EQ(bar[bar.size() - 2], 100);
    EXPECT_EQ(bar.back(), 0);
}

TEST_F(Program, ResultsWindowClosedDuringAStepDropsTheStepsWrites) {
    serve([](const std::string& target) {
        return Reply{200, page("95", "b " + target),
                     target.find("p=10") != std::string::npos ? 500 : 0};
    });
    std::string position;
    bool openAfterStep = true;
    run({[&] {
        search("abc");
        backend->queueInput(100, [] { userKey(R, Key::Esc); });
        userClick(R, C::nextButton);
        openAfterStep = isWindowOpen(R);
        position = positionText();
        // The program goes on: a search opens the window again.
        search("abc");
        EXPECT_TRUE(isWindowOpen(R));
        EXPECT_EQ(positionText(), "0,1");
        EXPECT_EQ(viewHtml(), "b /s?q=abc");
    }});
    EXPECT_FALSE(openAfterStep);
    EXPECT_EQ(position, "10,2");
}

TEST_F(Program, ResultsWindowClosedDuringASearchIsOpenedAgainByIt) {
    serveAlways(page("95", "b"), 400);
    run({[&] {
        backend->queueInput(100, [] { userKey(R, Key::Esc); });
        search("abc");
        EXPECT_TRUE(isWindowOpen(R));
        EXPECT_EQ(viewHtml(), "b");
        EXPECT_EQ(placeOf(R), "864,37");
    }});
    EXPECT_EQ(std::count(backend->log.begin(), backend->log.end(), "create ResultsWindow 392,128"),
              2);
}

TEST_F(Program, NestedSearchFinishesFirstThenTheOuterOneOverwrites) {
    serve([](const std::string& target) {
        if (target == "/s?q=outer") return Reply{200, page("95", "outer"), 700};
        return Reply{200, page("30", "inner")};
    });
    int timerAfterInner = -1;
    std::string htmlAfterInner;
    run({[&] {
        backend->queueInput(100, [] { search("inner"); });
        backend->queueInput(300, [&] {
            timerAfterInner = intOf(M, C::searchTimer, P::timerPeriod);
            htmlAfterInner = viewHtml();
        });
        search("outer");
        EXPECT_EQ(viewHtml(), "outer");
        EXPECT_EQ(totalPages, 9);
        EXPECT_EQ(textOf(R, C::summaryEdit, P::text), "9页     搜索到约95个结果");
    }});
    // The nested search that ended stopped the timer of the waiting one.
    EXPECT_EQ(timerAfterInner, 0);
    EXPECT_EQ(htmlAfterInner, "inner");
}

TEST_F(Program, BothLabelsAndTheLinkRule) {
    run({[&] {
        userPressLabel(M, C::aboutLabel, 3, 4, 0);
        userPressLabel(M, C::authorSiteLabel, 3, 4, 0);
        for (const char* href : {"https://pan.example.com/s/1", "/file?id=1", "javascript:alert(1)",
                                 "file:///etc/passwd", "C:\\Windows\\notepad.exe", "mailto:a@b"}) {
            userPressLink(R, C::resultView, Text(href));
        }
    }});
    ASSERT_EQ(backend->messages.size(), 2u);
    EXPECT_EQ(backend->messages[1], aboutText());
    EXPECT_EQ(backend->openedUrls,
              (std::vector<Text>{Text(base() + "/"), Text("https://pan.example.com/s/1"),
                                 Text(base() + "/file?id=1")}));
}

// The ways the program ends.

TEST_F(Program, ClosingMainWindowEndsWithinAQuitTimerPeriod) {
    Clock::time_point closed;
    const int code = run({[&] {
                             closed = Clock::now();
                             userKey(M, Key::Esc);
                             EXPECT_EQ(quitRequested, 1);
                             EXPECT_TRUE(isWindowOpen(R));
                         }},
                         false);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - closed);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(backend->exitCode, 0);
    EXPECT_EQ(releases, 1);
    EXPECT_LT(ms.count(), 600);
    // Released: the two-element position and the fifteen empty pieces.
    EXPECT_TRUE(pageState.empty());
    EXPECT_TRUE(pagePieces.empty());
}

TEST_F(Program, ClosingResultsWindowFirstThenMainWindowEndsTheLoop) {
    serveAlways(page("95", "b"));
    const int code = run({[&] {
                             search("abc");
                             userKey(R, Key::Esc);
                             userKey(M, Key::Esc);
                         }},
                         false);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(backend->exitCode, -1) << "the loop ended; exitProgram was not needed";
    EXPECT_TRUE(lastResponse.empty());
    EXPECT_TRUE(pageText.empty());
    EXPECT_TRUE(pagePieces.empty());
}

TEST_F(Program, QuitWhileASearchWaitsEndsAtTheNextQuitTimerTick) {
    serveAlways(page("95", "b"), 3000);
    const Clock::time_point start = Clock::now();
    const int code = run({[&] {
                             backend->queueInput(100, [] { userKey(M, Key::Esc); });
                             search("abc");
                             ADD_FAILURE() << "the search resumed after the program ended";
                         }},
                         false);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(releases, 1);
    EXPECT_LT(ms.count(), 1500);
}

TEST_F(Program, BothWindowsClosedWhileASearchWaits) {
    serveAlways(page("0", "b"), 500);
    const int code = run({[&] {
                             userKey(R, Key::Esc);
                             backend->queueInput(100, [] { userKey(M, Key::Esc); });
                             search("abc");
                             // Resumed after the end of the loop was asked for: nothing opens again
                             // and no box is shown.
                             EXPECT_FALSE(isWindowOpen(R));
                             EXPECT_FALSE(isWindowOpen(M));
                         }},
                         false);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(messages(), std::vector<std::string>{kNotice});
    EXPECT_EQ(std::count(backend->log.begin(), backend->log.end(), "create ResultsWindow 392,128"),
              1);
}

TEST_F(Program, QuitWhileAStepWaits) {
    serve([](const std::string& target) {
        return Reply{200, page("95", "b"), target.find("p=10") != std::string::npos ? 3000 : 0};
    });
    const Clock::time_point start = Clock::now();
    const int code = run({[&] {
                             search("abc");
                             backend->queueInput(100, [] { userKey(M, Key::Esc); });
                             userClick(R, C::nextButton);
                             ADD_FAILURE() << "the step resumed after the program ended";
                         }},
                         false);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(releases, 1);
    EXPECT_LT(ms.count(), 1500);
}

}  // namespace
}  // namespace nds
