// The look of the FLTK windows: CJK fonts for every face, the button-face
// background and the drawn box types of skin style 1 and the image buttons.
// Leaves out themes of the desktop: the look is the same everywhere.
#include "platform/fltk/fltk_look.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include <cstdio>

namespace nds::fltk {
namespace {

unsigned char mix(unsigned char a, unsigned char b, int i, int n) {
    return static_cast<unsigned char>(a + (static_cast<int>(b) - a) * i / (n > 1 ? n - 1 : 1));
}

void verticalGradient(int x, int y, int w, int h, Colour top, Colour bottom) {
    for (int i = 0; i < h; ++i) {
        fl_color(mix(top.r, bottom.r, i, h), mix(top.g, bottom.g, i, h),
                 mix(top.b, bottom.b, i, h));
        fl_xyline(x, y + i, x + w - 1);
    }
}

// Inactive widgets draw their frame in the disabled colour.
Colour frameOrOff(Colour on) { return Fl::draw_box_active() ? on : kImageFrameOff; }

void frame(int x, int y, int w, int h, Colour c, bool roundCorners) {
    fl_color(c.r, c.g, c.b);
    if (!roundCorners) {
        fl_rect(x, y, w, h);
        return;
    }
    fl_xyline(x + 1, y, x + w - 2);
    fl_xyline(x + 1, y + h - 1, x + w - 2);
    fl_yxline(x, y + 1, y + h - 2);
    fl_yxline(x + w - 1, y + 1, y + h - 2);
}

void skinButtonUp(int x, int y, int w, int h, Fl_Color) {
    verticalGradient(x + 1, y + 1, w - 2, h - 2, kSkinFillTop, kSkinFillBottom);
    frame(x, y, w, h, frameOrOff(kSkinFrame), false);
}

void skinButtonDown(int x, int y, int w, int h, Fl_Color) {
    verticalGradient(x + 1, y + 1, w - 2, h - 2, kSkinPressedTop, kSkinPressedBottom);
    frame(x, y, w, h, frameOrOff(kSkinFrame), false);
}

void skinEditFrame(int x, int y, int w, int h, Fl_Color c) {
    fl_color(Fl::draw_box_active() ? c : fl_inactive(c));
    fl_rectf(x + 1, y + 1, w - 2, h - 2);
    frame(x, y, w, h, frameOrOff(kSkinFrame), false);
}

void imageButtonUp(int x, int y, int w, int h, Fl_Color) {
    verticalGradient(x + 1, y + 1, w - 2, h - 2, kImageFillTop, kImageFillBottom);
    frame(x, y, w, h, frameOrOff(kImageFrame), true);
}

void imageButtonDown(int x, int y, int w, int h, Fl_Color) {
    verticalGradient(x + 1, y + 1, w - 2, h - 2, kImagePressedTop, kImagePressedBottom);
    frame(x, y, w, h, frameOrOff(kImageFrame), true);
}

}  // namespace

void installLook() {
    // FLTK's Xft names: the first character is the style (' ', 'B', 'I', 'P').
    static const char* const styles[] = {" ", "B", "I", "P"};
    static char names[3][4][64];
    const Fl_Font families[3] = {FL_HELVETICA, FL_TIMES, FL_COURIER};
    const char* faces[3] = {kCjkFontName, kCjkFontName, kCjkMonoFontName};
    for (int f = 0; f < 3; ++f) {
        for (int s = 0; s < 4; ++s) {
            snprintf(names[f][s], sizeof names[f][s], "%s%s", styles[s], faces[f]);
            Fl::set_font(static_cast<Fl_Font>(families[f] + s), names[f][s]);
        }
    }
    Fl::background(kButtonFace.r, kButtonFace.g, kButtonFace.b);
    // Fl_Help_View 1.3 has no setting for its link colour: it draws links in
    // FL_BLUE (unless that is too close to the view's background, which ours
    // never is), so the link colour is set through that entry. Nothing else
    // draws in FL_BLUE.
    Fl::set_color(FL_BLUE, kLink.r, kLink.g, kLink.b);
    Fl::set_boxtype(kSkinButtonUp, skinButtonUp, 1, 1, 2, 2);
    Fl::set_boxtype(kSkinButtonDown, skinButtonDown, 1, 1, 2, 2);
    Fl::set_boxtype(kSkinEditFrame, skinEditFrame, 2, 2, 4, 4);
    Fl::set_boxtype(kImageButtonUp, imageButtonUp, 1, 1, 2, 2);
    Fl::set_boxtype(kImageButtonDown, imageButtonDown, 1, 1, 2, 2);
}

}  // namespace nds::fltk
