// The window system as the show calls it: Win32's types, constants, window class and window, the
// message queue, message boxes, the cursor, the executable's path and the tick count, on SDL2, or in the
// page on its canvas (platform/win32.cpp over the screen backend, sdl/ or web/; the clock in
// platform/settings.cpp; Sleep, the end signals and the executable's path from the system backend,
// posix/, windows/ or web/: see platform/backend.h). On Windows these are the show's own calls too,
// beside Windows' and never in one file with <windows.h>.
//
// Messages follow Windows: a key press is WM_KEYDOWN with the virtual-key code, the close box is
// WM_CLOSE, PeekMessageA takes at most one message, and DefWindowProcA(WM_CLOSE) destroys the window,
// which calls the window procedure with WM_DESTROY before it returns. Main thread only.
#pragma once

#include <cstdint>
#include <string>

typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int32_t HRESULT;
typedef uint16_t ATOM;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;

struct WindowRecord;
typedef WindowRecord* HWND;
typedef void* HINSTANCE;
typedef void* HICON;
typedef void* HCURSOR;
typedef void* HBRUSH;
typedef void* HMENU;

typedef LRESULT (*WNDPROC)(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
};

struct WNDCLASSEXA {
  UINT cbSize;
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  const char* lpszMenuName;
  const char* lpszClassName;
  HICON hIconSm;
};

// Macros, as Windows and libjpeg both define them, so either header may come first.
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT DDERR_INVALIDPARAMS = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT DDERR_GENERIC = E_FAIL;
inline bool FAILED(HRESULT result) { return result < 0; }
inline bool SUCCEEDED(HRESULT result) { return result >= 0; }

constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
// Messages an application defines for itself start here.
constexpr UINT WM_APP = 0x8000;
constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;
constexpr WPARAM VK_ESCAPE = 27;
constexpr WPARAM VK_SPACE = 32;
constexpr WPARAM VK_HOME = 0x24;
constexpr WPARAM VK_LEFT = 0x25;
constexpr WPARAM VK_RIGHT = 0x27;
constexpr WPARAM VK_F12 = 123;

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_ICONERROR = 0x10;
constexpr int IDOK = 1;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

constexpr UINT CS_DBLCLKS = 0x0008;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);
constexpr int SW_SHOW = 5;
constexpr int SW_SHOWNORMAL = 1;
constexpr int COLOR_APPWORKSPACE = 12;
#define IDI_APPLICATION (reinterpret_cast<const char*>(32512))
#define IDC_ARROW (reinterpret_cast<const char*>(32512))

ATOM RegisterClassExA(const WNDCLASSEXA* window_class);
HWND CreateWindowExA(DWORD ex_style, const char* class_name, const char* caption, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
BOOL ShowWindow(HWND window, int show_command);
BOOL DestroyWindow(HWND window);
// Takes at most one queued message of `window` (PM_REMOVE) into `message`; FALSE when none is queued.
BOOL PeekMessageA(MSG* message, HWND window, UINT filter_min, UINT filter_max, UINT remove);
BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// WM_CLOSE destroys the window, which calls its window procedure with WM_DESTROY before returning.
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// With a display: an SDL message box. Without one (headless, capture), and in the page, which shows the
// line: "caption: text" on standard error (no second colon after a caption that ends in one) and the
// default (first) button. Tests may
// script the answer with setMessageBoxResponder. Every box the show shows belongs to its start-up, and
// once catchEndSignals is called, SIGINT or SIGTERM while a box waits closes it and ends the process
// with exit code 1, as a start-up that did not finish: without a window manager the box has no frame
// to close it by, and nobody else could end it.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
HCURSOR SetCursor(HCURSOR cursor);
HICON LoadIconA(HINSTANCE instance, const char* name);
HCURSOR LoadCursorA(HINSTANCE instance, const char* name);
HBRUSH GetSysColorBrush(int index);
// The running executable's path, as the system tells it; the length written, 0 on failure (also when
// `size` cannot hold it).
DWORD GetModuleFileNameA(HINSTANCE module, char* path, DWORD size);
// Milliseconds, 32 bits, wrapping. The virtual clock in capture and tests (see PlatformSettings).
DWORD GetTickCount();
// Suspends the calling thread (the system backend); in the page the browser has its turn meanwhile.
void Sleep(DWORD milliseconds);

// ---- This port's additions ----------------------------------------------------------------------
// The running executable's path, or an empty string when the system cannot tell it: what
// GetModuleFileNameA gives, for code that wants nothing else of the window system (the system backend's).
std::string programPath();
// True when a display server answers, or when SDL_VIDEODRIVER names a driver (the offscreen driver
// of headless runs and tests included). SDL's own fallback to its offscreen driver is no display:
// false then, with the reason (one line, lower case) in *reason.
bool displayAvailable(std::string* reason);
// From now on SIGINT and SIGTERM no longer end the process at once: the first one is remembered, and
// whoever runs a loop asks endSignal and ends as it sees fit (platform/end_signals.cpp and the system
// backend). On Windows a console's Ctrl-C and Ctrl-Break are SIGINT; its closing, a log-off and a
// shut-down are SIGTERM.
void catchEndSignals();
// The signal that asked the process to end (SIGINT 2, SIGTERM 15), or 0 while none has.
int endSignal();
// How many end signals have come: a wait that begins after the first (a capture finishing its files)
// tells a new one, which asks it to stop waiting, from the one it is finishing for.
int endSignalCount();
// "SIGINT", "SIGTERM" or "a signal", for a message about `signal_number`.
const char* endSignalName(int signal_number);
// The standard streams reach the console the program was started from. Natively they do already; a
// Windows program of the window subsystem (which opens no console window when double-clicked) takes
// its parent's console for the streams that are not redirected, and for its console control events.
void attachParentConsole();
// SIGINT and SIGTERM are not delivered to the calling thread: a helper thread calls it first, so that
// the signals interrupt the main thread's calls, which look at endSignal, and not the helper's.
void leaveEndSignalsToMainThread();
// The viewer's controls besides the keys (the page's control bar, its video-page keys) post these to
// the show's window: a seek to the moment wParam, in milliseconds from the timeline's start, and a
// pause (wParam 1) or play (wParam 0). Natively only keys come.
constexpr UINT WM_VIEWER_SEEK = WM_APP;
constexpr UINT WM_VIEWER_PAUSE = WM_APP + 1;
// Before the timeline starts, once everything is loaded and prepared: returns when the viewer is there to
// watch. At once natively; the page starts the show while its visitor reads the start panel, and holds
// it here until Start is pressed, so that the first frame follows the click (the screen backend).
void awaitViewer();
// Live play's position for the viewer's controls: the moment of the timeline the picture shows, in
// milliseconds, and whether the viewer paused it. The page's time and seek bar show it; nothing does
// natively (the screen backend).
void showPlayPosition(DWORD moment_ms, bool paused);
// The live clock stops while paused: GetTickCount keeps returning the moment of the pause, and goes
// on from there when the pause ends, as if the pause had not been (platform/settings.cpp).
void pauseClock(bool paused);
