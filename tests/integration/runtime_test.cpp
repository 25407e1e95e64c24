// The window runtime core on the headless backend: open/closed rules, the
// position-changed rule with nested docking handlers, clamping, input rules,
// the ways a program ends, and real-time timers, also inside a fetch's wait.
#include "shell/runtime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/events.h"
#include "platform/headless/headless_backend.h"
#include "platform/worker.h"

namespace nds {
namespace {

constexpr WindowId A = WindowId::MainWindow;
constexpr WindowId B = WindowId::ResultsWindow;
constexpr ControlId self = ControlId::self;

using Clock = std::chrono::steady_clock;

int64_t msSince(Clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

// What happened, in order: backend calls and handler runs.
std::vector<std::string> gLog;
void note(std::string s) { gLog.push_back(std::move(s)); }

std::string windowName(WindowId w) { return w == A ? "A" : "B"; }

std::string controlName(ControlId c) {
    switch (c) {
        case ControlId::self:
            return "self";
        case ControlId::searchButton:
            return "searchButton";
        case ControlId::nextButton:
            return "nextButton";
        case ControlId::keywordEdit:
            return "keywordEdit";
        case ControlId::summaryEdit:
            return "summaryEdit";
        case ControlId::statusLabel:
            return "statusLabel";
        case ControlId::pageLabel:
            return "pageLabel";
        case ControlId::searchProgress:
            return "searchProgress";
        case ControlId::pageProgress:
            return "pageProgress";
        case ControlId::searchTimer:
            return "searchTimer";
        case ControlId::quitTimer:
            return "quitTimer";
        case ControlId::resultView:
            return "resultView";
        default:
            return "other";
    }
}

std::string place(int left, int top) { return std::to_string(left) + "," + std::to_string(top); }

std::string placeOf(WindowId w) {
    return place(readInt(w, self, Property::left), readInt(w, self, Property::top));
}

// The headless backend, telling the log what the core asked of it.
class RecordingBackend : public HeadlessBackend {
public:
    using HeadlessBackend::HeadlessBackend;
    void createWindow(const WindowForm& form, int left, int top) override {
        note("create " + windowName(form.id) + " " + place(left, top));
        HeadlessBackend::createWindow(form, left, top);
    }
    void showWindow(WindowId w) override { note("show " + windowName(w)); }
    void activateWindow(WindowId w) override { note("activate " + windowName(w)); }
    void destroyWindow(WindowId w) override {
        note("destroy " + windowName(w));
        HeadlessBackend::destroyWindow(w);
    }
    void moveWindow(WindowId w, int left, int top) override {
        note("move " + windowName(w) + " " + place(left, top));
    }
    void moveControl(WindowId w, ControlId c, int left, int top) override {
        note("moveControl " + controlName(c) + " " + place(left, top));
    }
    void setText(WindowId w, ControlId c, const Text& text) override {
        note("text " + controlName(c) + " " + text.str());
    }
    void setDisabled(WindowId w, ControlId c, bool disabled) override {
        note("disabled " + controlName(c) + " " + std::to_string(disabled));
    }
    void setPosition(WindowId w, ControlId c, int position) override {
        note("position " + controlName(c) + " " + std::to_string(position));
    }
    void setHtml(WindowId w, ControlId c, const Bytes& html) override {
        note("html " + std::to_string(html.size()));
    }
    void setTimer(WindowId w, ControlId c, int periodMs) override {
        note("timer " + windowName(w) + " " + controlName(c) + " " + std::to_string(periodMs));
        HeadlessBackend::setTimer(w, c, periodMs);
    }
};

ControlForm control(ControlId id, ControlKind kind, const char* text = "") {
    ControlForm c;
    c.id = id;
    c.kind = kind;
    c.text = Text(text);
    c.left = 10;
    c.top = 20;
    return c;
}

// Two small windows with one control of every kind between them.
std::vector<WindowForm> testForms() {
    WindowForm a;
    a.id = A;
    a.caption = "captionA";
    a.width = 200;
    a.height = 100;
    a.defaultButton = ControlId::searchButton;
    a.controls.push_back(control(ControlId::searchButton, ControlKind::PushButton, "go"));
    ControlForm next = control(ControlId::nextButton, ControlKind::ImageButton, "next");
    next.disabled = true;
    a.controls.push_back(next);
    a.controls.push_back(control(ControlId::keywordEdit, ControlKind::EditBox, "kw"));
    ControlForm summary = control(ControlId::summaryEdit, ControlKind::EditBox, "sum");
    summary.readOnly = true;
    a.controls.push_back(summary);
    a.controls.push_back(control(ControlId::statusLabel, ControlKind::Label, "status"));
    a.controls.push_back(control(ControlId::pageLabel, ControlKind::TransparentLabel, "page"));
    a.controls.push_back(control(ControlId::searchProgress, ControlKind::ProgressBar));
    ControlForm narrow = control(ControlId::pageProgress, ControlKind::ProgressBar);
    narrow.rangeMin = 10;
    narrow.rangeMax = 20;
    a.controls.push_back(narrow);
    a.controls.push_back(control(ControlId::searchTimer, ControlKind::Timer));
    a.controls.push_back(control(ControlId::resultView, ControlKind::HtmlView));

    WindowForm b;
    b.id = B;
    b.caption = "captionB";
    b.width = 400;
    b.height = 300;
    ControlForm quit = control(ControlId::quitTimer, ControlKind::Timer);
    quit.timerPeriod = 100;
    b.controls.push_back(quit);
    b.controls.push_back(control(ControlId::nextButton, ControlKind::PushButton, "nextB"));
    return {a, b};
}

std::vector<WindowForm> gForms;
std::vector<Binding> gBindings;
std::function<int()> gBody;
RecordingBackend* gBackend = nullptr;
int gExitRuns = 0;
bool gEndedAtExit = false;
int gTicks = 0;
int gQuit = 0;

void countExit() {
    ++gExitRuns;
    gEndedAtExit = programEnded();
    note("exit routine");
}

int bodyMain() {
    initWindowRuntime(gForms, gBindings);
    registerExitRoutine(&countExit);
    return gBody();
}

// Handlers: plain functions over the file's state, as the program's are.
void onACreated() { note("created A"); }
void onAMoved() { note("moved A " + placeOf(A)); }
void onBCreated() { note("created B"); }
void onBMoved() { note("moved B " + placeOf(B)); }
void onAClosing() {
    note("closing A");
    gQuit = 1;
}
void onBClosing() { note("closing B"); }
void onSearchClicked() { note("click search"); }
void onNextClicked() { note("click next"); }
void onLabelClicked() { note("click label"); }
void onLabelPressed(int x, int y, int keys) {
    note("press " + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(keys));
}
void onLinkPressed(const Text& href) { note("link " + href.str()); }
void onTick() { ++gTicks; }
void closeSelfB() { userCloseWindow(B); }

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLog.clear();
        gForms = testForms();
        gBindings.clear();
        gExitRuns = 0;
        gEndedAtExit = false;
        gTicks = 0;
        gQuit = 0;
        gBackend = &backend;
    }
    void TearDown() override { gBackend = nullptr; }

    void bind(WindowId w, ControlId c, Event e, void (*handler)()) {
        gBindings.push_back(Binding{w, c, e, handler});
    }
    int run(std::function<int()> body) {
        gBody = std::move(body);
        return runProgram(backend, &bodyMain);
    }

    RecordingBackend backend;
};

using Log = std::vector<std::string>;

TEST_F(RuntimeTest, LoadWindowCreatesCentredRaisesCreatedThenMovedThenShows) {
    bind(A, self, Event::created, onACreated);
    bind(A, self, Event::positionChanged, onAMoved);
    bind(B, self, Event::created, onBCreated);
    bind(B, self, Event::positionChanged, onBMoved);
    run([] {
        loadWindow(A);
        EXPECT_TRUE(isWindowOpen(A));
        EXPECT_EQ(readText(A, self, Property::caption).str(), "captionA");
        EXPECT_EQ(readText(A, ControlId::keywordEdit, Property::text).str(), "kw");
        EXPECT_EQ(readInt(A, ControlId::nextButton, Property::disabled), 1);
        EXPECT_EQ(readInt(A, ControlId::statusLabel, Property::left), 10);
        note("--");
        loadWindow(A);  // open already: activated, nothing raised
        note("--");
        loadWindow(B);  // its timer runs from creation, before the created event
        EXPECT_EQ(readInt(B, ControlId::quitTimer, Property::timerPeriod), 100);
        return 0;
    });
    EXPECT_EQ(gLog, (Log{"create A 540,462", "created A", "moved A 540,462", "show A", "--",
                         "activate A", "--", "create B 440,362", "timer B quitTimer 100",
                         "created B", "moved B 440,362", "show B", "exit routine"}));
}

TEST_F(RuntimeTest, WindowLargerThanTheScreenIsPlacedAtTheCorner) {
    RecordingBackend small(ScreenSize{300, 200});  // B is 400 x 300
    gBody = [] {
        loadWindow(B);
        EXPECT_EQ(placeOf(B), "0,0");
        return 0;
    };
    runProgram(small, &bodyMain);
    EXPECT_EQ(gLog.front(), "create B 0,0");
}

TEST_F(RuntimeTest, CreatedHandlerThatClosesItsWindowSkipsMovedAndShow) {
    bind(B, self, Event::created, closeSelfB);
    bind(B, self, Event::positionChanged, onBMoved);
    run([] {
        loadWindow(B);
        EXPECT_FALSE(isWindowOpen(B));
        return 0;
    });
    EXPECT_EQ(gLog, (Log{"create B 440,362", "timer B quitTimer 100", "timer B quitTimer 0",
                         "destroy B", "exit routine"}));
    EXPECT_TRUE(backend.loopEndPending());  // it was the last window
}

TEST_F(RuntimeTest, WritesAreValidatedByKindAndClamped) {
    struct Case {
        ControlId control;
        Property property;
        PropertyValue value;
        PropertyValue expected;  // read back after the write
        Log mirrored;            // what the backend was told
    };
    using C = ControlId;
    using P = Property;
    using I = int32_t;
    const Bytes withNul(std::string_view("a\0b", 3));
    // clang-format off
    const Case cases[] = {
        {C::statusLabel, P::caption, Text("new"), Text("new"), {"text statusLabel new"}},
        {C::pageLabel, P::caption, Text("p2"), Text("p2"), {"text pageLabel p2"}},
        {C::statusLabel, P::caption, I{5}, Text("status"), {}},
        {C::statusLabel, P::text, Text("x"), Text(), {}},
        {C::keywordEdit, P::text, Text("typed"), Text("typed"), {"text keywordEdit typed"}},
        {C::keywordEdit, P::caption, Text("x"), Text(), {}},
        {C::searchProgress, P::position, I{42}, I{42}, {"position searchProgress 42"}},
        {C::searchProgress, P::position, I{150}, I{100}, {"position searchProgress 100"}},
        {C::searchProgress, P::position, I{-5}, I{0}, {"position searchProgress 0"}},
        {C::searchProgress, P::position, Text("5"), I{0}, {}},
        {C::pageProgress, P::position, I{5}, I{10}, {"position pageProgress 10"}},
        {C::pageProgress, P::position, I{25}, I{20}, {"position pageProgress 20"}},
        {C::pageProgress, P::position, I{15}, I{15}, {"position pageProgress 15"}},
        {C::searchButton, P::disabled, I{7}, I{1}, {"disabled searchButton 1"}},
        {C::searchButton, P::disabled, I{-1}, I{1}, {"disabled searchButton 1"}},
        {C::nextButton, P::disabled, I{0}, I{0}, {"disabled nextButton 0"}},
        {C::statusLabel, P::disabled, I{1}, I{0}, {}},
        {C::searchTimer, P::left, I{3}, I{0}, {}},
        {C::searchTimer, P::timerPeriod, I{-4}, I{-4}, {"timer A searchTimer 0"}},
        {C::resultView, P::htmlContent, withNul, withNul, {"html 3"}},
        {C::resultView, P::htmlContent, Text("<b>"), Bytes(std::string_view("<b>")), {"html 3"}},
        {C::resultView, P::htmlContent, I{1}, Bytes(), {}},
        {C::statusLabel, P::left, I{5}, I{5}, {"moveControl statusLabel 5,20"}},
        {C::statusLabel, P::top, I{20}, I{20}, {}},  // unchanged
        {C::quitTimer, P::caption, Text("x"), Text(), {}},  // B's control, not A's
        {self, P::caption, Text("winA"), Text("winA"), {"text self winA"}},
        {self, P::text, Text("x"), Text(), {}},
        {self, P::left, Text("9"), I{540}, {}},
    };
    // clang-format on
    run([&cases] {
        for (const Case& c : cases) {
            SCOPED_TRACE(controlName(c.control) + "." + std::string(propertyName(c.property)));
            if (isWindowOpen(A)) userCloseWindow(A);
            loadWindow(A);  // every case starts from the form's values
            gLog.clear();
            writeProperty(A, c.control, c.property, c.value);
            EXPECT_EQ(readProperty(A, c.control, c.property), c.expected);
            EXPECT_EQ(gLog, c.mirrored);
        }
        return 0;
    });
}

TEST_F(RuntimeTest, ClosedWindowDropsWritesAndReadsDefaults) {
    bind(B, self, Event::positionChanged, onBMoved);
    run([] {
        writeProperty(A, self, Property::caption, Text("early"));
        writeProperty(A, ControlId::searchProgress, Property::position, int32_t{50});
        EXPECT_EQ(readText(A, self, Property::caption).str(), "");
        loadWindow(A);
        EXPECT_EQ(readText(A, self, Property::caption).str(), "captionA");
        EXPECT_EQ(readInt(A, ControlId::searchProgress, Property::position), 0);

        gLog.clear();
        writeProperty(B, self, Property::left, int32_t{10});  // B not open
        writeProperty(B, self, Property::caption, Text("x"));
        EXPECT_EQ(gLog, Log{});
        EXPECT_EQ(readInt(B, ControlId::quitTimer, Property::timerPeriod), 0);

        writeProperty(A, ControlId::statusLabel, Property::caption, Text("set"));
        userCloseWindow(A);
        EXPECT_FALSE(isWindowOpen(A));
        EXPECT_EQ(readText(A, ControlId::statusLabel, Property::caption).str(), "");
        EXPECT_EQ(readInt(A, self, Property::left), 0);
        loadWindow(A);  // created again from the form
        EXPECT_EQ(readText(A, ControlId::statusLabel, Property::caption).str(), "status");
        return 0;
    });
}

TEST_F(RuntimeTest, MoveRaisesPositionChangedBeforeTheWriteReturnsAndOnlyWhenItMoves) {
    bind(A, self, Event::positionChanged, onAMoved);
    run([] {
        loadWindow(A);
        gLog.clear();
        writeProperty(A, self, Property::left, int32_t{100});
        note("returned");
        EXPECT_EQ(gLog, (Log{"move A 100,462", "moved A 100,462", "returned"}));

        gLog.clear();
        writeProperty(A, self, Property::left, int32_t{100});
        writeProperty(A, self, Property::top, int32_t{462});
        userMoveWindow(A, 100, 462);  // a backend reporting the core's own move back
        EXPECT_EQ(gLog, Log{});

        userMoveWindow(A, 7, 8);  // the user's move: raised, not mirrored back
        EXPECT_EQ(gLog, Log{"moved A 7,8"});
        EXPECT_EQ(placeOf(A), "7,8");
        return 0;
    });
}

// Docking as the program does it: each window's handler puts the other one
// 296 right and 3 up (or back), top first, reading the mover afresh.
int gDockCalls = 0;
void dockFromA() {
    ++gDockCalls;
    writeProperty(B, self, Property::top, readInt(A, self, Property::top) - 3);
    writeProperty(B, self, Property::left, readInt(A, self, Property::left) + 296);
}
void dockFromB() {
    ++gDockCalls;
    writeProperty(A, self, Property::top, readInt(B, self, Property::top) + 3);
    writeProperty(A, self, Property::left, readInt(B, self, Property::left) - 296);
}
void placeA() {
    note("created A");
    writeProperty(A, self, Property::top, int32_t{40});
    writeProperty(A, self, Property::left, int32_t{568});
    loadWindow(B);
}
void placeB() {
    note("created B");
    writeProperty(B, self, Property::top, int32_t{37});
    writeProperty(B, self, Property::left, int32_t{864});
}

class DockingTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        gDockCalls = 0;
        bind(A, self, Event::created, placeA);
        bind(A, self, Event::positionChanged, dockFromA);
        bind(B, self, Event::created, placeB);
        bind(B, self, Event::positionChanged, dockFromB);
    }
};

TEST_F(DockingTest, StartUpEndsDockedAtTheStartPlacesWhateverTheScreen) {
    for (ScreenSize screen :
         {ScreenSize{1280, 1024}, ScreenSize{800, 600}, ScreenSize{3000, 2000}}) {
        SCOPED_TRACE(screen.width);
        gLog.clear();
        RecordingBackend other(screen);
        gBody = [] {
            loadWindow(A);
            EXPECT_EQ(placeOf(A), "568,40");
            EXPECT_EQ(placeOf(B), "864,37");
            return 0;
        };
        runProgram(other, &bodyMain);
        // B is shown from inside A's created handler, so before A.
        std::vector<std::string> shows;
        for (const std::string& s : gLog) {
            if (s.rfind("show", 0) == 0) shows.push_back(s);
        }
        EXPECT_EQ(shows, (Log{"show B", "show A"}));
    }
}

TEST_F(DockingTest, EitherWindowMovedDragsTheOtherAndDiagonalMovesKeepOnlyTheVerticalPart) {
    struct Case {
        const char* what;
        WindowId moved;
        int left, top;  // where the user puts it
        const char* a;  // where both end
        const char* b;
    };
    const Case cases[] = {
        {"A straight down", A, 568, 65, "568,65", "864,62"},
        {"A straight across", A, 468, 40, "468,40", "764,37"},
        {"B straight down", B, 864, 47, "568,50", "864,47"},
        {"B straight across", B, 914, 37, "618,40", "914,37"},
        {"A diagonally", A, 578, 60, "568,60", "864,57"},
        {"B diagonally", B, 894, 30, "568,33", "864,30"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        static const Case* current;
        current = &c;
        run([] {
            loadWindow(A);
            gDockCalls = 0;
            userMoveWindow(current->moved, current->left, current->top);
            EXPECT_EQ(placeOf(A), current->a);
            EXPECT_EQ(placeOf(B), current->b);
            EXPECT_LT(gDockCalls, 10);  // the nesting ends once nothing moves
            return 0;
        });
    }
}

TEST_F(RuntimeTest, ButtonsKeysLabelsLinksAndTyping) {
    gForms[0].escCloses = false;
    bind(A, ControlId::searchButton, Event::clicked, onSearchClicked);
    bind(A, ControlId::nextButton, Event::clicked, onNextClicked);
    bind(A, ControlId::statusLabel, Event::clicked, onLabelClicked);
    gBindings.push_back(
        Binding{A, ControlId::statusLabel, Event::leftButtonPressed, nullptr, onLabelPressed});
    gBindings.push_back(
        Binding{A, ControlId::resultView, Event::linkPressed, nullptr, nullptr, onLinkPressed});
    bind(B, self, Event::willBeDestroyed, onBClosing);
    run([] {
        loadWindow(A);
        loadWindow(B);
        gLog.clear();
        userClick(A, ControlId::nextButton);    // disabled in the form
        userClick(A, ControlId::statusLabel);   // not a button
        userClick(B, ControlId::searchButton);  // not in that window
        EXPECT_EQ(gLog, Log{});
        writeProperty(A, ControlId::nextButton, Property::disabled, int32_t{0});
        gLog.clear();
        userClick(A, ControlId::nextButton);
        userKey(A, Key::Enter);  // the default button
        userKey(B, Key::Enter);  // B has none
        EXPECT_EQ(gLog, (Log{"click next", "click search"}));

        writeProperty(A, ControlId::searchButton, Property::disabled, int32_t{1});
        gLog.clear();
        userKey(A, Key::Enter);
        userPressLabel(A, ControlId::statusLabel, 3, 4, 1);
        userPressLabel(A, ControlId::searchButton, 3, 4, 1);  // not a label
        userPressLink(A, ControlId::resultView, "http://x/y");
        EXPECT_EQ(gLog, (Log{"press 3,4,1", "link http://x/y"}));

        gLog.clear();
        userEditText(A, ControlId::keywordEdit, "abc");
        userEditText(A, ControlId::summaryEdit, "abc");  // read-only
        EXPECT_EQ(gLog, Log{});                          // the user's typing is not mirrored back
        EXPECT_EQ(readText(A, ControlId::keywordEdit, Property::text).str(), "abc");
        EXPECT_EQ(readText(A, ControlId::summaryEdit, Property::text).str(), "sum");

        userKey(A, Key::Esc);  // this form keeps the window on Esc
        EXPECT_TRUE(isWindowOpen(A));
        userKey(B, Key::Esc);
        EXPECT_FALSE(isWindowOpen(B));
        userClick(B, ControlId::nextButton);  // closed
        return 0;
    });
    EXPECT_EQ(gLog, (Log{"closing B", "timer B quitTimer 0", "destroy B", "exit routine"}));
}

TEST_F(RuntimeTest, ClosingTheLastWindowEndsTheLoopAndTheExitRoutineRunsOnce) {
    bind(A, self, Event::willBeDestroyed, onAClosing);
    bind(B, self, Event::willBeDestroyed, onBClosing);
    const int code = run([] {
        loadWindow(A);
        loadWindow(B);
        gBackend->queueInput(20, [] { userKey(B, Key::Esc); });
        gBackend->queueInput(40, [] { userCloseWindow(A); });
        gBackend->queueInput(5000, [] { note("late input"); });
        gLog.clear();
        runEventLoop();
        note("loop ended");
        return 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(gExitRuns, 1);
    EXPECT_TRUE(gEndedAtExit);
    EXPECT_EQ(backend.exitCode, -1);  // the program returned; nothing was ended
    EXPECT_EQ(gLog, (Log{"closing B", "timer B quitTimer 0", "destroy B", "closing A", "destroy A",
                         "loop ended", "exit routine"}));
}

void quitOnTick() {
    if (gQuit == 1) exitProgram(3);
}

TEST_F(RuntimeTest, ExitProgramFromATimerTickEndsWithItsCodeAndStopsEvents) {
    gForms[1].controls[0].timerPeriod = 30;
    bind(A, self, Event::willBeDestroyed, onAClosing);
    bind(B, ControlId::quitTimer, Event::tick, quitOnTick);
    bind(B, ControlId::nextButton, Event::clicked, onNextClicked);
    const auto t0 = Clock::now();
    const int code = run([] {
        loadWindow(A);
        loadWindow(B);
        gBackend->queueInput(20, [] { userCloseWindow(A); });
        gBackend->queueInput(3000, [] { note("late input"); });
        runEventLoop();
        note("loop ended");
        return 0;
    });
    EXPECT_EQ(code, 3);
    EXPECT_EQ(backend.exitCode, 3);
    EXPECT_EQ(gExitRuns, 1);
    EXPECT_TRUE(gEndedAtExit);
    EXPECT_LT(msSince(t0), 2500);
    EXPECT_EQ(gLog.back(), "exit routine");
    EXPECT_TRUE(programEnded());
    userClick(B, ControlId::nextButton);  // nothing is delivered any more
    userTimerTick(B, ControlId::quitTimer);
    EXPECT_EQ(gLog.back(), "exit routine");
}

TEST_F(RuntimeTest, LoopWithNothingLeftToHappenEndsWithCode70AfterTheExitRoutine) {
    testing::internal::CaptureStderr();
    const int code = run([] {
        loadWindow(A);  // no timer runs, no input is queued, no driver
        runEventLoop();
        note("loop ended");
        return 0;
    });
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, 70);
    EXPECT_EQ(backend.exitCode, 70);
    EXPECT_EQ(gExitRuns, 1);
    EXPECT_NE(err.find("can never end"), std::string::npos) << err;
}

TEST_F(RuntimeTest, DriverStepsRunWhenNothingIsDueUntilTheyReturnFalse) {
    bind(A, ControlId::searchButton, Event::clicked, onSearchClicked);
    static int steps;
    steps = 0;
    const int code = run([] {
        loadWindow(A);
        gBackend->setDriver([] {
            ++steps;
            note("step " + std::to_string(steps));
            if (steps == 1) gBackend->queueInput(30, [] { userClick(A, ControlId::searchButton); });
            if (steps == 2) gBackend->runFor(50);  // the queued click lands in here
            if (steps == 3) userCloseWindow(A);
            return steps < 3;
        });
        gLog.clear();
        runEventLoop();
        return 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(steps, 3);
    EXPECT_EQ(gLog,
              (Log{"step 1", "step 2", "click search", "step 3", "destroy A", "exit routine"}));
}

TEST_F(RuntimeTest, TimersTickInRealTimeAndStopWhenToldOrClosed) {
    bind(A, ControlId::searchTimer, Event::tick, onTick);
    run([] {
        loadWindow(A);
        loadWindow(B);
        writeProperty(A, ControlId::searchTimer, Property::timerPeriod, int32_t{20});
        gBackend->runFor(500);
        EXPECT_GE(gTicks, 8);  // 25 on an idle machine
        EXPECT_LE(gTicks, 26);

        writeProperty(A, ControlId::searchTimer, Property::timerPeriod, int32_t{0});
        gTicks = 0;
        gBackend->runFor(100);
        EXPECT_EQ(gTicks, 0);

        writeProperty(A, ControlId::searchTimer, Property::timerPeriod, int32_t{10});
        userCloseWindow(A);  // B stays open, so the pump goes on
        gBackend->runFor(100);
        userTimerTick(A, ControlId::searchTimer);  // a late tick of a closed window
        EXPECT_EQ(gTicks, 0);
        return 0;
    });
}

bool gStallNextTick = false;
void stallingTick() {
    ++gTicks;
    if (gStallNextTick) {
        gStallNextTick = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
}

TEST_F(RuntimeTest, LateTimerTicksOnceATurnInsteadOfCatchingUp) {
    bind(A, ControlId::searchTimer, Event::tick, stallingTick);
    run([] {
        loadWindow(A);
        writeProperty(A, ControlId::searchTimer, Property::timerPeriod, int32_t{10});
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // ten periods overdue
        processEvents();
        EXPECT_EQ(gTicks, 1);
        // About 10 ticks in 250 ms when the first one stalls for 150 ms;
        // catching up on the stall would add 15 more.
        gTicks = 0;
        gStallNextTick = true;
        gBackend->runFor(250);
        EXPECT_GE(gTicks, 2);
        EXPECT_LE(gTicks, 14);
        return 0;
    });
}

// The worker side of a fetch: sleeps for the given milliseconds.
uint32_t sleepingWorker(void* ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(*static_cast<const int*>(ms)));
    return 1;
}
int gWorkerMs300 = 300;
int gWorkerMs100 = 100;

// A handler waiting the way fetchUrl does, pumping whatever arrives until its
// worker ends.
void waitLikeAFetch() {
    note("wait begins");
    WorkerThread* worker = startWorker(&sleepingWorker, &gWorkerMs300);
    uint32_t r;
    do {
        r = waitForWorkerOrInput(worker, 5000, kFetchWakeMask);
        processEvents();
    } while (r != kWaitObject0 && r != kWaitTimeout);
    closeWorker(worker);
    note(gBackend->loopEndPending() ? "wait over, end pending" : "wait over");
    writeProperty(A, ControlId::statusLabel, Property::caption, Text("done"));  // A is closed
    note("handler returns");
}

TEST_F(RuntimeTest, QuitRequestedInsideAWaitEndsTheLoopOnlyAfterTheWaitingHandlerReturns) {
    bind(A, ControlId::searchButton, Event::clicked, waitLikeAFetch);
    bind(A, self, Event::willBeDestroyed, onAClosing);
    const int code = run([] {
        loadWindow(A);
        loadWindow(B);
        gBackend->queueInput(10, [] { userClick(A, ControlId::searchButton); });
        gBackend->queueInput(60, [] { userKey(B, Key::Esc); });
        gBackend->queueInput(100, [] { userKey(A, Key::Esc); });
        gLog.clear();
        runEventLoop();
        note("loop ended");
        return 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(gExitRuns, 1);
    EXPECT_EQ(gLog,
              (Log{"wait begins", "timer B quitTimer 0", "destroy B", "closing A", "destroy A",
                   "wait over, end pending", "handler returns", "loop ended", "exit routine"}));
}

bool gInWait = false;
bool gInputInWait = false;

TEST_F(RuntimeTest, TimerTicksAndInputAreDeliveredDuringAFetchWait) {
    bind(A, ControlId::searchTimer, Event::tick, onTick);
    run([] {
        loadWindow(A);
        writeProperty(A, ControlId::searchTimer, Property::timerPeriod, int32_t{10});
        gBackend->queueInput(100, [] { gInputInWait = gInWait; });
        const auto t0 = Clock::now();
        WorkerThread* worker = startWorker(&sleepingWorker, &gWorkerMs300);
        EXPECT_NE(worker, nullptr);
        if (!worker) return 0;
        int inputWakes = 0;
        uint32_t r;
        gInWait = true;
        do {
            r = waitForWorkerOrInput(worker, 5000, kFetchWakeMask);
            processEvents();
            if (r == kWaitInput) ++inputWakes;
        } while (r != kWaitObject0 && r != kWaitTimeout);
        gInWait = false;
        closeWorker(worker);
        const int64_t elapsed = msSince(t0);
        EXPECT_EQ(r, kWaitObject0);
        EXPECT_GE(elapsed, 290);
        EXPECT_LT(elapsed, 3000);
        EXPECT_GE(gTicks, 10);  // about 30 on an idle machine
        EXPECT_GE(inputWakes, 10);
        EXPECT_TRUE(gInputInWait);
        return 0;
    });
}

TEST_F(RuntimeTest, FetchWaitWakesWhenTheWorkerEndsAndTimesOutWithoutIt) {
    run([] {
        loadWindow(A);  // no timer runs: only the worker or the time can end a wait
        auto t0 = Clock::now();
        WorkerThread* worker = startWorker(&sleepingWorker, &gWorkerMs100);
        EXPECT_NE(worker, nullptr);
        if (!worker) return 0;
        EXPECT_EQ(waitForWorkerOrInput(worker, 10000, kFetchWakeMask), kWaitObject0);
        EXPECT_GE(msSince(t0), 90);
        EXPECT_LT(msSince(t0), 3000);  // woken by the worker, not by the 10 s
        t0 = Clock::now();
        EXPECT_EQ(waitForWorkerOrInput(worker, 10000, kFetchWakeMask), kWaitObject0);
        EXPECT_LT(msSince(t0), 1000);  // ended already: at once
        closeWorker(worker);

        worker = startWorker(&sleepingWorker, &gWorkerMs300);
        t0 = Clock::now();
        EXPECT_EQ(waitForWorkerOrInput(worker, 50, kFetchWakeMask), kWaitTimeout);
        EXPECT_GE(msSince(t0), 45);
        EXPECT_LT(msSince(t0), 290);
        while (!workerEnded(worker)) waitForWorkerOrInput(worker, 1000, kFetchWakeMask);
        closeWorker(worker);
        return 0;
    });
}

void exitOnThirdTick() {
    if (++gTicks == 3) exitProgram(5);
}

TEST_F(RuntimeTest, ExitProgramInsideAFetchWaitEndsWithoutResumingTheWait) {
    bind(A, ControlId::searchTimer, Event::tick, exitOnThirdTick);
    static WorkerThread* worker;
    const int code = run([] {
        loadWindow(A);
        writeProperty(A, ControlId::searchTimer, Property::timerPeriod, int32_t{10});
        worker = startWorker(&sleepingWorker, &gWorkerMs300);
        uint32_t r;
        do {
            r = waitForWorkerOrInput(worker, 5000, kFetchWakeMask);
            processEvents();
        } while (r != kWaitObject0 && r != kWaitTimeout);
        note("wait resumed");
        return 0;
    });
    closeWorker(worker);  // the abandoned worker runs out by itself
    EXPECT_EQ(code, 5);
    EXPECT_EQ(gTicks, 3);
    EXPECT_EQ(gExitRuns, 1);
    EXPECT_EQ(gLog.back(), "exit routine");
    for (const std::string& s : gLog) EXPECT_NE(s, "wait resumed");
}

}  // namespace
}  // namespace nds
