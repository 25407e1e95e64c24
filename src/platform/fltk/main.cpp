// The desktop program on Linux: the program's own entry routine on the FLTK
// window backend. Takes no command line; leaves out everything else.
#include "platform/fltk/fltk_backend.h"
#include "shell/program.h"
#include "shell/runtime.h"

int main() {
    nds::fltk::FltkBackend backend;
    return nds::runProgram(backend, nds::programMain);
}
