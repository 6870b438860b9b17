// The show from start to end: start-up in its fixed order, content loading, the main loop that plays
// the timeline, the tail, and the window procedure that ends the show early.
//
// Start-up failures show a message box and give exit code 1; Esc, F12 and the close box end the
// process from the window procedure with code 0; the full timeline returns 0 after the tail.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "render/render.h"
#include "shell/shell.h"
#include "storage/storage.h"
#include "texture/texture.h"

static const char kTitle[] = "VOMMIKAS TELJAKKO - vUUr 2001";
static const float kExpectedSoundVersion = 3.33f;

// Start-up ends the show with exit code 1 after its message box; nothing else needs tearing down.
static Scene* loadSceneOrEnd(const char* name) {
  Scene* scene = loadScene(name, 50);
  if (scene) return scene;
  std::string text = std::string("Cannot load the scene ") + name + ": " +
                     (scene_load_error ? scene_load_error : "unknown reason");
  MessageBoxA(nullptr, text.c_str(), "Demo Problem Report", MB_OK | MB_ICONERROR);
  std::exit(1);
}

void loadScenes() {
  debugMessage("loadScenes", "DEMO DEBUG");
  first_scene = loadSceneOrEnd("mv.vyl");
  second_scene = loadSceneOrEnd("credanim.vyl");
  debugMessage("find Objects", "DEMO DEBUG");
  debugMessage("load particle textures", "DEMO DEBUG");
  fade_texture = start_logo_texture = loadTexture("vuurlogo.jpg", 0);
  end_logo_texture = loadTexture("endlogo.jpg", 0);
  debugMessage("init particle effects", "DEMO DEBUG");
  current_scene = first_scene;
  debugMessage("loadSkybox", "DEMO DEBUG");
  for (Scene* scene : {first_scene, second_scene})
    attachSkybox(scene, 1, "skybox0000.jpg", "skybox0001.jpg", "skybox0002.jpg", "skybox0003.jpg",
                 "skybox0004.jpg", "skybox0005.jpg");
}

// Esc, F12 and the close box all arrive here as WM_DESTROY, sent by DefWindowProcA(WM_CLOSE).
static LRESULT windowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) {
    releaseRenderingContext();
    std::exit(int(wparam));
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

static bool registerWindowClass(HINSTANCE instance) {
  WNDCLASSEXA window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.style = CS_DBLCLKS;
  window_class.lpfnWndProc = windowProcedure;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = GetSysColorBrush(COLOR_APPWORKSPACE);
  window_class.lpszClassName = kTitle;
  return RegisterClassExA(&window_class) != 0;
}

// A failed creation is not detected here: the context creation that needs the window fails instead.
static HWND openWindow(HINSTANCE instance, int show_command) {
  HWND window = CreateWindowExA(0, kTitle, kTitle, WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                CW_USEDEFAULT, 0, 640, 480, nullptr, nullptr, instance, nullptr);
  ShowWindow(window, show_command);
  return window;
}

int WinMain(HINSTANCE instance, HINSTANCE, char* command_line, int show_command) {
  const char* options = command_line ? command_line : "";
  sound_disabled = std::strstr(options, "nosound") != nullptr;
  bool choose_device = std::strstr(options, "choosedrv") != nullptr;

  if (!sound_disabled && FSOUND_GetVersion() != kExpectedSoundVersion)
    MessageBoxA(nullptr, "You are using wrong version of FMOD.DLL!", "Warning!", MB_OK);
  if (!mountPack(instance)) {
    std::fprintf(stderr, "narvu: no pack found (%s)\n", packPlacesText(packPlaces(instance)).c_str());
    MessageBoxA(nullptr, "Unable to mount data file storage!", "Demo Problem Report", MB_OK);
    return 1;
  }
  if (!sound_disabled && startMusic() != 0) return 1;
  if (FAILED(D3DXInitialize())) return 0;
  if (!registerWindowClass(instance)) return 0;
  HWND window = openWindow(instance, show_command);
  if (selectDevice(choose_device, window) != 0) return 1;
  loadScenes();
  prepareDrawing();
  awaitViewer();
  song_start_ms = GetTickCount();
  if (!sound_disabled) FMUSIC_PlaySong(song);

  fade_half_length = 250;
  fade_start_ms = int32_t(GetTickCount() - 10000);
  overlay_hook = fadeOverlay;
  startTimeline(GetTickCount());

  int exit_code = 0;
  if (playTimeline(window, &exit_code)) return exit_code;
  playTail();
  if (!sound_disabled) {
    FMUSIC_FreeSong(song);
    FSOUND_Close();
  }
  return 0;
}
