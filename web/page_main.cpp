// The page's entry. Emscripten calls main once and takes the show's first turn to the browser (Asyncify)
// for main's end; when the show's own main really returns, at the end of the show, nothing would end the
// program. So the show's main is built as showMain (web/page.cmake), and this one ends the program with
// its exit code, as returning from main does natively: the atexit work runs (a capture's last files,
// --timedemo's report) and the page hears the code.
#include <cstdlib>

int showMain(int argc, char** argv);

int main(int argc, char** argv) { std::exit(showMain(argc, argv)); }
