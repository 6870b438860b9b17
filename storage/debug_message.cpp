// The debug trace sink. The show sends fixed phrases here at every step worth tracing; they are
// discarded, so tracing costs nothing and changes nothing. Tests may look at them through the hook.
#include "storage/storage.h"

DebugTraceHook debug_trace_hook = nullptr;

void debugMessage(const char* text, const char* caption) {
  if (debug_trace_hook) debug_trace_hook(text, caption);
}
