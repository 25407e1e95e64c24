// FLTK 1.3 window backend for Linux: native windows and controls built from
// the form data, user input fed back into the runtime core, the fetch wait on
// Fl::wait. Leaves out icons and the skin styles 2 and 3 (drawn as style 0).
#include "platform/fltk/fltk_backend.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Help_View.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Output.H>
#include <FL/Fl_Progress.H>
#include <FL/fl_draw.H>
// Some FLTK headers pull in Xlib, whose None macro would hide Fill::None.
#undef None
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "platform/events.h"
#include "platform/fltk/fltk_look.h"
#include "platform/fltk/fltk_text.h"
#include "platform/fltk/fltk_x11.h"
#include "shell/runtime.h"

extern char** environ;

namespace nds::fltk {

using Clock = std::chrono::steady_clock;

namespace {

// A report of our own move that the X server has not echoed back yet is
// expected for this long; after that a report of the same place counts as the
// user's again.
constexpr auto kEchoLifetime = std::chrono::seconds(2);

ControlId controlOf(void* data) { return static_cast<ControlId>(reinterpret_cast<intptr_t>(data)); }
void* dataOf(ControlId id) { return reinterpret_cast<void*>(static_cast<intptr_t>(id)); }

void applyFont(Fl_Widget* w, const ControlForm& c) {
    w->labelfont(c.font == Font::System ? kSystemFont : kUiFont);
    w->labelsize(kUiFontSize);
}

Fl_Color textColour(const ControlForm& c) {
    return c.textColor ? fl_rgb_color(c.textColor->r, c.textColor->g, c.textColor->b) : FL_BLACK;
}

Fl_Color fillColour(Fill fill) {
    switch (fill) {
        case Fill::White:
            return FL_WHITE;
        case Fill::ButtonFace:
        case Fill::None:
            return FL_BACKGROUND_COLOR;
    }
    return FL_BACKGROUND_COLOR;
}

// Labels: a press goes to the program (only `Label`s; a transparent label
// lets the press through to its window), the hand pointer where the form says.
class LabelBox : public Fl_Box {
public:
    LabelBox(const ControlForm& form, int x, int y, int w, int h)
        : Fl_Box(x, y, w, h), form_(form) {}

    int handle(int event) override {
        switch (event) {
            case FL_ENTER:
                if (form_.handCursor && window()) window()->cursor(FL_CURSOR_HAND);
                return 1;
            case FL_LEAVE:
                if (form_.handCursor && window()) window()->cursor(FL_CURSOR_DEFAULT);
                return 1;
            case FL_PUSH:
                if (form_.kind != ControlKind::Label || Fl::event_button() != FL_LEFT_MOUSE) break;
                pressed();
                return 1;
            default:
                break;
        }
        return Fl_Box::handle(event);
    }

    std::function<void(int x, int y, int keys)> onPress;

private:
    void pressed() {
        const int x = Fl::event_x() - this->x(), y = Fl::event_y() - this->y();
        const int keys = Fl::event_state() & (FL_SHIFT | FL_CTRL);
        if (onPress) onPress(x, y, keys);
    }
    const ControlForm& form_;
};

// A read-only edit box with centred text: FLTK's inputs only align left, so
// the text is drawn as a centred label (it cannot be selected).
class CentredText : public Fl_Box {
public:
    using Fl_Box::Fl_Box;
};

// The result view: an Fl_Help_View in a frame of its own size that sees the
// view's presses first. The view calls its link callback for a pressed link
// and also to look up every picture, so a press is marked here: only the
// lookup that a release on a link makes may act on a link. The view also keeps
// a pointer into its link list from press to release (in FLTK, shared by every
// view): a release after the page changed under the held button would read
// freed memory, so that release stops here. The frame takes the press itself,
// so the drag and the release come back to it.
class HtmlFrame : public Fl_Group {
public:
    HtmlFrame(int x, int y, int w, int h) : Fl_Group(x, y, w, h) {
        box(FL_NO_BOX);
        view_ = new Fl_Help_View(x, y, w, h);
        end();
        resizable(view_);
    }

    Fl_Help_View* view() const { return view_; }

    // True once per release: whether the link callback now runs for a press.
    bool takePress() {
        const bool p = pressing_;
        pressing_ = false;
        return p;
    }

    void setPage(const std::string& html) {
        ++page_;
        view_->value(html.c_str());
    }

    int handle(int event) override {
        // Fl_Help_View::handle is private; through Fl_Widget it is not.
        Fl_Widget* view = view_;
        switch (event) {
            case FL_PUSH:
                pressPage_ = page_;
                return view->handle(event);
            case FL_DRAG:
            case FL_RELEASE:
                if (pressPage_ != page_) {
                    if (event == FL_RELEASE) fl_cursor(FL_CURSOR_DEFAULT);
                    return 1;
                }
                if (event == FL_DRAG) return view->handle(event);
                {
                    pressing_ = true;
                    const int taken = view->handle(event);
                    pressing_ = false;
                    return taken;
                }
            default:
                return Fl_Group::handle(event);
        }
    }

private:
    Fl_Help_View* view_ = nullptr;
    bool pressing_ = false;
    uint64_t page_ = 0;
    uint64_t pressPage_ = 0;
};

}  // namespace

// One top-level window of the program. x()/y() are its client area's screen
// position; the core's `left`/`top` are that minus the fixed frame.
class NativeWindow : public Fl_Double_Window {
public:
    NativeWindow(const WindowForm& form, int left, int top)
        : Fl_Double_Window(left + kFrameLeft, top + kFrameTop, clientWidth(form.width),
                           clientHeight(form.height)),
          form_(form) {}

    WindowId id() const { return form_.id; }
    const WindowForm& form() const { return form_; }

    struct Control {
        const ControlForm* form = nullptr;
        Fl_Widget* widget = nullptr;
    };
    std::vector<Control> controls;
    std::vector<Text> links;  // of the page in resultView, by index

    Control* control(ControlId id) {
        for (Control& c : controls) {
            if (c.form->id == id) return &c;
        }
        return nullptr;
    }

    // The core's own move: remembered, so that its echo from the X server is
    // not taken for the user's.
    void moveClient(int x, int y) {
        if (shown()) {
            echoes_.push_back({x, y, Clock::now() + kEchoLifetime});
        }
        programMove_ = true;
        position(x, y);
        programMove_ = false;
    }

    void resize(int X, int Y, int W, int H) override {
        const bool moved = X != x() || Y != y();
        Fl_Double_Window::resize(X, Y, W, H);
        if (programMove_ || !moved || !shown()) return;
        if (isEcho(X, Y)) return;
        userMoveWindow(id(), X - kFrameLeft, Y - kFrameTop);
    }

    int handle(int event) override {
        switch (event) {
            case FL_KEYBOARD:
            case FL_SHORTCUT: {
                const int key = Fl::event_key();
                if (key == FL_Escape) {
                    userKey(id(), Key::Esc);
                    return 1;
                }
                if ((key == FL_Enter || key == FL_KP_Enter) &&
                    form_.defaultButton != ControlId::self) {
                    userKey(id(), Key::Enter);
                    return 1;
                }
                break;
            }
            case FL_PUSH: {
                if (int taken = Fl_Double_Window::handle(event)) return taken;
                if (!form_.dragByClientArea || Fl::event_button() != FL_LEFT_MOUSE) return 0;
                dragging_ = true;
                dragRootX_ = Fl::event_x_root();
                dragRootY_ = Fl::event_y_root();
                dragFromX_ = x();
                dragFromY_ = y();
                return 1;
            }
            case FL_DRAG:
                if (!dragging_) break;
                {
                    const int nx = dragFromX_ + Fl::event_x_root() - dragRootX_;
                    const int ny = dragFromY_ + Fl::event_y_root() - dragRootY_;
                    if (nx != x() || ny != y()) {
                        moveClient(nx, ny);
                        userMoveWindow(id(), nx - kFrameLeft, ny - kFrameTop);
                    }
                }
                return 1;
            case FL_RELEASE:
                if (!dragging_) break;
                dragging_ = false;
                return 1;
            default:
                break;
        }
        return Fl_Double_Window::handle(event);
    }

private:
    struct Echo {
        int x, y;
        Clock::time_point until;
    };

    // X reports configures in order: a report of one of our places also
    // retires every older place still waiting.
    bool isEcho(int x, int y) {
        const auto now = Clock::now();
        echoes_.erase(std::remove_if(echoes_.begin(), echoes_.end(),
                                     [now](const Echo& e) { return e.until < now; }),
                      echoes_.end());
        for (size_t i = 0; i < echoes_.size(); ++i) {
            if (echoes_[i].x == x && echoes_[i].y == y) {
                echoes_.erase(echoes_.begin(), echoes_.begin() + static_cast<long>(i) + 1);
                return true;
            }
        }
        return false;
    }

    const WindowForm& form_;
    std::vector<Echo> echoes_;
    bool programMove_ = false;
    bool dragging_ = false;
    int dragRootX_ = 0, dragRootY_ = 0, dragFromX_ = 0, dragFromY_ = 0;
};

namespace {

NativeWindow* windowOf(Fl_Widget* w) { return static_cast<NativeWindow*>(w->window()); }

void onButton(Fl_Widget* w, void* data) {
    if (NativeWindow* win = windowOf(w)) userClick(win->id(), controlOf(data));
}

void onEdit(Fl_Widget* w, void* data) {
    NativeWindow* win = windowOf(w);
    if (!win) return;
    const char* value = static_cast<Fl_Input*>(w)->value();
    userEditText(win->id(), controlOf(data), utf8ToGbk(value ? value : ""));
}

// Fl_Help_View asks here for every name it would open: a pressed link, and the
// pictures of a page (prepareHtml leaves none, but a lookup must never get
// null, which the view does not check). A press on one of our links goes to
// the program's link rule; null keeps the view where it is, so no link is ever
// followed inside it. Any other lookup gets an empty name, which opens nothing.
const char* onLink(Fl_Widget* w, const char* uri) {
    static const char kNothing[] = "";
    auto* frame = dynamic_cast<HtmlFrame*>(w->parent());
    if (!frame || !frame->takePress()) return kNothing;
    NativeWindow* win = windowOf(w);
    if (!win || !uri) return nullptr;
    const int index = linkIndex(uri);
    if (index < 0 || index >= static_cast<int>(win->links.size())) return nullptr;
    const Text href = win->links[static_cast<size_t>(index)];
    userPressLink(win->id(), controlOf(w->user_data()), href);
    return nullptr;
}

void onWindowClose(Fl_Widget* w, void*) {
    auto* win = static_cast<NativeWindow*>(w);
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) {
        userKey(win->id(), Key::Esc);
    } else if (win->form().closeButton) {
        userCloseWindow(win->id());
    }
    // A window without a close button ignores the window manager's request.
}

void applySkin(NativeWindow::Control& c, int style) {
    const ControlForm& f = *c.form;
    if (f.kind == ControlKind::PushButton) {
        auto* b = static_cast<Fl_Button*>(c.widget);
        b->box(style == 1 ? kSkinButtonUp : FL_UP_BOX);
        b->down_box(style == 1 ? kSkinButtonDown : FL_DOWN_BOX);
        b->redraw();
    } else if (f.kind == ControlKind::EditBox && !f.readOnly && f.border != Border::None) {
        c.widget->box(style == 1 ? kSkinEditFrame : FL_DOWN_BOX);
        c.widget->redraw();
    }
}

// Builds one control's widget inside the current group, from the form and the
// core's current values.
Fl_Widget* buildControl(WindowId window, const ControlForm& f) {
    const int x = f.left, y = f.top, w = f.width, h = f.height;
    const auto caption = [&] { return labelText(readText(window, f.id, Property::caption)); };
    switch (f.kind) {
        case ControlKind::PushButton:
        case ControlKind::ImageButton: {
            auto* b = new Fl_Button(x, y, w, h);
            b->copy_label(caption().c_str());
            applyFont(b, f);
            b->labelcolor(textColour(f));
            if (f.kind == ControlKind::ImageButton) {
                b->box(kImageButtonUp);
                b->down_box(kImageButtonDown);
            }
            b->callback(onButton, dataOf(f.id));
            if (readInt(window, f.id, Property::disabled)) b->deactivate();
            return b;
        }
        case ControlKind::EditBox: {
            const std::string value = labelText(readText(window, f.id, Property::text));
            if (f.readOnly && f.align == Align::Center) {
                auto* t = new CentredText(x, y, w, h);
                t->box(f.border == Border::None ? FL_FLAT_BOX : FL_DOWN_BOX);
                t->color(fillColour(f.background));
                t->align(FL_ALIGN_CENTER | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
                t->labelcolor(textColour(f));
                applyFont(t, f);
                t->copy_label(value.c_str());
                return t;
            }
            Fl_Input* in = f.readOnly ? new Fl_Output(x, y, w, h) : new Fl_Input(x, y, w, h);
            in->box(f.border == Border::None ? FL_FLAT_BOX : FL_DOWN_BOX);
            in->color(fillColour(f.background));
            in->textcolor(textColour(f));
            in->textfont(f.font == Font::System ? kSystemFont : kUiFont);
            in->textsize(kUiFontSize);
            in->value(gbkToUtf8(readText(window, f.id, Property::text).view()).c_str());
            in->when(FL_WHEN_CHANGED);
            in->callback(onEdit, dataOf(f.id));
            return in;
        }
        case ControlKind::Label:
        case ControlKind::TransparentLabel: {
            auto* l = new LabelBox(f, x, y, w, h);
            l->box(f.kind == ControlKind::TransparentLabel || f.background == Fill::None
                       ? FL_NO_BOX
                       : FL_FLAT_BOX);
            l->color(fillColour(f.background));
            l->align(FL_ALIGN_INSIDE | FL_ALIGN_CLIP |
                     (f.align == Align::Center ? FL_ALIGN_CENTER : FL_ALIGN_LEFT));
            l->labelcolor(textColour(f));
            applyFont(l, f);
            l->copy_label(caption().c_str());
            const ControlId id = f.id;
            l->onPress = [window, id](int px, int py, int keys) {
                userPressLabel(window, id, px, py, keys);
            };
            return l;
        }
        case ControlKind::ProgressBar: {
            auto* p = new Fl_Progress(x, y, w, h);
            p->box(f.border == Border::None ? FL_FLAT_BOX : FL_BORDER_BOX);
            p->color(FL_WHITE);
            p->selection_color(toFl(kProgressBar));
            p->minimum(static_cast<float>(f.rangeMin));
            p->maximum(static_cast<float>(f.rangeMax));
            p->value(static_cast<float>(readInt(window, f.id, Property::position)));
            return p;
        }
        case ControlKind::HtmlView: {
            auto* frame = new HtmlFrame(x, y, w, h);
            Fl_Help_View* v = frame->view();
            v->box(FL_DOWN_BOX);
            v->color(fillColour(f.background));
            v->textfont(kUiFont);
            v->textsize(kHtmlFontSize);
            v->textcolor(FL_BLACK);
            v->user_data(dataOf(f.id));
            v->link(onLink);
            return frame;
        }
        case ControlKind::Timer:
            break;
    }
    return nullptr;
}

// The view's place leaves its first columns and rows outside the client area,
// and other controls lie over its top edge: the page is laid out clear of both,
// so every line of it can be seen.
std::string framePage(const std::string& page, const ControlForm& view, const WindowForm& form) {
    const int hiddenLeft = std::max(0, -view.left);
    int clearTop = std::max(0, -view.top);
    for (const ControlForm& c : form.controls) {
        if (c.id == view.id || c.kind == ControlKind::Timer || c.top > kViewTopBand) continue;
        clearTop = std::max(clearTop, c.top + c.height - view.top);
    }
    // Fl_Help_View ignores cell heights: the top band is made of empty lines.
    fl_font(kUiFont, kHtmlFontSize);
    const int lineHeight = std::max(1, fl_height());
    std::string band;
    for (int covered = 0; covered < clearTop; covered += lineHeight) band += "&nbsp;<br>";
    return band + "<table border=0 cellpadding=0 cellspacing=0><tr><td width=" +
           std::to_string(hiddenLeft + kViewPadding) + "></td><td>" + page + "</td></tr></table>";
}

void wakeFromWorker() { Fl::awake(); }

}  // namespace

FltkBackend::FltkBackend() {
    Fl::lock();  // turns on Fl::awake from other threads
    installLook();
    setWorkerEndedHook(wakeFromWorker);
}

FltkBackend::~FltkBackend() {
    for (auto& [key, timer] : timers_) Fl::remove_timeout(timerFired, timer.get());
    for (NativeWindow* w : windows_) delete w;
    buryDeadWindows();
}

NativeWindow* FltkBackend::native(WindowId window) {
    const int i = static_cast<int>(window);
    return i >= 0 && i < kWindowCount ? windows_[static_cast<size_t>(i)] : nullptr;
}

ScreenSize FltkBackend::screenSize() {
    fl_open_display();
    return {Fl::w(), Fl::h()};
}

void FltkBackend::createWindow(const WindowForm& form, int left, int top) {
    const int i = static_cast<int>(form.id);
    if (i < 0 || i >= kWindowCount) return;
    if (windows_[static_cast<size_t>(i)]) destroyWindow(form.id);

    auto* win = new NativeWindow(form, left, top);
    win->copy_label(
        gbkToUtf8(readText(form.id, ControlId::self, Property::caption).view()).c_str());
    win->color(FL_BACKGROUND_COLOR);
    win->xclass("netdisk-search");
    win->callback(onWindowClose);
    // The form lists the top of the stacking order first; FLTK draws its
    // children in order and gives a press to the last one first.
    for (auto it = form.controls.rbegin(); it != form.controls.rend(); ++it) {
        if (Fl_Widget* w = buildControl(form.id, *it)) {
            if (!it->focusRect) w->clear_visible_focus();
            win->controls.push_back({&*it, w});
        }
    }
    win->end();
    win->resizable(nullptr);
    win->size_range(win->w(), win->h(), win->w(), win->h());
    windows_[static_cast<size_t>(i)] = win;
    for (NativeWindow::Control& c : win->controls) applySkin(c, skinStyle());
}

void FltkBackend::showWindow(WindowId window) {
    NativeWindow* win = native(window);
    if (!win) return;
    win->show();
    const WindowForm& f = win->form();
    setTitleBarHints(
        win, {!f.fixedBorder, f.closeButton, f.minimizeButton, f.maximizeButton, f.systemMenu});
    setWindowName(win, win->label());
    // The keyword box takes the keyboard at once, so the user can type.
    for (NativeWindow::Control& c : win->controls) {
        if (c.form->kind == ControlKind::EditBox && !c.form->readOnly) {
            c.widget->take_focus();
            break;
        }
    }
}

void FltkBackend::activateWindow(WindowId window) {
    if (NativeWindow* win = native(window); win && win->shown()) win->show();
}

void FltkBackend::destroyWindow(WindowId window) {
    NativeWindow* win = native(window);
    if (!win) return;
    stopTimers(window);
    windows_[static_cast<size_t>(window)] = nullptr;
    // A handler of this very window may be on the stack (Esc inside a fetch's
    // wait), so the widgets live on, hidden, until the top-level loop runs.
    win->hide();
    dead_.push_back(win);
}

void FltkBackend::buryDeadWindows() {
    std::vector<Fl_Window*> dead;
    dead.swap(dead_);
    for (Fl_Window* w : dead) delete w;
}

void FltkBackend::moveWindow(WindowId window, int left, int top) {
    if (NativeWindow* win = native(window)) win->moveClient(left + kFrameLeft, top + kFrameTop);
}

void FltkBackend::moveControl(WindowId window, ControlId control, int left, int top) {
    NativeWindow* win = native(window);
    if (!win) return;
    if (NativeWindow::Control* c = win->control(control)) {
        c->widget->position(left, top);
        win->redraw();
    }
}

void FltkBackend::setText(WindowId window, ControlId control, const Text& text) {
    NativeWindow* win = native(window);
    if (!win) return;
    if (control == ControlId::self) {
        win->copy_label(gbkToUtf8(text.view()).c_str());
        setWindowName(win, win->label());
        return;
    }
    NativeWindow::Control* c = win->control(control);
    if (!c) return;
    if (auto* in = dynamic_cast<Fl_Input*>(c->widget)) {
        in->value(gbkToUtf8(text.view()).c_str());
        return;
    }
    c->widget->copy_label(labelText(text).c_str());
    // A box without a background of its own needs what lies under it redrawn.
    c->widget->redraw_label();
    c->widget->redraw();
}

void FltkBackend::setDisabled(WindowId window, ControlId control, bool disabled) {
    NativeWindow* win = native(window);
    if (!win) return;
    if (NativeWindow::Control* c = win->control(control)) {
        if (disabled) {
            c->widget->deactivate();
        } else {
            c->widget->activate();
        }
    }
}

void FltkBackend::setPosition(WindowId window, ControlId control, int position) {
    NativeWindow* win = native(window);
    if (!win) return;
    if (NativeWindow::Control* c = win->control(control)) {
        if (auto* p = dynamic_cast<Fl_Progress*>(c->widget)) p->value(static_cast<float>(position));
    }
}

void FltkBackend::setHtml(WindowId window, ControlId control, const Bytes& html) {
    NativeWindow* win = native(window);
    if (!win) return;
    NativeWindow::Control* c = win->control(control);
    auto* frame = c ? dynamic_cast<HtmlFrame*>(c->widget) : nullptr;
    if (!frame) return;
    // The page is text for the view: it ends at a NUL byte, as in the program.
    std::string_view page = html.view();
    page = page.substr(0, page.find('\0'));
    std::vector<Text> links;
    const std::string rewritten = prepareHtml(page, links);
    win->links = std::move(links);
    frame->setPage(framePage(gbkToUtf8(rewritten), *c->form, win->form()));
}

void FltkBackend::timerFired(void* data) {
    auto* t = static_cast<Timer*>(data);
    if (!t->running) return;
    // Rescheduled first, so a nested wait inside the handler keeps it ticking.
    Fl::repeat_timeout(t->periodS, timerFired, data);
    t->backend->noteTimerTick();
    userTimerTick(t->window, t->control);
}

void FltkBackend::setTimer(WindowId window, ControlId control, int periodMs) {
    const auto key = std::make_pair(static_cast<int>(window), static_cast<int>(control));
    auto& slot = timers_[key];
    if (!slot) slot = std::make_unique<Timer>();
    Timer* t = slot.get();
    Fl::remove_timeout(timerFired, t);
    t->backend = this;
    t->window = window;
    t->control = control;
    t->running = periodMs > 0 && native(window) != nullptr;
    if (!t->running) return;
    t->periodS = periodMs / 1000.0;
    Fl::add_timeout(t->periodS, timerFired, t);
}

void FltkBackend::stopTimers(WindowId window) {
    for (auto& [key, timer] : timers_) {
        if (key.first == static_cast<int>(window)) {
            Fl::remove_timeout(timerFired, timer.get());
            timer->running = false;
        }
    }
}

void FltkBackend::setSkinStyle(int style) {
    for (NativeWindow* win : windows_) {
        if (!win) continue;
        for (NativeWindow::Control& c : win->controls) applySkin(c, style);
    }
}

void FltkBackend::showMessage(const Text& caption, const Text& text) {
    const std::string body = labelText(text);
    const std::string title = gbkToUtf8(caption.view());
    fl_font(kUiFont, kUiFontSize);
    int tw = 0, th = 0;
    fl_measure(body.c_str(), tw, th, 0);
    constexpr int kMaxText = 420;
    if (tw > kMaxText) {
        tw = kMaxText;
        th = 0;
        fl_measure(body.c_str(), tw, th, 0);
    }
    const int w = std::max(tw + 48, 180);
    const int h = th + 24 + 20 + 24 + 12;
    Fl_Window box((Fl::w() - w) / 2, (Fl::h() - h) / 2, w, h);
    box.copy_label(title.c_str());
    box.color(FL_BACKGROUND_COLOR);
    auto* message = new Fl_Box(24, 20, w - 48, th + 4);
    message->copy_label(body.c_str());
    message->labelfont(kUiFont);
    message->labelsize(kUiFontSize);
    message->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
    auto* ok = new Fl_Button((w - 75) / 2, h - 24 - 12, 75, 24);
    ok->copy_label("\xE7\xA1\xAE\xE5\xAE\x9A");  // 确定
    ok->labelfont(kUiFont);
    ok->labelsize(kUiFontSize);
    ok->shortcut(FL_Enter);
    ok->box(kImageButtonUp);
    ok->down_box(kImageButtonDown);
    ok->callback([](Fl_Widget* b, void*) { b->window()->hide(); });
    box.end();
    box.callback([](Fl_Widget* wnd, void*) { wnd->hide(); });  // Esc and the close button
    box.size_range(w, h, w, h);
    box.set_modal();
    box.show();
    setWindowName(&box, box.label());
    // Our own loop rather than fl_alert: timeouts keep running in Fl::wait.
    while (box.shown()) Fl::wait();
}

void FltkBackend::openUrl(const Text& url) {
    const std::string target = gbkToUtf8(url.view());
    if (target.empty()) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    char* argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(target.c_str()), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, "xdg-open", &actions, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return;  // no opener on this desktop: nothing to report, as elsewhere
    // Reaped on the side, so the program never waits for the browser.
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
}

void FltkBackend::processEvents() { Fl::check(); }

uint32_t FltkBackend::waitForWorkerOrInput(WorkerThread* worker, uint32_t timeoutMs,
                                           uint32_t wakeMask) {
    constexpr uint32_t kInfinite = 0xFFFFFFFFu;
    // The slice bounds one Fl::wait, in case a worker ends between our check
    // and the wait (its wake-up is then already queued, but cheap insurance).
    constexpr double kSliceS = 0.05;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (worker && workerEnded(worker)) return kWaitObject0;
        double left = kSliceS;
        if (timeoutMs != kInfinite) {
            const auto remaining = deadline - Clock::now();
            if (remaining <= Clock::duration::zero()) return kWaitTimeout;
            left = std::min(left, std::chrono::duration<double>(remaining).count());
        }
        const uint64_t ticksBefore = ticks_;
        const int handled = Fl::wait(left);
        if (worker && workerEnded(worker)) return kWaitObject0;
        if (handled > 0 || ticks_ != ticksBefore) return kWaitInput;
    }
}

void FltkBackend::runEventLoop() {
    while (!loopEndRequested_) {
        Fl::wait(0.5);
        buryDeadWindows();
    }
}

void FltkBackend::requestLoopEnd() {
    loopEndRequested_ = true;
    Fl::awake();
}

void FltkBackend::endProcess(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    // Worker threads may still be in a network exchange: no destructors.
    _exit(code);
}

}  // namespace nds::fltk
