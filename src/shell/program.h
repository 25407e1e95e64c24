// The program itself: its entry routine, the shared globals of the whole run,
// the built-in configuration, and the window forms and bindings it runs with.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "shell/form_types.h"
#include "shell/runtime.h"
#include "text/text.h"

namespace nds {

// Shared globals, owned here and replaced by the handlers. Arrays are 1-based
// in the program's terms: element 1 is index 0 here.
extern int32_t quitRequested;
extern int32_t totalPages;
extern std::vector<int32_t> pageState;  // element 1 offset, element 2 pageNumber
extern Bytes lastResponse;
extern std::vector<Bytes> pagePieces;
extern Text pageText;

// Built-in configuration (GBK texts). searchHost may be replaced before
// programMain runs (the scenario tool's --host).
extern Text searchHost;
Text authorSiteUrl();
Text aboutText();

int programMain();
void initGlobals();
void releaseGlobals();
// How often releaseGlobals has run in this process.
int releaseGlobalsCount();

std::span<const WindowForm> programForms();
std::span<const Binding> programBindings();

}  // namespace nds
