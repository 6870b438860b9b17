// The screen under the window system, on SDL2: its video (a display that answers, or the offscreen
// driver a headless run names), the window, full screen, its events as window messages, message boxes
// and the cursor. win32.cpp keeps Windows' side of them.
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/sdl/sdl_local.h"

struct ScreenWindow {
  SDL_Window* sdl_window;
  bool fullscreen;
  int windowed_width, windowed_height;  // the size it returns to when it leaves full screen
};

// SDL's video for the process (main thread only).
struct Screen {
  bool video_started = false;
  std::string video_problem;              // why the last startScreen found no display; empty when it found one
  bool missing_display_reported = false;  // the --display fallback is said once
};
static Screen screen;

static bool namedVideoDriver() {
  const char* named = SDL_getenv("SDL_VIDEODRIVER");
  return named && *named;
}

static bool drawsNowhere(const char* driver) {
  return driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
}

// What the environment names that SDL could not open, in words for the viewer.
static std::string unansweredDisplays() {
  std::vector<std::string> named;
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = SDL_getenv(variable);
    if (value && *value) named.push_back(std::string(variable) + "=" + value);
  }
  if (named.empty()) return "neither DISPLAY nor WAYLAND_DISPLAY is set";
  if (named.size() == 1) return named[0] + " does not answer";
  return "neither " + named[0] + " nor " + named[1] + " answers";
}

// SDL falls back to its offscreen driver when no display server answers, and a live show would then
// play for two minutes into nothing. That fallback is refused; the offscreen and dummy drivers are
// taken only when asked for by name (SDL_VIDEODRIVER, which a headless run sets itself where the system
// has the offscreen driver), and they make the run headless: nobody could see a window or answer a
// message box there.
bool startScreen(std::string* problem) {
  if (screen.video_started) return true;
  const char* headless_driver = headlessVideoDriver();
  // The offscreen driver named where it cannot make a GL context (Windows has no EGL): the run is
  // headless all the same, on the system's own driver, into hidden windows.
  if (!headless_driver && namedVideoDriver() && std::strcmp(SDL_getenv("SDL_VIDEODRIVER"), "offscreen") == 0) {
    SDL_setenv("SDL_VIDEODRIVER", "", 1);
    platform_settings.headless = true;
  }
  if (platform_settings.headless && !namedVideoDriver() && headless_driver)
    SDL_setenv("SDL_VIDEODRIVER", headless_driver, 1);
  int saved = quietStandardError();
  int failed = SDL_InitSubSystem(SDL_INIT_VIDEO);
  restoreStandardError(saved);
  if (failed != 0) {
    // A driver named by the user says why it failed; otherwise it is the display that is missing.
    std::string why = namedVideoDriver() ? std::string("SDL: ") + SDL_GetError() : unansweredDisplays();
    screen.video_problem = why;
    if (problem) *problem = why;
    return false;
  }
  if (drawsNowhere(SDL_GetCurrentVideoDriver())) {
    if (!namedVideoDriver()) {
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
      screen.video_problem = unansweredDisplays();
      if (problem) *problem = screen.video_problem;
      return false;
    }
    platform_settings.headless = true;
  }
  screen.video_problem.clear();
  screen.video_started = true;
  return true;
}

// The display asked for with --display, or the primary one when there is no such display.
static int chosenDisplay() {
  int displays = SDL_GetNumVideoDisplays();
  int asked = platform_settings.display;
  if (asked >= 0 && asked < displays) return asked;
  if (!screen.missing_display_reported)
    std::fprintf(stderr, "narvu: there is no display %d (this desktop has %d); playing on display 0\n", asked,
                 displays);
  screen.missing_display_reported = true;
  return 0;
}

SDL_Window* sdlWindowOf(HWND window) {
  ScreenWindow* shown = screenWindowOf(window);
  return shown ? shown->sdl_window : nullptr;
}

// A headless run on a driver that draws on the screen (the system's own, where there is no offscreen
// driver) keeps its window hidden: it draws into the window's GL context and shows nothing.
static bool hiddenHeadless() { return platform_settings.headless && !drawsNowhere(SDL_GetCurrentVideoDriver()); }

// Every window can be resized: the picture follows the window's size whatever style the show asks for.
ScreenWindow* openScreenWindow(const char* caption, int x, int y, int width, int height, bool visible) {
  visible = visible && !hiddenHeadless();
  // A headless run has one display of its own, whatever --display says.
  int centred = int(SDL_WINDOWPOS_CENTERED_DISPLAY(platform_settings.headless ? 0 : chosenDisplay()));
  int left = x == CW_USEDEFAULT ? centred : x;
  int top = x == CW_USEDEFAULT ? centred : y;
  Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI |
                 (visible ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN);
  SDL_Window* sdl_window = SDL_CreateWindow(caption, left, top, width, height, flags);
  if (!sdl_window) {
    std::fprintf(stderr, "narvu: cannot create the window: %s\n", SDL_GetError());
    return nullptr;
  }
  return new ScreenWindow{sdl_window, false, width, height};
}

void showScreenWindow(ScreenWindow* window) {
  if (!hiddenHeadless()) SDL_ShowWindow(window->sdl_window);
}

void closeScreenWindow(ScreenWindow* window) {
  SDL_DestroyWindow(window->sdl_window);
  delete window;
}

// Full screen is a borderless window that covers the display, on the desktop's own mode. The window is
// moved and sized to the display's bounds before SDL is asked: SDL's full-screen request is a message
// to the window manager, and without one nothing answers it, while SDL already takes the window for
// the display's size and the picture would be scaled for a window that never grew.
static bool enterFullscreen(ScreenWindow* window, int display) {
  SDL_Window* sdl_window = window->sdl_window;
  SDL_Rect bounds;
  if (SDL_GetDisplayBounds(display, &bounds) != 0) return false;
  SDL_GetWindowSize(sdl_window, &window->windowed_width, &window->windowed_height);
  SDL_SetWindowBordered(sdl_window, SDL_FALSE);
  SDL_SetWindowPosition(sdl_window, bounds.x, bounds.y);
  SDL_SetWindowSize(sdl_window, bounds.w, bounds.h);
  if (SDL_SetWindowFullscreen(sdl_window, SDL_WINDOW_FULLSCREEN_DESKTOP) != 0) return false;
  window->fullscreen = true;
  return true;
}

// Back to a framed window of the size it had, centred on the display it was full screen on.
static bool leaveFullscreen(ScreenWindow* window) {
  SDL_Window* sdl_window = window->sdl_window;
  int display = SDL_GetWindowDisplayIndex(sdl_window);
  if (SDL_SetWindowFullscreen(sdl_window, 0) != 0) return false;
  window->fullscreen = false;
  SDL_SetWindowBordered(sdl_window, SDL_TRUE);
  SDL_SetWindowSize(sdl_window, window->windowed_width, window->windowed_height);
  int centred = int(SDL_WINDOWPOS_CENTERED_DISPLAY(display < 0 ? 0 : display));
  SDL_SetWindowPosition(sdl_window, centred, centred);
  return true;
}

bool setWindowFullscreen(HWND window, bool fullscreen) {
  ScreenWindow* shown = screenWindowOf(window);
  if (!shown || platform_settings.headless) return false;
  if (shown->fullscreen == fullscreen) return true;
  bool done = fullscreen ? enterFullscreen(shown, chosenDisplay()) : leaveFullscreen(shown);
  if (!done) std::fprintf(stderr, "narvu: cannot %s full screen: %s\n", fullscreen ? "go to" : "leave", SDL_GetError());
  return done;
}

// Alt+Enter: full screen on the display the window is on now, which the viewer may have moved it to.
static void toggleFullscreen(ScreenWindow* window) {
  if (!window || platform_settings.headless) return;
  bool done = window->fullscreen ? leaveFullscreen(window)
                                 : enterFullscreen(window, std::max(SDL_GetWindowDisplayIndex(window->sdl_window), 0));
  if (!done) std::fprintf(stderr, "narvu: cannot switch full screen: %s\n", SDL_GetError());
}

// The Win32 virtual-key code of an SDL key; 0 for keys without one.
static WPARAM virtualKey(SDL_Keycode key) {
  if (key >= SDLK_a && key <= SDLK_z) return WPARAM('A' + (key - SDLK_a));
  if (key >= SDLK_0 && key <= SDLK_9) return WPARAM(key);
  if (key >= SDLK_F1 && key <= SDLK_F12) return WPARAM(0x70 + (key - SDLK_F1));
  switch (key) {
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_RETURN: return 0x0D;
    case SDLK_BACKSPACE: return 0x08;
    case SDLK_TAB: return 0x09;
    case SDLK_HOME: return VK_HOME;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_UP: return 0x26;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_DOWN: return 0x28;
    case SDLK_LSHIFT: case SDLK_RSHIFT: return 0x10;
    case SDLK_LCTRL: case SDLK_RCTRL: return 0x11;
    case SDLK_LALT: case SDLK_RALT: return 0x12;
    default: return 0;
  }
}

// Moves what SDL has seen into the windows' queues. There is one window, so every event is its.
void pumpScreenEvents() {
  if (!screen.video_started) return;
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
    HWND window = currentWindow();
    bool alt_enter = event.type == SDL_KEYDOWN && (event.key.keysym.mod & KMOD_ALT) &&
                     (event.key.keysym.sym == SDLK_RETURN || event.key.keysym.sym == SDLK_KP_ENTER);
    if (alt_enter) {
      // The window system's key, not the show's: it never reaches the window's queue.
      if (!event.key.repeat) toggleFullscreen(screenWindowOf(window));
    } else if (event.type == SDL_KEYDOWN) {
      WPARAM key = virtualKey(event.key.keysym.sym);
      if (key) postWindowMessage(window, WM_KEYDOWN, key, event.key.repeat ? 0x40000001 : 1);
    } else if (event.type == SDL_QUIT ||
               (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE)) {
      postWindowMessage(window, WM_CLOSE, 0, 0);
    }
  }
}

void pressKeyboardKey(WPARAM virtual_key, bool alt) {
  if (!startScreen(nullptr)) return;
  // The SDL key behind the virtual key: the printable keys are their characters, the others their
  // scancodes with SDL's mask.
  SDL_Keycode key = SDLK_UNKNOWN;
  for (SDL_Keycode candidate = 1; candidate < 128 && key == SDLK_UNKNOWN; ++candidate)
    if (virtualKey(candidate) == virtual_key) key = candidate;
  for (int code = 0; code < SDL_NUM_SCANCODES && key == SDLK_UNKNOWN; ++code)
    if (virtualKey(SDL_SCANCODE_TO_KEYCODE(code)) == virtual_key) key = SDL_SCANCODE_TO_KEYCODE(code);
  SDL_Event event = {};
  event.type = SDL_KEYDOWN;
  event.key.state = SDL_PRESSED;
  event.key.keysym.sym = key;
  event.key.keysym.mod = alt ? KMOD_LALT : KMOD_NONE;
  SDL_PushEvent(&event);
}

// An end signal while a box waits: the box's process goes (where the box has one), and so does this
// one, with the exit code of a start-up that failed.
static void endWhileBoxWaits(int signal_number, std::thread* shower, const std::atomic<bool>& closed) {
  endChildProcesses();
  std::fprintf(stderr, "narvu: ended by %s while a message box was open\n", endSignalName(signal_number));
  std::fflush(stderr);
  for (int waited = 0; waited < 50 && !closed; ++waited) Sleep(10);
  if (!closed) std::_Exit(1);  // the box could not be closed: leave it to its own thread's end
  shower->join();
  std::exit(1);
}

// SDL waits for the box without looking at signals; so it waits on a thread of its own, and the main
// thread, which the end signals reach, watches both.
static int showBoxUntilEndSignal(const SDL_MessageBoxData& box, int* pressed) {
  std::atomic<bool> closed{false};
  int result = -1;
  std::thread shower([&] {
    leaveEndSignalsToMainThread();
    result = SDL_ShowMessageBox(&box, pressed);
    closed = true;
  });
  while (!closed) {
    if (int signal_number = endSignal()) endWhileBoxWaits(signal_number, &shower, closed);
    Sleep(20);
  }
  shower.join();
  return result;
}

int showScreenBox(const char* caption, const char* text, UINT type) {
  bool yes_no = (type & 0xF) == MB_YESNO;
  SDL_MessageBoxButtonData yes_no_buttons[] = {
      {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, IDYES, "Yes"},
      {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, IDNO, "No"},
  };
  SDL_MessageBoxButtonData ok_button[] = {
      {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, IDOK, "OK"},
  };
  SDL_MessageBoxData box = {};
  box.flags = (type & MB_ICONERROR) ? SDL_MESSAGEBOX_ERROR : SDL_MESSAGEBOX_INFORMATION;
  box.title = caption;
  box.message = text;
  box.numbuttons = yes_no ? 2 : 1;
  box.buttons = yes_no ? yes_no_buttons : ok_button;
  int pressed = 0;
  if (showBoxUntilEndSignal(box, &pressed) != 0) return 0;
  return pressed < 0 ? -1 : pressed;
}

// In a window the viewer needs the cursor to reach the window's frame and the rest of the desktop, so
// it is hidden only while full screen.
void showScreenCursor(HWND window, bool shown) {
  if (!screen.video_started) return;
  ScreenWindow* screen_window = screenWindowOf(window);
  bool fullscreen = screen_window && screen_window->fullscreen;
  SDL_ShowCursor(shown || !fullscreen ? SDL_ENABLE : SDL_DISABLE);
}

// SDL's audio thread and the display need nothing of the main thread between frames.
void frameEnded() {}

// Whoever starts the show natively is there to watch it.
void awaitViewer() {}

// The show's window has no controls besides the keys.
void showPlayPosition(DWORD, bool) {}
