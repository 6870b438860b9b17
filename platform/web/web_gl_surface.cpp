// The GL context in the page: WebGL 2 on the page's canvas (see platform/backend.h), its drawing buffer
// sized to the canvas (glSurfaceSize); the browser shows what is drawn into it at the turn that follows
// each presentation.
#include <emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <cmath>

#include "platform/web/web_local.h"

struct GlSurface {
  EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context;
  bool vsync;
  bool shown_once;
  bool software;      // a software rasteriser draws the page's WebGL
  int width, height;  // the drawing buffer's, as last set
};

// The canvas's size on the page, kept by an observer of its layout rather than measured at every frame
// (a measure allocates, and lays the page out if anything changed since the last one); in device
// pixels at the pixel ratio of the moment.
EM_JS(void, watchCanvasSize, (), {
  const canvas = Module.canvas;
  const rect = canvas.getBoundingClientRect();
  const size = (Module.narvuCanvasSize = {width: rect.width, height: rect.height});
  new ResizeObserver((entries) => {
    for (const entry of entries) {
      size.width = entry.contentRect.width;
      size.height = entry.contentRect.height;
    }
  }).observe(canvas);
});
EM_JS(int, canvasPixelWidth, (), { return Math.round(Module.narvuCanvasSize.width * devicePixelRatio); });
EM_JS(int, canvasPixelHeight, (), { return Math.round(Module.narvuCanvasSize.height * devicePixelRatio); });
// The page says whether the browser draws WebGL on the processor (its probe saw SwiftShader, llvmpipe).
EM_JS(int, softwareRasteriser, (), { return Module.narvuSoftwareGl ? 1 : 0; });

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
  watchCanvasSize();
  int width = 0, height = 0;
  emscripten_get_canvas_element_size(kCanvasSelector, &width, &height);
  return new GlSurface{context, true, false, softwareRasteriser() != 0, width, height};
}

bool makeGlSurfaceCurrent(GlSurface* surface) {
  return emscripten_webgl_get_current_context() == surface->context ||
         emscripten_webgl_make_context_current(surface->context) == EMSCRIPTEN_RESULT_SUCCESS;
}

void deleteGlSurface(GlSurface* surface) {
  emscripten_webgl_destroy_context(surface->context);
  delete surface;
}

// The drawing buffer has the canvas's size in device pixels, so the picture is as sharp as the screen;
// on a software rasteriser, where each of its pixels costs the processor twice more (the picture scaled
// into it, then the page composited from it), no more than the render target's picture needs: the
// browser scales it up to the canvas. It is set only when that changed, for setting it clears it.
void glSurfaceSize(GlSurface* surface, int* width, int* height) {
  int wanted_width = std::max(1, canvasPixelWidth());
  int wanted_height = std::max(1, canvasPixelHeight());
  if (surface->software) {
    int picture = gl4by3Viewport(wanted_width, wanted_height).width;
    int useful = gl4by3Viewport(platform_settings.render_width, platform_settings.render_height).width;
    if (picture > useful) {
      wanted_width = std::max(1, int(std::lround(double(wanted_width) * useful / picture)));
      wanted_height = std::max(1, int(std::lround(double(wanted_height) * useful / picture)));
    }
  }
  if (wanted_width != surface->width || wanted_height != surface->height) {
    emscripten_set_canvas_element_size(kCanvasSelector, wanted_width, wanted_height);
    surface->width = wanted_width;
    surface->height = wanted_height;
  }
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

void waitUntilGlCaughtUp() {
  if (emscripten_webgl_get_current_context() <= 0) return;
  if (GLsync fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0)) waitForGlFence(fence);
}

void waitForGlFence(GLsync fence) {
  while (glClientWaitSync(fence, 0, 0) == GL_TIMEOUT_EXPIRED) giveBrowserTurn(false);
  glDeleteSync(fence);
}
