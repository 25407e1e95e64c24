// The look of the FLTK windows in one place: the fixed frame deducted from each
// form's outer size, colours, fonts and the drawn box types (skin style 1 and
// the image buttons). Leaves out icons and every skin style but 1.
#pragma once

#include <FL/Enumerations.H>

namespace nds::fltk {

// A form's outer size includes a frame of fixed size, as on classic Windows, so
// the client area is the same on every window manager: the outer corner
// (left, top) of a window is its client area's screen position minus these.
inline constexpr int kFrameLeft = 3;
inline constexpr int kFrameRight = 3;
inline constexpr int kFrameTop = 22;  // title bar and the top edge
inline constexpr int kFrameBottom = 3;

inline int clientWidth(int outerWidth) { return outerWidth - kFrameLeft - kFrameRight; }
inline int clientHeight(int outerHeight) { return outerHeight - kFrameTop - kFrameBottom; }

// Colours, as RGB triples.
struct Colour {
    unsigned char r, g, b;
};
inline constexpr Colour kButtonFace{236, 233, 216};      // the window background
inline constexpr Colour kSkinFrame{123, 158, 189};       // skin 1: one-pixel frames
inline constexpr Colour kSkinFillTop{248, 251, 254};     // skin 1 push button, top row
inline constexpr Colour kSkinFillBottom{208, 224, 240};  // and bottom row
inline constexpr Colour kSkinPressedTop{196, 214, 234};
inline constexpr Colour kSkinPressedBottom{226, 236, 246};
inline constexpr Colour kImageFrame{0, 60, 116};  // image buttons: XP default button
inline constexpr Colour kImageFrameOff{201, 199, 186};
inline constexpr Colour kImageFillTop{255, 255, 255};
inline constexpr Colour kImageFillBottom{226, 223, 210};
inline constexpr Colour kImagePressedTop{218, 216, 205};
inline constexpr Colour kImagePressedBottom{240, 239, 233};
inline constexpr Colour kProgressBar{49, 106, 197};
inline constexpr Colour kLink{0, 0, 255};

inline Fl_Color toFl(Colour c) { return fl_rgb_color(c.r, c.g, c.b); }

// Fonts. Every FLTK face the widgets or the HTML view may pick is mapped onto
// a CJK font, so Chinese text never falls back to empty boxes.
inline constexpr const char* kCjkFontName = "WenQuanYi Zen Hei";
inline constexpr const char* kCjkMonoFontName = "WenQuanYi Zen Hei Mono";
inline constexpr Fl_Font kUiFont = FL_HELVETICA;
inline constexpr Fl_Font kSystemFont = FL_HELVETICA_BOLD;
inline constexpr int kUiFontSize = 12;    // pixels: 9 pt at 96 dpi
inline constexpr int kHtmlFontSize = 12;  // the view's body text, 9 pt
// The HTML view keeps its page clear of the controls lying over the top band
// of the client area, and this far from its visible left edge.
inline constexpr int kViewTopBand = 40;
inline constexpr int kViewPadding = 6;

// Box types drawn by this backend, registered by installLook().
inline constexpr Fl_Boxtype kSkinButtonUp = FL_FREE_BOXTYPE;
inline constexpr Fl_Boxtype kSkinButtonDown = static_cast<Fl_Boxtype>(FL_FREE_BOXTYPE + 1);
inline constexpr Fl_Boxtype kSkinEditFrame = static_cast<Fl_Boxtype>(FL_FREE_BOXTYPE + 2);
inline constexpr Fl_Boxtype kImageButtonUp = static_cast<Fl_Boxtype>(FL_FREE_BOXTYPE + 3);
inline constexpr Fl_Boxtype kImageButtonDown = static_cast<Fl_Boxtype>(FL_FREE_BOXTYPE + 4);

// Registers the fonts, the background colour and the box types. Once, before
// the first window.
void installLook();

}  // namespace nds::fltk
