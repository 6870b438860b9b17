// Inside the SDL2 backend only (platform/sdl/): what its files ask of each other.
#pragma once

#include "platform/platform_local.h"

struct SDL_Window;

// The SDL window behind a window handle (sdl_window.cpp); null for none.
SDL_Window* sdlWindowOf(HWND window);
