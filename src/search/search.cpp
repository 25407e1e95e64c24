// The search command and the two step sequences it shares with paging: fetch
// and cut a result page, and show its result block in resultView.
#include "search/search.h"

#include "fetch/fetch.h"
#include "shell/program.h"
#include "shell/texts.h"
#include "text/ansi.h"

namespace nds {

namespace {

constexpr WindowId M = WindowId::MainWindow;
constexpr WindowId R = WindowId::ResultsWindow;

void writeInt(WindowId w, ControlId c, Property p, int32_t v) { writeProperty(w, c, p, v); }

}  // namespace

bool loadResultPage(const Text& url) {
    lastResponse = fetchUrl(url);
    pagePieces = splitBytes(lastResponse, resultStartMarker);
    if (pagePieces.size() < 2) return false;
    // The result block and what follows it, cut at the end marker.
    pagePieces = splitBytes(pagePieces[1], resultEndMarker);
    pageText = utf8ToAnsi(lastResponse);
    return true;
}

void showResultBlock() {
    // No piece at all: the block began with a second start marker, so it is
    // empty, the same as a block that ends at once.
    Bytes html;
    if (!pagePieces.empty()) html = textToBytes(utf8ToAnsi(pagePieces[0]));
    writeProperty(R, ControlId::resultView, Property::htmlContent, html);
}

void onSearchClicked() {
    const Text keyword = readText(M, ControlId::keywordEdit, Property::text);
    if (compareText(keyword, "") == 0) {
        showMessage(kMsgEnterKeyword);
        return;
    }
    writeProperty(M, ControlId::statusLabel, Property::caption, Text{kStatusSearching});
    writeInt(M, ControlId::searchTimer, Property::timerPeriod, 10);

    // The keyword goes into the URL as typed: its GBK bytes, unescaped.
    const Text url = concatText("http://", searchHost, "/s?q=", keyword);
    const bool pageHasBlock = loadResultPage(url);

    // MainWindow was closed while the page loaded: the program is ending, and
    // nothing more is shown or opened.
    if (quitRequested == 1) return;

    if (!pageHasBlock) {
        writeInt(M, ControlId::searchTimer, Property::timerPeriod, 0);
        writeInt(M, ControlId::searchProgress, Property::position, 0);
        writeProperty(M, ControlId::statusLabel, Property::caption, Text{kStatusFailed});
        return;
    }

    loadWindow(R);
    writeProperty(R, ControlId::pageLabel, Property::caption, Text{kPageLabelFirst});
    resetPagePosition();
    const Text count = countResults();
    if (compareText(count, "0") == 0) {
        // The animation goes on while the box is open.
        showMessage(kMsgNothingFound);
        writeProperty(M, ControlId::statusLabel, Property::caption, Text{kStatusDone});
        writeInt(M, ControlId::searchTimer, Property::timerPeriod, 0);
        writeInt(M, ControlId::searchProgress, Property::position, 100);
        return;
    }
    showResultBlock();
    writeProperty(M, ControlId::statusLabel, Property::caption, Text{kStatusDone});
    writeInt(M, ControlId::searchTimer, Property::timerPeriod, 0);
    writeInt(M, ControlId::searchProgress, Property::position, 100);
    writeInt(M, ControlId::searchProgress, Property::position, 0);
}

}  // namespace nds
