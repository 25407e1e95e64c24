// The X11 corner of the FLTK backend, kept apart because Xlib's macros (None,
// Bool...) collide with the program's own names. Only what FLTK does not wrap.
#pragma once

class Fl_Window;

namespace nds::fltk {

struct TitleBar {
    bool resizable = false;
    bool closeButton = true;
    bool minimizeButton = false;
    bool maximizeButton = false;
    bool systemMenu = true;
};

// Tells the window manager which title-bar buttons and functions a shown
// window has, through the Motif hints most window managers read. Window
// managers that ignore them keep their own buttons.
void setTitleBarHints(Fl_Window* window, const TitleBar& bar);

// FLTK stores a shown window's UTF-8 caption in WM_NAME typed as Latin-1
// STRING; this stores it again as compound text, so that tools and window
// managers reading WM_NAME see the right characters. Call after each caption
// change of a shown window.
void setWindowName(Fl_Window* window, const char* utf8);

}  // namespace nds::fltk
