// The handlers of the application shell that the binding table names:
// start-up, docking, animation, the two labels, links in resultView and the
// quit protocol. The search and paging handlers are in search/search.h.
#pragma once

#include "text/text.h"

namespace nds {

void onMainCreated();
void onResultsCreated();
void onMainMoved();
void onResultsMoved();
void onSearchTimer();
void onPageTimer();
void onAboutClicked(int x, int y, int keys);
void onAuthorSiteClicked(int x, int y, int keys);
void onMainClosing();
void onQuitTimer();

// A link pressed in resultView: only http:// and https:// URLs reach the
// browser; an href without a scheme is resolved against the search service's
// home page; anything else is ignored.
void onResultLinkPressed(const Text& href);
// The URL the link rule hands to openUrl for `href`, or the empty text when
// the href is ignored.
Text browserUrlForLink(const Text& href);

// pageState's element `index` (1-based), 0 when the array is shorter.
int32_t pageStateElement(int index);

}  // namespace nds
