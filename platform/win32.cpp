// The Windows calls the show makes: window classes, windows and their message queues, message boxes,
// the cursor and the executable's path. Beneath them is the build's screen backend (platform/backend.h):
// SDL2's window and events natively (sdl/sdl_window.cpp), the page's canvas and emscripten's HTML5
// events in the browser (web/web_window.cpp).
//
// Messages follow Windows: a key press is WM_KEYDOWN with the virtual-key code, the close box is
// WM_CLOSE, PeekMessageA takes at most one message, and DefWindowProcA(WM_CLOSE) destroys the window,
// which calls the window procedure with WM_DESTROY before it returns.
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/platform_local.h"

struct WindowRecord {
  ScreenWindow* screen;
  WNDPROC procedure;
  std::deque<MSG> queue;
  bool destroyed;
};

struct WindowClass {
  std::string name;
  WNDPROC procedure;
};

// Everything the window system holds between calls (main thread only).
struct WindowSystem {
  std::vector<WindowClass> window_classes;
  std::vector<WindowRecord*> windows;  // in creation order; the show has one
  MessageBoxResponder message_box_responder = nullptr;
};
static WindowSystem window_system;

bool displayAvailable(std::string* reason) { return startScreen(reason); }

ScreenWindow* screenWindowOf(HWND window) { return window && !window->destroyed ? window->screen : nullptr; }

HWND currentWindow() { return window_system.windows.empty() ? nullptr : window_system.windows.back(); }

void resetWindows() {
  for (WindowRecord* window : window_system.windows) {
    if (window->screen) closeScreenWindow(window->screen);
    delete window;
  }
  window_system.windows.clear();
  window_system.window_classes.clear();
}

ATOM RegisterClassExA(const WNDCLASSEXA* window_class) {
  if (!window_class || !window_class->lpszClassName || !window_class->lpfnWndProc) return 0;
  for (const WindowClass& known : window_system.window_classes)
    if (known.name == window_class->lpszClassName) return 0;  // already registered, as on Windows
  window_system.window_classes.push_back({window_class->lpszClassName, window_class->lpfnWndProc});
  return ATOM(window_system.window_classes.size());
}

HWND CreateWindowExA(DWORD, const char* class_name, const char* caption, DWORD style, int x, int y, int width,
                     int height, HWND, HMENU, HINSTANCE, void*) {
  const WindowClass* found = nullptr;
  for (const WindowClass& known : window_system.window_classes)
    if (class_name && known.name == class_name) found = &known;
  if (!found || !startScreen(nullptr)) return nullptr;
  ScreenWindow* screen = openScreenWindow(caption ? caption : "", x, y, width, height, (style & WS_VISIBLE) != 0);
  if (!screen) return nullptr;
  WindowRecord* window = new WindowRecord{screen, found->procedure, {}, false};
  window_system.windows.push_back(window);
  return window;
}

BOOL ShowWindow(HWND window, int) {
  ScreenWindow* screen = screenWindowOf(window);
  if (!screen) return FALSE;
  showScreenWindow(screen);
  return TRUE;
}

BOOL DestroyWindow(HWND window) {
  if (!window || window->destroyed) return FALSE;
  window->destroyed = true;
  window->queue.clear();
  // The window procedure sees WM_DESTROY before the window is gone, as on Windows; the show's
  // procedure ends the process there.
  window->procedure(window, WM_DESTROY, 0, 0);
  if (window->screen) closeScreenWindow(window->screen);
  window->screen = nullptr;
  return TRUE;
}

void postWindowMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (!window || window->destroyed) return;
  window->queue.push_back(MSG{window, message, wparam, lparam, GetTickCount()});
}

BOOL PeekMessageA(MSG* message, HWND window, UINT, UINT, UINT remove) {
  pumpScreenEvents();
  for (WindowRecord* candidate : window_system.windows) {
    if ((window && candidate != window) || candidate->queue.empty()) continue;
    *message = candidate->queue.front();
    if (remove & PM_REMOVE) candidate->queue.pop_front();
    return TRUE;
  }
  return FALSE;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (!window || window->destroyed) return FALSE;
  postWindowMessage(window, message, wparam, lparam);
  return TRUE;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM) {
  if (message == WM_CLOSE) DestroyWindow(window);
  return 0;
}

void injectKeyDown(HWND window, WPARAM virtual_key) { postWindowMessage(window, WM_KEYDOWN, virtual_key, 1); }

void injectCloseBox(HWND window) { postWindowMessage(window, WM_CLOSE, 0, 0); }

void setMessageBoxResponder(MessageBoxResponder responder) { window_system.message_box_responder = responder; }

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
  if (window_system.message_box_responder) return window_system.message_box_responder(text, caption, type);
  bool yes_no = (type & 0xF) == MB_YESNO;
  // Without a display nobody can answer: say it on standard error and take the default button, so a
  // headless run never blocks. A box closed without a button says no.
  int answer = startScreen(nullptr) && !platform_settings.headless ? showScreenBox(caption, text, type) : 0;
  if (answer > 0) return answer;
  printBox(caption, text);
  if (answer < 0 && yes_no) return IDNO;
  return yes_no ? IDYES : IDOK;
}

// The show hides the cursor at every pass, as a full-screen show may; the screen decides where it can.
HCURSOR SetCursor(HCURSOR cursor) {
  showScreenCursor(currentWindow(), cursor != nullptr);
  return nullptr;
}

// Icons, cursors and brushes only decorate a window class here; any non-null handle will do.
static int decoration_handle;
HICON LoadIconA(HINSTANCE, const char*) { return &decoration_handle; }
HCURSOR LoadCursorA(HINSTANCE, const char*) { return &decoration_handle; }
HBRUSH GetSysColorBrush(int) { return &decoration_handle; }

DWORD GetModuleFileNameA(HINSTANCE, char* path, DWORD size) {
  if (!path || size == 0) return 0;
  std::string program = programPath();
  if (program.empty() || program.size() >= size) {
    path[0] = '\0';
    return 0;
  }
  std::memcpy(path, program.c_str(), program.size() + 1);
  return DWORD(program.size());
}
