// Inside the native build's SDL2 files only (platform/sdl_*.cpp): what they ask of each other.
#pragma once

#include "platform/platform_local.h"

struct SDL_Window;

// The SDL window behind a window handle (sdl_window.cpp); null for none.
SDL_Window* sdlWindowOf(HWND window);
