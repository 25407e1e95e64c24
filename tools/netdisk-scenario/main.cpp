// netdisk-scenario [--host HOST:PORT] [SCRIPT]: the program (programMain) on the
// headless runtime, driven by a script of user actions read from SCRIPT or from
// standard input, one line at a time. It prints what a user would see, in the
// order it happens: message boxes, URLs handed to the browser, windows opened
// and closed, every fetch, and dumps of the whole state.
//
// Texts are UTF-8 in the script and on standard output, GBK inside the program.

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fetch/fetch.h"
#include "platform/codepage.h"
#include "platform/headless/headless_backend.h"
#include "shell/program.h"
#include "shell/runtime.h"

namespace {

using nds::ControlId;
using nds::ControlKind;
using nds::WindowId;

// --- conversions and escaping ----------------------------------------------

std::string convert(std::string_view in, unsigned from, unsigned to) {
    if (in.empty()) return {};
    const int len = static_cast<int>(in.size());
    const int units = nds::multiByteToWideChar(from, 0, in.data(), len, nullptr, 0);
    if (units <= 0) return {};
    std::u16string wide(units, u'\0');
    nds::multiByteToWideChar(from, 0, in.data(), len, wide.data(), units);
    // Three bytes a unit covers UTF-8 (a surrogate pair makes four from two).
    std::string out(static_cast<size_t>(units) * 3, '\0');
    const int n = nds::wideCharToMultiByte(to, 0, wide.data(), units, out.data(),
                                           static_cast<int>(out.size()));
    out.resize(n > 0 ? n : 0);
    return out;
}

std::string utf8ToGbk(std::string_view s) { return convert(s, 65001, 936); }
std::string gbkToUtf8(std::string_view s) { return convert(s, 936, 65001); }

// A text of the program, for one output line: UTF-8, with '\', CR and LF
// written as \\, \r and \n; other control bytes as \xHH so a line stays a line.
std::string shown(std::string_view gbk) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : gbkToUtf8(gbk)) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// A fetched URL byte for byte: bytes of 0x80 and above and spaces (and any
// other control byte) as %XX in upper-case hex, so GBK bytes show exactly.
std::string shownUrl(std::string_view url) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : url) {
        if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void emit(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// --- names ------------------------------------------------------------------

struct ControlRef {
    WindowId window;
    ControlId control;
    ControlKind kind;
};

std::optional<WindowId> findWindow(std::string_view name) {
    for (const nds::WindowForm& form : nds::programForms()) {
        if (name == form.name) return form.id;
    }
    return std::nullopt;
}

std::optional<ControlRef> findControl(std::string_view name) {
    for (const nds::WindowForm& form : nds::programForms()) {
        for (const nds::ControlForm& c : form.controls) {
            if (name == c.name) return ControlRef{form.id, c.id, c.kind};
        }
    }
    return std::nullopt;
}

const char* windowName(WindowId id) {
    for (const nds::WindowForm& form : nds::programForms()) {
        if (form.id == id) return form.name;
    }
    return "?";
}

// --- the dump ---------------------------------------------------------------

std::string valueText(const nds::PropertyValue& v) {
    if (const int32_t* i = std::get_if<int32_t>(&v)) return std::to_string(*i);
    if (const nds::Text* t = std::get_if<nds::Text>(&v)) return shown(t->view());
    return shown(std::get<nds::Bytes>(v).view());
}

void dump() {
    for (const nds::WindowForm& form : nds::programForms()) {
        const std::string w = form.name;
        const bool open = nds::isWindowOpen(form.id);
        emit(w + ".open=" + (open ? "1" : "0"));
        if (!open) continue;
        for (nds::Property p : nds::windowProperties()) {
            emit(w + "." + std::string(nds::propertyName(p)) + "=" +
                 valueText(nds::readProperty(form.id, ControlId::self, p)));
        }
        for (const nds::ControlForm& c : form.controls) {
            for (nds::Property p : nds::propertiesOf(c.kind)) {
                // A control's place never changes; the dump shows what does.
                if (p == nds::Property::left || p == nds::Property::top) continue;
                emit(w + "." + c.name + "." + std::string(nds::propertyName(p)) + "=" +
                     valueText(nds::readProperty(form.id, c.id, p)));
            }
        }
    }
    emit("totalPages=" + std::to_string(nds::totalPages));
    std::string state;
    for (size_t i = 0; i < nds::pageState.size(); ++i) {
        if (i) state += ',';
        state += std::to_string(nds::pageState[i]);
    }
    emit("pageState=" + state);
    emit("quitRequested=" + std::to_string(nds::quitRequested));
    emit("lastResponse.bytes=" + std::to_string(nds::lastResponse.size()));
    emit("pagePieces.count=" + std::to_string(nds::pagePieces.size()));
    emit("pageText.bytes=" + std::to_string(nds::pageText.size()));
}

// --- the script -------------------------------------------------------------

struct ScriptError {
    std::string why;
};

bool parseInt(std::string_view s, bool allowNegative, int& out) {
    if (s.empty()) return false;
    const std::string text(s);
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (*end || errno == ERANGE || v > INT_MAX || v < INT_MIN) return false;
    if (!allowNegative && (v < 0 || text[0] == '-' || text[0] == '+')) return false;
    if (text[0] == ' ' || text[0] == '\t') return false;
    out = static_cast<int>(v);
    return true;
}

// Splits off the first space-separated word; `rest` is what follows that one
// space (empty when there is none).
std::string_view firstWord(std::string_view s, std::string_view& rest) {
    const size_t sp = s.find(' ');
    if (sp == std::string_view::npos) {
        rest = {};
        return s;
    }
    rest = s.substr(sp + 1);
    return s.substr(0, sp);
}

using Action = std::function<void()>;

class Script {
public:
    Script(std::istream& in, nds::HeadlessBackend& backend) : in_(in), backend_(backend) {}

    // One script line per call; the end once every `after` has arrived.
    bool step() {
        if (!atEnd_) {
            std::string line;
            if (!std::getline(in_, line)) {
                atEnd_ = true;
                return true;
            }
            ++lineNumber_;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const size_t first = line.find_first_not_of(" \t");
            if (first == std::string::npos || line[first] == '#') return true;
            try {
                parse(line, true)();
            } catch (const ScriptError& e) {
                emit("error: line " + std::to_string(lineNumber_) + ": " + e.why);
                // Nothing of the program may run on: no exit routine, no
                // destructors racing a fetch's worker.
                std::_Exit(2);
            }
            return true;
        }
        if (backend_.pendingInputs() > 0) {
            backend_.runFor(5);
            return true;
        }
        if (!nds::programEnded() && nds::isWindowOpen(WindowId::MainWindow)) {
            nds::userKey(WindowId::MainWindow, nds::Key::Esc);
        }
        return false;
    }

private:
    // `topLevel`: the line itself, not the COMMAND of an `after`.
    Action parse(std::string_view line, bool topLevel) {
        std::string_view rest;
        const std::string_view cmd = firstWord(line, rest);
        const bool hasRest = line.size() > cmd.size();

        if (cmd == "type") {
            std::string_view text;
            const std::string_view name = firstWord(rest, text);
            const ControlRef c = control(name);
            if (c.kind != ControlKind::EditBox)
                throw ScriptError{"'" + std::string(name) + "' is not an edit box"};
            const nds::Text gbk(utf8ToGbk(text));
            return [c, gbk] { nds::userEditText(c.window, c.control, gbk); };
        }
        if (cmd == "click") {
            const ControlRef c = control(single(rest, "click needs a control"));
            switch (c.kind) {
                case ControlKind::PushButton:
                case ControlKind::ImageButton:
                    return [c] { nds::userClick(c.window, c.control); };
                case ControlKind::Label:
                case ControlKind::TransparentLabel: {
                    // The press lands in the middle of the label, left button down.
                    const nds::ControlForm* form = nds::formOf(c.window).control(c.control);
                    const int x = form ? form->width / 2 : 0;
                    const int y = form ? form->height / 2 : 0;
                    return [c, x, y] {
                        nds::userPressLabel(c.window, c.control, x, y, /*MK_LBUTTON*/ 1);
                    };
                }
                default:
                    throw ScriptError{"'" + std::string(rest) + "' is not a button or a label"};
            }
        }
        if (cmd == "key") {
            std::string_view keyName;
            const WindowId w = window(firstWord(rest, keyName));
            nds::Key key;
            if (keyName == "Enter") {
                key = nds::Key::Enter;
            } else if (keyName == "Esc") {
                key = nds::Key::Esc;
            } else {
                throw ScriptError{"key takes Enter or Esc, not '" + std::string(keyName) + "'"};
            }
            return [w, key] { nds::userKey(w, key); };
        }
        if (cmd == "drag") {
            std::string_view args;
            const WindowId w = window(firstWord(rest, args));
            std::string_view topText;
            const std::string_view leftText = firstWord(args, topText);
            int left = 0, top = 0;
            if (!parseInt(leftText, true, left) || !parseInt(topText, true, top)) {
                throw ScriptError{"drag takes WINDOW LEFT TOP"};
            }
            return [w, left, top] { nds::userMoveWindow(w, left, top); };
        }
        if (cmd == "link") {
            if (!hasRest) throw ScriptError{"link needs an href"};
            const nds::Text href(utf8ToGbk(rest));
            return [href] {
                nds::userPressLink(WindowId::ResultsWindow, ControlId::resultView, href);
            };
        }
        if (cmd == "wait") {
            if (!topLevel) throw ScriptError{"wait cannot arrive as input"};
            const int ms = milliseconds(rest);
            return [this, ms] { backend_.runFor(ms); };
        }
        if (cmd == "after") {
            std::string_view command;
            const int ms = milliseconds(firstWord(rest, command));
            if (command.empty()) throw ScriptError{"after needs a command"};
            Action action = parse(command, false);
            return [this, ms, action] { backend_.queueInput(ms, action); };
        }
        if (cmd == "dump") {
            if (hasRest && rest.find_first_not_of(' ') != std::string_view::npos) {
                throw ScriptError{"dump takes nothing"};
            }
            return [] { dump(); };
        }
        throw ScriptError{"unknown command '" + std::string(cmd) + "'"};
    }

    static std::string_view single(std::string_view rest, const char* missing) {
        if (rest.empty()) throw ScriptError{missing};
        if (rest.find(' ') != std::string_view::npos) {
            throw ScriptError{"too many words in '" + std::string(rest) + "'"};
        }
        return rest;
    }

    static ControlRef control(std::string_view name) {
        if (name.empty()) throw ScriptError{"a control name is missing"};
        const std::optional<ControlRef> c = findControl(name);
        if (!c) throw ScriptError{"no control named '" + std::string(name) + "'"};
        return *c;
    }

    static WindowId window(std::string_view name) {
        if (name.empty()) throw ScriptError{"a window name is missing"};
        const std::optional<WindowId> w = findWindow(name);
        if (!w) throw ScriptError{"no window named '" + std::string(name) + "'"};
        return *w;
    }

    static int milliseconds(std::string_view s) {
        int ms = 0;
        if (!parseInt(s, false, ms)) {
            throw ScriptError{"'" + std::string(s) + "' is not a number of milliseconds"};
        }
        return ms;
    }

    std::istream& in_;
    nds::HeadlessBackend& backend_;
    int lineNumber_ = 0;
    bool atEnd_ = false;
};

[[noreturn]] void usage(const std::string& why) {
    std::fprintf(stderr,
                 "netdisk-scenario: %s\nusage: netdisk-scenario [--host HOST:PORT] [SCRIPT]\n",
                 why.c_str());
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    std::string host, scriptPath;
    bool haveScript = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--host") {
            if (i + 1 >= argc) usage("--host needs HOST:PORT");
            host = argv[++i];
            if (host.empty()) usage("--host needs HOST:PORT");
        } else if (arg == "-h" || arg == "--help") {
            usage("runs the program on the headless runtime from a script");
        } else if (arg.size() > 1 && arg[0] == '-') {
            usage("unknown option " + arg);
        } else if (haveScript) {
            usage("one script only");
        } else {
            scriptPath = arg;
            haveScript = true;
        }
    }

    std::ifstream file;
    if (haveScript && scriptPath != "-") {
        file.open(scriptPath, std::ios::binary);
        if (!file) {
            emit("error: cannot read " + scriptPath + ": " + std::strerror(errno));
            return 2;
        }
    }
    std::istream& in = file.is_open() ? static_cast<std::istream&>(file) : std::cin;

    if (!host.empty()) nds::searchHost = nds::Text(utf8ToGbk(host));

    nds::HeadlessBackend backend;
    backend.onMessage = [](const nds::Text& t) { emit("message: " + shown(t.view())); };
    backend.onOpenUrl = [](const nds::Text& url) { emit("browser: " + shown(url.view())); };
    backend.onWindowOpened = [](WindowId w) { emit(std::string("opened: ") + windowName(w)); };
    backend.onWindowClosed = [](WindowId w) { emit(std::string("closed: ") + windowName(w)); };
    nds::setFetchObserver([](const nds::Text& url) { emit("fetch: " + shownUrl(url.view())); });

    Script script(in, backend);
    backend.setDriver([&script] { return script.step(); });
    const int code = nds::runProgram(backend, nds::programMain);
    emit("exit: " + std::to_string(code) +
         " releaseGlobals=" + std::to_string(nds::releaseGlobalsCount()));
    return code;
}
