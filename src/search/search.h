// The search command, the reading of the result count, and paging: the
// handlers of searchButton, nextButton and prevButton and the step sequences
// they share. Everything runs on the user-interface thread.
#pragma once

#include <cstdint>
#include <string_view>

#include "text/text.h"

namespace nds {

// The result block of a service page lies after the first start marker, up to
// the next start marker, the first end marker after that, or the page's end.
// Both are matched byte for byte in the page as received (UTF-8).
inline const Bytes resultStartMarker{
    std::string_view("<div style=\"margin-top:8px; margin-bottom:2px;\">")};
inline const Bytes resultEndMarker{std::string_view("<div align=center>")};

// Fetches `url` into lastResponse and cuts it into pagePieces, then converts
// the whole page into pageText. Returns false, having stopped right after the
// first split, when the page holds no start marker or nothing after it (an
// empty body from a failed fetch included); pageText then keeps the old page.
bool loadResultPage(const Text& url);
// Loads the result block (element 1 of pagePieces) into resultView; a page
// whose first start marker is followed at once by a second one has no block
// and shows an empty one.
void showResultBlock();

// Reads the count text of pageText, sets totalPages and summaryEdit, returns
// the count text (empty when the page states no count).
Text countResults();

void onSearchClicked();
void onNextClicked();
void onPrevClicked();
// Move the page position (pageState) one page; return the new offset.
int32_t advancePage();
int32_t retreatPage();
// Back to the first page: pageState becomes {0, 1}.
void resetPagePosition();

}  // namespace nds
