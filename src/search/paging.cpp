// Paging: prevButton and nextButton step through the service's result pages,
// ten results a page, for the keyword keywordEdit holds at the time.
#include "search/search.h"
#include "shell/handlers.h"
#include "shell/program.h"
#include "shell/texts.h"

namespace nds {

namespace {

constexpr WindowId M = WindowId::MainWindow;
constexpr WindowId R = WindowId::ResultsWindow;
constexpr int32_t kPageSize = 10;

void writeInt(WindowId w, ControlId c, Property p, int32_t v) { writeProperty(w, c, p, v); }

// pageState has its two elements from onResultsCreated on; before that no
// step can run, but a short array must still not be indexed past its end.
void ensurePosition() {
    if (pageState.size() < 2) pageState.resize(2, 0);
}

// Counts every move and reset of the page position, so that a step can tell
// whether a handler that ran during its wait has set the position since.
uint64_t positionChanges = 0;

enum class Direction { Forward, Backward };

// Steps 4 to 10 of a page step, after the position has moved to `offset`.
void finishPageStep(int32_t offset, Direction direction) {
    const Text keyword =
        isWindowOpen(M) ? readText(M, ControlId::keywordEdit, Property::text) : Text{};
    const Text url = concatText("http://", searchHost, "/s?q=", keyword, "&p=", toText(offset));
    const uint64_t movedAt = positionChanges;

    const bool pageHasBlock = loadResultPage(url);
    // MainWindow was closed during the wait: the program is ending.
    if (quitRequested == 1) return;

    if (!pageHasBlock) {
        // Nothing to show: the step is undone, unless a handler that ran
        // during the wait has set the position since (a search, another step).
        if (positionChanges == movedAt) {
            direction == Direction::Forward ? retreatPage() : advancePage();
        }
        writeInt(R, ControlId::pageTimer, Property::timerPeriod, 0);
        writeInt(R, ControlId::pageProgress, Property::position, 0);
        return;
    }

    showResultBlock();
    writeProperty(R, ControlId::pageLabel, Property::caption,
                  concatText(kPageLabelPrefix, toText(pageStateElement(2)), kPageLabelSuffix));
    if (direction == Direction::Forward) writeInt(R, ControlId::prevButton, Property::disabled, 0);
    writeInt(R, ControlId::pageTimer, Property::timerPeriod, 0);
    writeInt(R, ControlId::pageProgress, Property::position, 100);
    writeInt(R, ControlId::pageProgress, Property::position, 0);
}

}  // namespace

int32_t advancePage() {
    ensurePosition();
    ++positionChanges;
    pageState[0] = truncateToInteger(double(pageState[0]) + kPageSize);
    pageState[1] = truncateToInteger(double(pageState[1]) + 1);
    return pageState[0];
}

int32_t retreatPage() {
    ensurePosition();
    ++positionChanges;
    pageState[0] = truncateToInteger(double(pageState[0]) - kPageSize);
    pageState[1] = truncateToInteger(double(pageState[1]) - 1);
    return pageState[0];
}

void onNextClicked() {
    // totalPages bounds forward steps; paging never recounts.
    if (totalPages == 0 || pageStateElement(2) == totalPages) {
        showMessage(kMsgNoNextPage);
        return;
    }
    writeInt(R, ControlId::pageTimer, Property::timerPeriod, 10);
    finishPageStep(advancePage(), Direction::Forward);
}

void onPrevClicked() {
    if (pageStateElement(2) == 1) {
        showMessage(kMsgNoPrevPage);
        return;
    }
    writeInt(R, ControlId::pageTimer, Property::timerPeriod, 10);
    finishPageStep(retreatPage(), Direction::Backward);
}

void resetPagePosition() {
    pageState = {0, 1};
    ++positionChanges;
}

}  // namespace nds
