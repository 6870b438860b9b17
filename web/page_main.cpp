// The page's entry. Emscripten calls main once and takes the show's first turn to the browser (Asyncify)
// for main's end; when the show really returns, at the end of the show, nothing would end the program.
// So this main ends the program with the show's exit code, as returning from main does natively: the
// atexit work runs (a capture's last files, --timedemo's report) and the page hears the code.
#include <cstdlib>

#include "shell/shell.h"

int main(int argc, char** argv) { std::exit(runNarvu(argc, argv)); }
