// The Motif window-manager hints of an FLTK window on X11: which title-bar
// buttons and functions it offers. Leaves out EWMH window types and icons.
#include "platform/fltk/fltk_x11.h"

#include <FL/Fl_Window.H>
#include <FL/x.H>
#include <X11/Xutil.h>

namespace nds::fltk {

void setTitleBarHints(Fl_Window* window, const TitleBar& bar) {
    if (!window || !window->shown()) return;
    enum : unsigned long {
        kHintsFunctions = 1,
        kHintsDecorations = 2,
        kFuncResize = 2,
        kFuncMove = 4,
        kFuncMinimize = 8,
        kFuncMaximize = 16,
        kFuncClose = 32,
        kDecorBorder = 2,
        kDecorResizeH = 4,
        kDecorTitle = 8,
        kDecorMenu = 16,
        kDecorMinimize = 32,
        kDecorMaximize = 64,
    };
    // flags, functions, decorations, input mode, status: 32-bit items, passed
    // to Xlib as longs.
    long hints[5] = {kHintsFunctions | kHintsDecorations, kFuncMove, kDecorBorder | kDecorTitle, 0,
                     0};
    if (bar.resizable) {
        hints[1] |= kFuncResize;
        hints[2] |= kDecorResizeH;
    }
    if (bar.closeButton) hints[1] |= kFuncClose;
    if (bar.minimizeButton) {
        hints[1] |= kFuncMinimize;
        hints[2] |= kDecorMinimize;
    }
    if (bar.maximizeButton) {
        hints[1] |= kFuncMaximize;
        hints[2] |= kDecorMaximize;
    }
    if (bar.systemMenu) hints[2] |= kDecorMenu;
    const Atom motif = XInternAtom(fl_display, "_MOTIF_WM_HINTS", False);
    XChangeProperty(fl_display, fl_xid(window), motif, motif, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(hints), 5);
    XFlush(fl_display);
}

void setWindowName(Fl_Window* window, const char* utf8) {
    if (!window || !window->shown() || !utf8) return;
    char* list[] = {const_cast<char*>(utf8)};
    XTextProperty name;
    if (Xutf8TextListToTextProperty(fl_display, list, 1, XStdICCTextStyle, &name) != Success) {
        return;
    }
    XSetWMName(fl_display, fl_xid(window), &name);
    XSetWMIconName(fl_display, fl_xid(window), &name);
    XFree(name.value);
    XFlush(fl_display);
}

}  // namespace nds::fltk
