// The binding table: every handled event of the two windows and their
// controls, and its handler. Events not listed here have no handler.
#include <vector>

#include "search/search.h"
#include "shell/handlers.h"
#include "shell/program.h"

namespace nds {

namespace {

Binding on(WindowId w, ControlId c, Event e, void (*handler)()) {
    Binding b{w, c, e};
    b.handler = handler;
    return b;
}

Binding onPress(WindowId w, ControlId c, void (*handler)(int, int, int)) {
    Binding b{w, c, Event::leftButtonPressed};
    b.pressHandler = handler;
    return b;
}

Binding onLink(WindowId w, ControlId c, void (*handler)(const Text&)) {
    Binding b{w, c, Event::linkPressed};
    b.linkHandler = handler;
    return b;
}

const std::vector<Binding>& table() {
    using enum ControlId;
    constexpr WindowId M = WindowId::MainWindow;
    constexpr WindowId R = WindowId::ResultsWindow;
    static const std::vector<Binding> all = {
        on(M, self, Event::created, onMainCreated),
        on(M, self, Event::positionChanged, onMainMoved),
        on(M, self, Event::willBeDestroyed, onMainClosing),
        on(M, searchButton, Event::clicked, onSearchClicked),
        on(M, searchTimer, Event::tick, onSearchTimer),
        onPress(M, aboutLabel, onAboutClicked),
        onPress(M, authorSiteLabel, onAuthorSiteClicked),
        on(R, self, Event::created, onResultsCreated),
        on(R, self, Event::positionChanged, onResultsMoved),
        on(R, nextButton, Event::clicked, onNextClicked),
        on(R, prevButton, Event::clicked, onPrevClicked),
        on(R, pageTimer, Event::tick, onPageTimer),
        on(R, quitTimer, Event::tick, onQuitTimer),
        // The view hands a pressed link to the program, which decides what may
        // reach the browser.
        onLink(R, resultView, onResultLinkPressed),
    };
    return all;
}

}  // namespace

std::span<const Binding> programBindings() { return table(); }

}  // namespace nds
