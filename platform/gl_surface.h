// The GL context on the show's window, one file per build: OpenGL 3.3 core through SDL2 natively
// (sdl_gl_context.cpp), WebGL 2 on the page's canvas (web_gl_context.cpp). gl_context.cpp draws the
// render target into it and reads frames back; this is all it asks of the system. Main thread only.
#pragma once

#include <string>

#include "platform/gl_dialect.h"
#include "platform/platform_local.h"

struct GlSurface;

// A GL context on `window`, current on the calling thread; null with the reason (one line) in *problem.
GlSurface* createGlSurface(HWND window, std::string* problem);
bool makeGlSurfaceCurrent(GlSurface* surface);
void deleteGlSurface(GlSurface* surface);
// The size of what is shown, in pixels: the window's drawable, which HiDPI screens make larger than the
// window; the canvas, sized to the page's layout at every call.
void glSurfaceSize(GlSurface* surface, int* width, int* height);
// Whether presented pictures reach a screen: not in a headless native run; always in the page.
bool glSurfaceShows(GlSurface* surface);
// The picture drawn into the default framebuffer goes to the screen: SDL swaps; the page gives the
// browser its turn, in which it shows the canvas (at its next frame when waiting for the display).
void showGlSurface(GlSurface* surface);
// Whether showing waits for the display's refresh.
void setGlSurfaceVsync(GlSurface* surface, bool vsync);
// Until the driver has drawn everything before `fence`; then the fence goes. WebGL tells of a fence
// only between the browser's turns, so the page polls it with a zero timeout and gives turns between.
void waitForGlFence(GLsync fence);
