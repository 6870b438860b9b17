// The GL context in the page: WebGL 2 on the page's canvas (see platform/backend.h). The canvas is kept at the
// size the page's layout gives it, in device pixels, so the picture is as sharp as the screen; the
// browser shows what is drawn into it at the turn that follows each presentation.
#include <emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <cmath>

#include "platform/web/web_local.h"

struct GlSurface {
  EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context;
  bool vsync;
  bool shown_once;
};

GlSurface* createGlSurface(HWND, std::string* problem) {
  EmscriptenWebGLContextAttributes attributes;
  emscripten_webgl_init_context_attributes(&attributes);
  attributes.majorVersion = 2;
  attributes.minorVersion = 0;
  // The canvas only ever receives finished pictures, opaque: no alpha, depth or multisampling of its own.
  attributes.alpha = EM_FALSE;
  attributes.depth = EM_FALSE;
  attributes.stencil = EM_FALSE;
  attributes.antialias = EM_FALSE;
  attributes.powerPreference = EM_WEBGL_POWER_PREFERENCE_HIGH_PERFORMANCE;
  EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = emscripten_webgl_create_context(kCanvasSelector, &attributes);
  if (context <= 0) {
    *problem = "WebGL 2 is not available in this browser";
    return nullptr;
  }
  if (emscripten_webgl_make_context_current(context) != EMSCRIPTEN_RESULT_SUCCESS) {
    *problem = "the WebGL 2 context cannot be made current";
    emscripten_webgl_destroy_context(context);
    return nullptr;
  }
  return new GlSurface{context, true, false};
}

bool makeGlSurfaceCurrent(GlSurface* surface) {
  return emscripten_webgl_get_current_context() == surface->context ||
         emscripten_webgl_make_context_current(surface->context) == EMSCRIPTEN_RESULT_SUCCESS;
}

void deleteGlSurface(GlSurface* surface) {
  emscripten_webgl_destroy_context(surface->context);
  delete surface;
}

// The canvas's drawing buffer follows its size on the page times the device's pixel ratio; it is set
// only when that changed, for setting it clears the picture.
void glSurfaceSize(GlSurface*, int* width, int* height) {
  double css_width = 0, css_height = 0;
  emscripten_get_element_css_size(kCanvasSelector, &css_width, &css_height);
  double ratio = emscripten_get_device_pixel_ratio();
  int wanted_width = std::max(1, int(std::lround(css_width * ratio)));
  int wanted_height = std::max(1, int(std::lround(css_height * ratio)));
  int had_width = 0, had_height = 0;
  emscripten_get_canvas_element_size(kCanvasSelector, &had_width, &had_height);
  if (had_width != wanted_width || had_height != wanted_height)
    emscripten_set_canvas_element_size(kCanvasSelector, wanted_width, wanted_height);
  *width = wanted_width;
  *height = wanted_height;
}

const bool kGlStreamsReplaceStorage = true;

// The page shows even a capture's frames as they are made.
bool glSurfaceShows(GlSurface*) { return true; }

// The page times its first frame (narvu.times.firstFrame).
EM_JS(void, tellFirstFrame, (), {
  if (Module.narvuFirstFrame) Module.narvuFirstFrame();
});

void showGlSurface(GlSurface* surface) {
  if (!surface->shown_once) tellFirstFrame();
  surface->shown_once = true;
  giveBrowserTurn(surface->vsync);
}

void setGlSurfaceVsync(GlSurface* surface, bool vsync) { surface->vsync = vsync; }

void waitForGlFence(GLsync fence) {
  while (glClientWaitSync(fence, 0, 0) == GL_TIMEOUT_EXPIRED) giveBrowserTurn(false);
  glDeleteSync(fence);
}
