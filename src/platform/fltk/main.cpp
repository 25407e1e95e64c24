// The desktop program on Linux: the program's own entry routine on the FLTK
// window backend. Takes no command line; leaves out everything else.
#include <unistd.h>

#include <cstdio>

#include "platform/fltk/fltk_backend.h"
#include "shell/program.h"
#include "shell/runtime.h"

int main() {
    nds::fltk::FltkBackend backend;
    const int code = nds::runProgram(backend, nds::programMain);
    // The exit routine has run. A worker left behind by a fetch that timed out
    // may still be inside the HTTP layer, so no destructor runs: the program
    // ends as endProcess ends it.
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(code);
}
