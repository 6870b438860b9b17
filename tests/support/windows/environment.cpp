#include <cstdlib>

#include "test_support.h"

// The C runtime's copy, which getenv reads, and Windows' own, which SDL and child processes see: an
// empty value removes the variable from both.
void setEnvironmentVariable(const char* name, const char* value) { _putenv_s(name, value ? value : ""); }
