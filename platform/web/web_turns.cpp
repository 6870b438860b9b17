// The browser's turns in the page (see web_local.h), and Sleep, which is one.
#include <emscripten.h>

#include "platform/web/web_local.h"

// After a presentation the browser shows the canvas at its next animation frame; waiting for it is the
// page's vertical sync. A turn without waiting goes round the event loop once, through a message to
// itself (a timer would be held back to 4 ms after a few turns). Both are Asyncify imports
// (web/page.cmake). The show resumes from them as from emscripten's own callbacks: an exit() in the show
// ends the program by throwing ExitStatus, which ends here quietly.
EM_JS(void, nextAnimationFrame, (), {
  Asyncify.handleSleep(wakeUp => requestAnimationFrame(() => {
    try { wakeUp(); } catch (thrown) { if (!(thrown instanceof ExitStatus)) throw thrown; }
  }));
});
EM_JS(void, nextTask, (), {
  Asyncify.handleSleep(wakeUp => {
    const channel = new MessageChannel();
    channel.port1.onmessage = () => {
      try { wakeUp(); } catch (thrown) { if (!(thrown instanceof ExitStatus)) throw thrown; }
    };
    channel.port2.postMessage(null);
  });
});

// A run of frames that presents nothing (the show's tail, 1.7 s) still gives a turn this often, so that
// the music, fed 186 ms ahead, never runs dry.
static const double kLongestWithoutTurnMs = 100;
static double last_turn_ms = 0;

void giveBrowserTurn(bool wait_for_display) {
  if (wait_for_display)
    nextAnimationFrame();
  else
    nextTask();
  last_turn_ms = emscripten_get_now();
  feedSoundOutput();
}

void frameEnded() {
  if (emscripten_get_now() - last_turn_ms > kLongestWithoutTurnMs) giveBrowserTurn(false);
}

void Sleep(DWORD milliseconds) {
  emscripten_sleep(milliseconds);
  last_turn_ms = emscripten_get_now();
  feedSoundOutput();
}
