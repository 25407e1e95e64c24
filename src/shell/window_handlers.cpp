// The handlers of the two windows: start-up placing, docking, the progress
// animation, the about and site labels, and the rule for links pressed in
// resultView.
#include <string>
#include <vector>

#include "search/search.h"
#include "shell/handlers.h"
#include "shell/program.h"
#include "shell/texts.h"

namespace nds {

namespace {

constexpr WindowId M = WindowId::MainWindow;
constexpr WindowId R = WindowId::ResultsWindow;

// ResultsWindow's outer corner stays this far right of and above MainWindow's.
constexpr int kDockDx = 296;
constexpr int kDockDy = -3;

void writeInt(WindowId w, ControlId c, Property p, int32_t v) { writeProperty(w, c, p, v); }

// Each tick moves the bar one step; reaching the end starts the sweep again.
void animate(WindowId w, ControlId bar) {
    writeInt(w, bar, Property::position, readInt(w, bar, Property::position) + 1);
    if (readInt(w, bar, Property::position) >= 100) writeInt(w, bar, Property::position, 0);
}

}  // namespace

void onMainCreated() {
    // MainWindow exists but is not shown yet, so the notice is seen alone.
    showMessage(kStartupNotice);
    quitRequested = 0;
    setSkinStyle(1);
    writeInt(M, ControlId::self, Property::top, 40);
    writeInt(M, ControlId::self, Property::left, 568);
    loadWindow(R);
}

void onResultsCreated() {
    resetPagePosition();
    writeInt(R, ControlId::prevButton, Property::disabled, 1);
    writeProperty(R, ControlId::self, Property::caption, Text{kResultsCaption});
    writeProperty(R, ControlId::pageLabel, Property::caption,
                  concatText(kPageLabelPrefix, toText(pageStateElement(2)), kPageLabelSuffix));
    writeInt(R, ControlId::self, Property::top, 37);
    writeInt(R, ControlId::self, Property::left, 864);
}

// Docking. Each coordinate is read right before the write that uses it, top
// first: the write of the other window's top runs that window's handler, which
// may move this window again before its left is read.
void onMainMoved() {
    writeInt(R, ControlId::self, Property::top,
             truncateToInteger(double(readInt(M, ControlId::self, Property::top)) + kDockDy));
    writeInt(R, ControlId::self, Property::left,
             truncateToInteger(double(readInt(M, ControlId::self, Property::left)) + kDockDx));
}

void onResultsMoved() {
    writeInt(M, ControlId::self, Property::top,
             truncateToInteger(double(readInt(R, ControlId::self, Property::top)) - kDockDy));
    writeInt(M, ControlId::self, Property::left,
             truncateToInteger(double(readInt(R, ControlId::self, Property::left)) - kDockDx));
}

void onSearchTimer() { animate(M, ControlId::searchProgress); }

void onPageTimer() { animate(R, ControlId::pageProgress); }

void onAboutClicked(int, int, int) { showMessage(aboutText()); }

void onAuthorSiteClicked(int, int, int) { openUrl(authorSiteUrl()); }

// Links. The view would hand any href to the system shell, which also starts
// programs and opens local files; a result page is not trusted that far.

namespace {

bool isAlpha(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

std::string lowerAscii(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    return s;
}

// Length of the scheme of `s` (the part before its ':'), or 0 when `s` has
// none: a letter, then letters, digits, '+', '-' or '.'.
size_t schemeLength(const std::string& s) {
    if (s.empty() || !isAlpha(static_cast<unsigned char>(s[0]))) return 0;
    for (size_t i = 1; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == ':') return i;
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return 0;
    }
    return 0;
}

// Whether the part after "//" names a host: something before the path, query
// or fragment begins.
bool hasAuthority(const std::string& afterSlashes) {
    return !afterSlashes.empty() && afterSlashes.find_first_of("/?#") != 0;
}

// A path of the form "/...", with "." and ".." segments taken out.
std::string removeDotSegments(const std::string& path) {
    std::vector<std::string> segments;
    size_t start = 1;
    while (true) {
        size_t slash = path.find('/', start);
        segments.push_back(path.substr(start, slash == std::string::npos ? slash : slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    std::vector<std::string> kept;
    bool trailingSlash = false;
    for (size_t i = 0; i < segments.size(); ++i) {
        const bool last = i + 1 == segments.size();
        if (segments[i] == "." || segments[i] == "..") {
            if (segments[i] == ".." && !kept.empty()) kept.pop_back();
            if (last) trailingSlash = true;
            continue;
        }
        kept.push_back(segments[i]);
    }
    std::string out;
    for (const std::string& s : kept) out += "/" + s;
    if (out.empty() || trailingSlash) out += "/";
    return out;
}

}  // namespace

Text browserUrlForLink(const Text& href) {
    std::string s = href.str();
    // As browsers do: no leading or trailing blanks and controls, no tabs or
    // line breaks inside. Any other control byte spoils the link.
    size_t first = 0, last = s.size();
    while (first < last && static_cast<unsigned char>(s[first]) <= 0x20) ++first;
    while (last > first && static_cast<unsigned char>(s[last - 1]) <= 0x20) --last;
    std::string url;
    for (size_t i = first; i < last; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '\t' || c == '\r' || c == '\n') continue;
        if (c < 0x20 || c == 0x7F) return Text{};
        url += char(c);
    }
    if (url.empty()) return Text{};

    if (size_t n = schemeLength(url); n > 0) {
        const std::string scheme = lowerAscii(url.substr(0, n));
        if (scheme != "http" && scheme != "https") return Text{};
        if (url.compare(n + 1, 2, "//") != 0 || !hasAuthority(url.substr(n + 3))) return Text{};
        return Text{url};
    }

    // A reference without a scheme, against "http://" + searchHost + "/". A
    // backslash counts as a slash, as it does for web addresses in browsers
    // (so "\\server\share" can never name a file share); the second byte of a
    // double-byte character is left alone.
    for (size_t i = 0; i < url.size(); ++i) {
        if (static_cast<unsigned char>(url[i]) >= 0x80) {
            ++i;
        } else if (url[i] == '\\') {
            url[i] = '/';
        }
    }
    if (url.compare(0, 2, "//") == 0) {
        // Same scheme as the page, which came over http.
        if (!hasAuthority(url.substr(2))) return Text{};
        return Text{"http:" + url};
    }
    const size_t tail = url.find_first_of("?#");
    std::string path = url.substr(0, tail);
    const std::string rest = tail == std::string::npos ? "" : url.substr(tail);
    if (path.empty() || path[0] != '/') path = "/" + path;
    return concatText("http://", searchHost, Text{removeDotSegments(path) + rest});
}

void onResultLinkPressed(const Text& href) {
    Text url = browserUrlForLink(href);
    if (!url.empty()) openUrl(url);
}

}  // namespace nds
