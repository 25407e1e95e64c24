// The vocabulary of window forms: which windows and controls exist, their
// kinds, properties and events, and the form data every backend builds its
// native widgets from. Forms are plain data; no backend repeats a coordinate.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "text/text.h"

namespace nds {

enum class WindowId : int { MainWindow, ResultsWindow };
inline constexpr int kWindowCount = 2;

// `self` addresses a window as its own control.
enum class ControlId : int {
    self,
    searchButton,
    keywordEdit,
    statusLabel,
    searchProgress,
    searchTimer,
    aboutLabel,
    authorSiteLabel,
    quitTimer,
    pageTimer,
    pageProgress,
    pageLabel,
    nextButton,
    prevButton,
    summaryEdit,
    resultView,
};

enum class ControlKind {
    PushButton,
    EditBox,
    Label,
    TransparentLabel,
    ImageButton,
    ProgressBar,
    Timer,
    HtmlView,
};

enum class Property { left, top, caption, text, disabled, timerPeriod, position, htmlContent };

enum class Event {
    created,
    positionChanged,
    willBeDestroyed,
    clicked,
    leftButtonPressed,
    tick,
    linkPressed,
};

enum class Key { Enter, Esc };

using PropertyValue = std::variant<int32_t, Text, Bytes>;

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

enum class Fill { ButtonFace, White, None };
enum class Align { Left, Center };
enum class Border { None, Sunken, OneLine, Raised };
enum class Font { DefaultGui, System };

struct ControlForm {
    ControlId id = ControlId::self;
    const char* name = "";
    ControlKind kind = ControlKind::Label;
    int left = 0, top = 0, width = 0, height = 0;
    Text text;            // caption of a label or button, text of an edit box
    int timerPeriod = 0;  // timers: running from creation when positive
    bool disabled = false;
    bool defaultButton = false;
    bool readOnly = false;
    bool singleLine = true;
    bool focusRect = true;
    bool handCursor = false;
    Align align = Align::Left;
    Border border = Border::None;
    std::optional<Rgb> textColor;  // none: the system's default
    Fill background = Fill::ButtonFace;
    Font font = Font::DefaultGui;
    int rangeMin = 0, rangeMax = 100;  // progress bars
    bool smooth = false;               // progress bars: a continuous bar
};

struct WindowForm {
    WindowId id = WindowId::MainWindow;
    const char* name = "";
    Text caption;
    int width = 0, height = 0;  // outer size
    bool fixedBorder = true;
    bool closeButton = true;
    bool systemMenu = true;
    bool minimizeButton = false;
    bool maximizeButton = false;
    bool escCloses = true;
    bool dragByClientArea = false;
    bool inTaskbar = true;
    ControlId defaultButton = ControlId::self;  // self: none
    // Top of the stacking order first.
    std::vector<ControlForm> controls;

    const ControlForm* control(ControlId c) const;
};

// The properties a control of this kind has, in the order a dump shows them.
const std::vector<Property>& propertiesOf(ControlKind kind);
const std::vector<Property>& windowProperties();
std::string_view propertyName(Property p);

}  // namespace nds
