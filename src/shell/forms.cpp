// The two window forms as data: every place, size, text and setting of
// MainWindow and ResultsWindow. Every backend builds its widgets from these;
// none repeats a coordinate.
#include <vector>

#include "shell/program.h"
#include "shell/texts.h"

namespace nds {

namespace {

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kRed{255, 0, 0};

ControlForm control(ControlId id, const char* name, ControlKind kind, int left, int top, int width,
                    int height) {
    ControlForm c;
    c.id = id;
    c.name = name;
    c.kind = kind;
    c.left = left;
    c.top = top;
    c.width = width;
    c.height = height;
    return c;
}

ControlForm timer(ControlId id, const char* name, int periodMs) {
    ControlForm c = control(id, name, ControlKind::Timer, 0, 0, 0, 0);
    c.timerPeriod = periodMs;
    return c;
}

// Range 0 to 100, horizontal, a continuous bar with a one-line border.
ControlForm progressBar(ControlId id, const char* name, int left, int top, int width, int height) {
    ControlForm c = control(id, name, ControlKind::ProgressBar, left, top, width, height);
    c.rangeMin = 0;
    c.rangeMax = 100;
    c.smooth = true;
    c.border = Border::OneLine;
    return c;
}

// The three labels of MainWindow: one line, centred both ways, default GUI
// font, flat, no border, on the window's button-face colour.
ControlForm label(ControlId id, const char* name, int left, int top, int width, int height,
                  const char* text, Rgb color, bool hand) {
    ControlForm c = control(id, name, ControlKind::Label, left, top, width, height);
    c.text = text;
    c.textColor = color;
    c.handCursor = hand;
    c.align = Align::Center;
    c.border = Border::None;
    c.background = Fill::ButtonFace;
    c.font = Font::DefaultGui;
    return c;
}

// XP-like, text only, with a border and no focus rectangle.
ControlForm imageButton(ControlId id, const char* name, int left, int top, const char* text) {
    ControlForm c = control(id, name, ControlKind::ImageButton, left, top, 100, 24);
    c.text = text;
    c.disabled = false;
    c.focusRect = false;
    c.border = Border::Raised;
    c.align = Align::Center;
    return c;
}

WindowForm mainWindowForm() {
    WindowForm w;
    w.id = WindowId::MainWindow;
    w.name = "MainWindow";
    w.caption = kMainCaption;
    w.width = 278;
    w.height = 189;
    w.fixedBorder = true;
    w.closeButton = true;
    w.systemMenu = true;
    w.minimizeButton = false;
    w.maximizeButton = false;
    w.escCloses = true;
    w.dragByClientArea = false;
    w.inTaskbar = true;
    w.defaultButton = ControlId::searchButton;

    ControlForm search =
        control(ControlId::searchButton, "searchButton", ControlKind::PushButton, 0, 8, 80, 24);
    search.text = kSearchButtonText;
    search.defaultButton = true;
    search.align = Align::Center;

    ControlForm keyword =
        control(ControlId::keywordEdit, "keywordEdit", ControlKind::EditBox, 88, 8, 160, 24);
    keyword.singleLine = true;
    keyword.border = Border::Sunken;
    keyword.textColor = kBlack;
    keyword.background = Fill::White;
    keyword.align = Align::Left;

    w.controls = {
        search,
        keyword,
        label(ControlId::statusLabel, "statusLabel", 72, 48, 120, 24, "", kBlack, false),
        progressBar(ControlId::searchProgress, "searchProgress", 16, 72, 240, 16),
        timer(ControlId::searchTimer, "searchTimer", 0),
        label(ControlId::aboutLabel, "aboutLabel", 0, 136, 88, 24, kAboutLabelText, kBlue, true),
        label(ControlId::authorSiteLabel, "authorSiteLabel", 184, 136, 88, 24, kAuthorSiteLabelText,
              kBlue, true),
    };
    return w;
}

WindowForm resultsWindowForm() {
    WindowForm w;
    w.id = WindowId::ResultsWindow;
    w.name = "ResultsWindow";
    w.caption = kResultsCaption;
    w.width = 495;
    w.height = 768;
    w.fixedBorder = true;
    w.closeButton = false;
    w.systemMenu = false;
    w.minimizeButton = false;
    w.maximizeButton = false;
    w.escCloses = true;
    w.dragByClientArea = true;
    w.inTaskbar = true;
    w.defaultButton = ControlId::self;

    ControlForm pageLabel = control(ControlId::pageLabel, "pageLabel",
                                    ControlKind::TransparentLabel, 192, 720, 128, 24);
    pageLabel.textColor = kBlack;
    pageLabel.font = Font::DefaultGui;
    pageLabel.background = Fill::None;

    ControlForm summary =
        control(ControlId::summaryEdit, "summaryEdit", ControlKind::EditBox, 224, 8, 264, 20);
    summary.readOnly = true;
    summary.singleLine = true;
    summary.align = Align::Center;
    summary.border = Border::None;
    summary.textColor = kRed;
    summary.background = Fill::ButtonFace;

    // 126 columns and 22 rows of the view lie outside the client area; its
    // bottom edge is at 720.
    ControlForm view =
        control(ControlId::resultView, "resultView", ControlKind::HtmlView, -126, -22, 614, 742);
    view.background = Fill::White;

    // Top of the stacking order first: resultView lies under everything.
    w.controls = {
        timer(ControlId::quitTimer, "quitTimer", 100),
        timer(ControlId::pageTimer, "pageTimer", 0),
        progressBar(ControlId::pageProgress, "pageProgress", 184, 696, 120, 16),
        pageLabel,
        imageButton(ControlId::nextButton, "nextButton", 384, 712, kNextButtonText),
        imageButton(ControlId::prevButton, "prevButton", 8, 712, kPrevButtonText),
        summary,
        view,
    };
    return w;
}

const std::vector<WindowForm>& forms() {
    // Indexed by WindowId.
    static const std::vector<WindowForm> all = {mainWindowForm(), resultsWindowForm()};
    return all;
}

}  // namespace

std::span<const WindowForm> programForms() { return forms(); }

}  // namespace nds
