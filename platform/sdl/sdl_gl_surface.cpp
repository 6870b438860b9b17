// The GL surface natively: OpenGL 3.3 core on the SDL2 window (see platform/backend.h).
#include <SDL.h>

#include "platform/sdl/sdl_local.h"

struct GlSurface {
  HWND window;
  SDL_GLContext context;
};

GlSurface* createGlSurface(HWND window, std::string* problem) {
  SDL_Window* sdl_window = sdlWindowOf(window);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  // The window only ever receives finished pictures: it needs no depth buffer of its own.
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
  SDL_GLContext context = SDL_GL_CreateContext(sdl_window);
  if (!context) {
    *problem = std::string("OpenGL 3.3 core is not available: ") + SDL_GetError();
    return nullptr;
  }
  if (SDL_GL_MakeCurrent(sdl_window, context) != 0) {
    *problem = std::string("the context cannot be made current: ") + SDL_GetError();
    SDL_GL_DeleteContext(context);
    return nullptr;
  }
  if (!findGlFunctions(SDL_GL_GetProcAddress, problem)) {
    SDL_GL_MakeCurrent(nullptr, nullptr);
    SDL_GL_DeleteContext(context);
    return nullptr;
  }
  return new GlSurface{window, context};
}

bool makeGlSurfaceCurrent(GlSurface* surface) {
  if (SDL_GL_GetCurrentContext() == surface->context) return true;
  SDL_Window* sdl_window = sdlWindowOf(surface->window);
  return sdl_window && SDL_GL_MakeCurrent(sdl_window, surface->context) == 0;
}

void deleteGlSurface(GlSurface* surface) {
  SDL_GL_MakeCurrent(nullptr, nullptr);
  SDL_GL_DeleteContext(surface->context);
  delete surface;
}

void glSurfaceSize(GlSurface* surface, int* width, int* height) {
  *width = *height = 0;
  if (SDL_Window* sdl_window = sdlWindowOf(surface->window)) SDL_GL_GetDrawableSize(sdl_window, width, height);
}

const bool kGlStreamsReplaceStorage = false;

bool glSurfaceShows(GlSurface* surface) { return !platform_settings.headless && sdlWindowOf(surface->window); }

void showGlSurface(GlSurface* surface) {
  if (SDL_Window* sdl_window = sdlWindowOf(surface->window)) SDL_GL_SwapWindow(sdl_window);
}

void setGlSurfaceVsync(GlSurface*, bool vsync) { SDL_GL_SetSwapInterval(vsync ? 1 : 0); }

void waitForGlFence(GLsync fence) {
  while (glClientWaitSync(fence, 0, 1000000000) == GL_TIMEOUT_EXPIRED) {
  }
  glDeleteSync(fence);
}
