// The native program's entry.
#include "shell/shell.h"

int main(int argc, char** argv) { return runNarvu(argc, argv); }
