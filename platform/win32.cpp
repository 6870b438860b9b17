// The Windows calls the show makes, on SDL2: one window class, one window, a message queue fed by SDL
// events, message boxes, the cursor and the executable's path.
//
// Messages follow Windows: a key press is WM_KEYDOWN with the virtual-key code, the close box is
// WM_CLOSE, PeekMessageA takes at most one message, and DefWindowProcA(WM_CLOSE) destroys the window,
// which calls the window procedure with WM_DESTROY before it returns.
#include <SDL.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/platform_local.h"

struct WindowRecord {
  SDL_Window* sdl_window;
  WNDPROC procedure;
  std::deque<MSG> queue;
  bool destroyed;
};

struct WindowClass {
  std::string name;
  WNDPROC procedure;
};

static std::vector<WindowClass> window_classes;
static std::vector<WindowRecord*> windows;
static MessageBoxResponder message_box_responder = nullptr;
static bool video_started = false;

// A display is there unless SDL finds no video driver at all. The offscreen and dummy drivers draw
// nowhere a person could answer a message box, so they count as headless.
static bool startVideo() {
  if (video_started) return true;
  if (platform_settings.headless) setenv("SDL_VIDEODRIVER", "offscreen", 0);
  int saved = quietStandardError();
  int failed = SDL_InitSubSystem(SDL_INIT_VIDEO);
  restoreStandardError(saved);
  if (failed != 0) return false;
  const char* driver = SDL_GetCurrentVideoDriver();
  if (driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0))
    platform_settings.headless = true;
  video_started = true;
  return true;
}

bool displayAvailable() { return startVideo(); }

SDL_Window* sdlWindowOf(HWND window) { return window && !window->destroyed ? window->sdl_window : nullptr; }

void resetWindows() {
  for (WindowRecord* window : windows) {
    if (window->sdl_window) SDL_DestroyWindow(window->sdl_window);
    delete window;
  }
  windows.clear();
  window_classes.clear();
}

ATOM RegisterClassExA(const WNDCLASSEXA* window_class) {
  if (!window_class || !window_class->lpszClassName || !window_class->lpfnWndProc) return 0;
  for (const WindowClass& known : window_classes)
    if (known.name == window_class->lpszClassName) return 0;  // already registered, as on Windows
  window_classes.push_back({window_class->lpszClassName, window_class->lpfnWndProc});
  return ATOM(window_classes.size());
}

HWND CreateWindowExA(DWORD, const char* class_name, const char* caption, DWORD style, int x, int y, int width,
                     int height, HWND, HMENU, HINSTANCE, void*) {
  const WindowClass* found = nullptr;
  for (const WindowClass& known : window_classes)
    if (class_name && known.name == class_name) found = &known;
  if (!found || !startVideo()) return nullptr;
  int left = x == CW_USEDEFAULT ? int(SDL_WINDOWPOS_CENTERED) : x;
  int top = x == CW_USEDEFAULT ? int(SDL_WINDOWPOS_CENTERED) : y;
  Uint32 flags = SDL_WINDOW_OPENGL | ((style & WS_VISIBLE) ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN);
  SDL_Window* sdl_window = SDL_CreateWindow(caption ? caption : "", left, top, width, height, flags);
  if (!sdl_window) {
    std::fprintf(stderr, "narvu: cannot create the window: %s\n", SDL_GetError());
    return nullptr;
  }
  WindowRecord* window = new WindowRecord{sdl_window, found->procedure, {}, false};
  windows.push_back(window);
  return window;
}

BOOL ShowWindow(HWND window, int) {
  if (!sdlWindowOf(window)) return FALSE;
  SDL_ShowWindow(window->sdl_window);
  return TRUE;
}

BOOL DestroyWindow(HWND window) {
  if (!window || window->destroyed) return FALSE;
  window->destroyed = true;
  window->queue.clear();
  // The window procedure sees WM_DESTROY before the window is gone, as on Windows; the show's
  // procedure ends the process there.
  window->procedure(window, WM_DESTROY, 0, 0);
  if (window->sdl_window) SDL_DestroyWindow(window->sdl_window);
  window->sdl_window = nullptr;
  return TRUE;
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

static void post(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (!window || window->destroyed) return;
  window->queue.push_back(MSG{window, message, wparam, lparam, GetTickCount()});
}

// Moves what SDL has seen into the windows' queues. There is one window, so every event is its.
static void pumpEvents() {
  if (!video_started) return;
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
    HWND window = windows.empty() ? nullptr : windows.back();
    if (event.type == SDL_KEYDOWN) {
      WPARAM key = virtualKey(event.key.keysym.sym);
      if (key) post(window, WM_KEYDOWN, key, event.key.repeat ? 0x40000001 : 1);
    } else if (event.type == SDL_QUIT ||
               (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE)) {
      post(window, WM_CLOSE, 0, 0);
    }
  }
}

BOOL PeekMessageA(MSG* message, HWND window, UINT, UINT, UINT remove) {
  pumpEvents();
  for (WindowRecord* candidate : windows) {
    if ((window && candidate != window) || candidate->queue.empty()) continue;
    *message = candidate->queue.front();
    if (remove & PM_REMOVE) candidate->queue.pop_front();
    return TRUE;
  }
  return FALSE;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (!window || window->destroyed) return FALSE;
  post(window, message, wparam, lparam);
  return TRUE;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM) {
  if (message == WM_CLOSE) DestroyWindow(window);
  return 0;
}

void injectKeyDown(HWND window, WPARAM virtual_key) { post(window, WM_KEYDOWN, virtual_key, 1); }

void injectCloseBox(HWND window) { post(window, WM_CLOSE, 0, 0); }

void setMessageBoxResponder(MessageBoxResponder responder) { message_box_responder = responder; }

// A box without a display: "caption: text", or "caption text" when the caption ends in its own colon
// ("Picture not found:").
static void printBox(const char* caption, const char* text) {
  size_t length = std::strlen(caption);
  bool has_colon = length > 0 && caption[length - 1] == ':';
  std::fprintf(stderr, "%s%s %s\n", caption, has_colon ? "" : ":", text);
  std::fflush(stderr);
}

int MessageBoxA(HWND, const char* text, const char* caption, UINT type) {
  text = text ? text : "";
  caption = caption ? caption : "";
  if (message_box_responder) return message_box_responder(text, caption, type);
  bool yes_no = (type & 0xF) == MB_YESNO;
  // Without a display nobody can answer: say it on standard error and take the default button, so a
  // headless run never blocks.
  bool can_show = startVideo() && !platform_settings.headless;
  if (!can_show) {
    printBox(caption, text);
    return yes_no ? IDYES : IDOK;
  }
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
  if (SDL_ShowMessageBox(&box, &pressed) != 0 || pressed < 0) {
    printBox(caption, text);
    return yes_no ? (pressed < 0 ? IDNO : IDYES) : IDOK;
  }
  return pressed;
}

HCURSOR SetCursor(HCURSOR cursor) {
  if (video_started) SDL_ShowCursor(cursor ? SDL_ENABLE : SDL_DISABLE);
  return nullptr;
}

// Icons, cursors and brushes only decorate a window class here; any non-null handle will do.
static int decoration_handle;
HICON LoadIconA(HINSTANCE, const char*) { return &decoration_handle; }
HCURSOR LoadCursorA(HINSTANCE, const char*) { return &decoration_handle; }
HBRUSH GetSysColorBrush(int) { return &decoration_handle; }

DWORD GetModuleFileNameA(HINSTANCE, char* path, DWORD size) {
  if (!path || size == 0) return 0;
  ssize_t length = readlink("/proc/self/exe", path, size - 1);
  if (length <= 0) {
    path[0] = '\0';
    return 0;
  }
  path[length] = '\0';
  return DWORD(length);
}
