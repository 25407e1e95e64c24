// The shared globals of the whole run and the built-in configuration. The
// handlers replace the globals; releaseGlobals, the exit routine, releases
// them once at the end.
#include "shell/config.h"
#include "shell/handlers.h"
#include "shell/program.h"

namespace nds {

int32_t quitRequested = 0;
int32_t totalPages = 0;
std::vector<int32_t> pageState;
Bytes lastResponse;
std::vector<Bytes> pagePieces;
Text pageText;

Text searchHost{config::kSearchHost};

namespace {
int releaseRuns = 0;
}  // namespace

Text authorSiteUrl() {
    Text configured{config::kAuthorSiteUrl};
    if (!configured.empty()) return configured;
    // No site of its own: the search service's home page, for the host this
    // run really uses.
    return concatText("http://", searchHost, "/");
}

Text aboutText() { return Text{config::kAboutText}; }

void initGlobals() {
    // Placeholders: onResultsCreated replaces pageState during start-up, the
    // first search replaces pagePieces.
    pageState.assign(10, 0);
    pagePieces.assign(15, Bytes{});
}

void releaseGlobals() {
    ++releaseRuns;
    std::vector<int32_t>().swap(pageState);
    if (!lastResponse.empty()) lastResponse = Bytes{};
    for (Bytes& piece : pagePieces) {
        if (!piece.empty()) piece = Bytes{};
    }
    std::vector<Bytes>().swap(pagePieces);
    if (!pageText.empty()) pageText = Text{};
}

int releaseGlobalsCount() { return releaseRuns; }

int32_t pageStateElement(int index) {
    if (index < 1 || static_cast<size_t>(index) > pageState.size()) return 0;
    return pageState[index - 1];
}

}  // namespace nds
