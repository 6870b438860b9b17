// The browser's turns in the page (see web_local.h), and Sleep, which is one.
#include <emscripten.h>

#include "platform/web/web_local.h"

// After a presentation the browser shows the canvas at its next animation frame; waiting for it is the
// page's vertical sync. A turn without waiting goes round the event loop once, through a message to
// itself (a timer would be held back to 4 ms after a few turns). Both are Asyncify imports
// (web/page.cmake). The show resumes from them as from emscripten's own callbacks: an exit() in the show
// ends the program by throwing ExitStatus, which ends here quietly. The functions and the channel are
// made once, not at every frame.
EM_JS(void, prepareTurns, (), {
  const turns = (Module.narvuTurns = {wakeUp: null, channel: new MessageChannel()});
  turns.resume = () => {
    const wakeUp = turns.wakeUp;
    turns.wakeUp = null;
    try { wakeUp(); } catch (thrown) { if (!(thrown instanceof ExitStatus)) throw thrown; }
  };
  turns.channel.port1.onmessage = turns.resume;
  turns.onFrame = (wakeUp) => {
    turns.wakeUp = wakeUp;
    requestAnimationFrame(turns.resume);
  };
  turns.onTask = (wakeUp) => {
    turns.wakeUp = wakeUp;
    turns.channel.port2.postMessage(null);
  };
});
EM_JS(void, nextAnimationFrame, (), { Asyncify.handleSleep(Module.narvuTurns.onFrame); });
EM_JS(void, nextTask, (), { Asyncify.handleSleep(Module.narvuTurns.onTask); });

// A run of frames that presents nothing (the show's tail, 1.7 s) still gives a turn this often, so that
// the music is fed.
static const double kLongestWithoutTurnMs = 100;
static double last_turn_ms = 0;

void giveBrowserTurn(bool wait_for_display) {
  static bool prepared = false;
  if (!prepared) prepareTurns();
  prepared = true;
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
