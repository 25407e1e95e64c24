// The program's entry routine and its quit protocol: closing MainWindow raises
// quitRequested, and quitTimer in ResultsWindow ends the program at its next
// tick. When ResultsWindow was closed first, closing MainWindow closes the last
// window and the event loop ends by itself.
#include "shell/program.h"

#include "shell/handlers.h"

namespace nds {

int programMain() {
    initWindowRuntime(programForms(), programBindings());
    // A process that runs the program more than once (tests, the scenario
    // tool) starts every run from the same values a fresh process has.
    quitRequested = 0;
    totalPages = 0;
    lastResponse = Bytes{};
    pageText = Text{};
    initGlobals();
    registerExitRoutine(releaseGlobals);
    loadWindow(WindowId::MainWindow);
    runEventLoop();
    return 0;
}

void onMainClosing() { quitRequested = 1; }

void onQuitTimer() {
    if (quitRequested == 1) exitProgram(0);
}

}  // namespace nds
