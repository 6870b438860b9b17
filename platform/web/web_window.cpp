// The screen under the window system in the page: the canvas the page made, the show's keys through
// emscripten's HTML5 interface, the page's controls, and the tab's visibility. win32.cpp keeps Windows'
// side.
//
// Events arrive while the show gives the browser a turn (web_local.h), each handled at once: a key
// becomes a message in the window's queue, which the show takes at its next pass. The page
// (web/narvu-controls.js) keeps the keys of a video page for itself (full screen, mute, the J, K, L and
// digit seeks) and the keys that belong to a focused control; its control bar seeks and pauses through
// narvuViewerSeek and narvuViewerPause, and shows what showPlayPosition tells it. A hidden tab pauses
// the clock and the sound together, as Space does; showing it again goes on.
#include <emscripten.h>
#include <emscripten/html5.h>

#include "platform/web/web_local.h"

const char kCanvasSelector[] = "#screen";

struct ScreenWindow {
  bool cursor_hidden;
};

struct PageScreen {
  bool listening = false;
  bool paused_while_hidden = false;  // the clock and sound were paused because the tab went hidden
};
static PageScreen page;

// The Win32 virtual-key code of a browser key, from its keyCode (which browsers took from Windows'
// codes); 0 for keys the show has no code for, as natively.
static WPARAM virtualKey(unsigned long code) {
  bool letter_or_digit = (code >= 'A' && code <= 'Z') || (code >= '0' && code <= '9');
  bool function_key = code >= 0x70 && code <= 0x7B;  // F1 to F12
  switch (code) {
    case 0x08: case 0x09: case 0x0D: case 0x10: case 0x11: case 0x12: case 0x1B: case 0x20:
    case 0x24: case 0x25: case 0x26: case 0x27: case 0x28:
      return WPARAM(code);
    default:
      return letter_or_digit || function_key ? WPARAM(code) : 0;
  }
}

// True: the browser does nothing more with the key (no scrolling on Space and the arrows).
static EM_BOOL keyDown(int, const EmscriptenKeyboardEvent* event, void*) {
  WPARAM key = virtualKey(event->keyCode);
  // Keys with Ctrl or the system's own key are the browser's (reloading, closing the tab).
  if (!key || event->ctrlKey || event->metaKey) return EM_FALSE;
  postWindowMessage(currentWindow(), WM_KEYDOWN, key, event->repeat ? 0x40000001 : 1);
  return EM_TRUE;
}

// Only the live clock pauses; a capture's virtual clock is its own.
static EM_BOOL visibilityChanged(int, const EmscriptenVisibilityChangeEvent* event, void*) {
  if (event->hidden && !clockPaused()) {
    pauseClock(true);
    suspendSoundOutput(true);
    page.paused_while_hidden = true;
  } else if (!event->hidden && page.paused_while_hidden) {
    page.paused_while_hidden = false;
    pauseClock(false);
    suspendSoundOutput(false);
  }
  return EM_FALSE;
}

bool startScreen(std::string*) {
  if (page.listening) return true;
  emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_TRUE, keyDown);
  emscripten_set_visibilitychange_callback(nullptr, EM_TRUE, visibilityChanged);
  page.listening = true;
  return true;
}

// The window is the canvas the page made, at the size the page's layout gives it.
ScreenWindow* openScreenWindow(const char*, int, int, int, int, bool) { return new ScreenWindow{false}; }
void showScreenWindow(ScreenWindow*) {}
void closeScreenWindow(ScreenWindow* window) { delete window; }

// The events came in during the browser's turns and are queued already.
void pumpScreenEvents() {}

// The page has no box that waits: the caller writes the text on standard error, which the page shows.
// A question (choosedrv's, whether to use a device) is answered yes without asking: the page has one
// device, the browser's WebGL 2.
int showScreenBox(const char*, const char*, UINT type) { return (type & 0xF) == MB_YESNO ? IDYES : 0; }

EM_JS(void, setCanvasCursor, (const char* selector, int hidden), {
  const canvas = document.querySelector(UTF8ToString(selector));
  if (canvas) canvas.style.cursor = hidden ? "none" : "";
});

// Hidden over the picture only while it is full screen, as natively.
void showScreenCursor(HWND window, bool shown) {
  ScreenWindow* screen = screenWindowOf(window);
  if (!screen) return;
  EmscriptenFullscreenChangeEvent status;
  bool fullscreen = emscripten_get_fullscreen_status(&status) == EMSCRIPTEN_RESULT_SUCCESS && status.isFullscreen;
  bool hide = !shown && fullscreen;
  if (hide == screen->cursor_hidden) return;
  setCanvasCursor(kCanvasSelector, hide);
  screen->cursor_hidden = hide;
}

// A page goes full screen only inside the viewer's own event, which the page's script takes.
bool setWindowFullscreen(HWND, bool) { return false; }

// The page that started the show before its visitor pressed Start (Module.narvuStart, a promise the
// click resolves) learns that the show is ready, and the show waits for the click; an Asyncify import
// (web/page.cmake). Any other run goes on at once.
EM_JS(void, waitForStart, (), {
  if (!Module.narvuStart) return;
  if (Module.narvuReady) Module.narvuReady();
  Asyncify.handleSleep(wakeUp => Module.narvuStart.then(() => {
    try { wakeUp(); } catch (thrown) { if (!(thrown instanceof ExitStatus)) throw thrown; }
  }));
});

// The browser's GPU process works through what the start-up asked of it (uploads, programs, and the
// preparation's draws, which build SwiftShader's code) after the show has asked: a timeline started
// before it is done would wait seconds for its first frame, with the music already going.
void awaitViewer() {
  waitUntilGlCaughtUp();
  waitForStart();
}

EM_JS(void, tellPlayPosition, (DWORD moment_ms, int paused), {
  if (Module.narvuPosition) Module.narvuPosition(moment_ms, paused != 0);
});

void showPlayPosition(DWORD moment_ms, bool paused) { tellPlayPosition(moment_ms, paused); }

// The page's control bar: a seek and a pause, queued as the show's keys are. Nothing before the show's
// window is there, nor after it went.
extern "C" EMSCRIPTEN_KEEPALIVE void narvuViewerSeek(int moment_ms) {
  if (HWND window = currentWindow())
    postWindowMessage(window, WM_VIEWER_SEEK, WPARAM(moment_ms < 0 ? 0 : moment_ms), 0);
}

extern "C" EMSCRIPTEN_KEEPALIVE void narvuViewerPause(int paused) {
  if (HWND window = currentWindow()) postWindowMessage(window, WM_VIEWER_PAUSE, paused ? 1 : 0, 0);
}
