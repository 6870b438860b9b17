// Inside platform/ only: what the D3DX context code asks of the OpenGL side.
#pragma once

#include <string>

#include "platform/platform.h"

struct SDL_Window;

struct GlContextRequest {
  HWND window;
  DWORD colour_bits;
  DWORD alpha_bits;
  DWORD depth_bits;
  DWORD back_buffers;
  DWORD width;       // the show's drawing size, 640 × 480; the render target may be larger
  DWORD height;
  bool fullscreen;
};

// Creates the GL context on the window, the off-screen render target (platform_settings decides its
// size and multisampling) and the GL device behind it. A negative result, with the reason on standard
// error, when any of it cannot be had.
HRESULT createGlContext(const GlContextRequest& request, ID3DXContext** context);

// The SDL window behind a window handle (win32.cpp); null for none.
SDL_Window* sdlWindowOf(HWND window);

// Set by the GL context from GL_MAX_TEXTURE_SIZE; maxTextureSize() reports it.
void setMaxTextureSize(DWORD size);

// Called by the context's UpdateFrame with every presented frame when capturing (capture.cpp):
// rows top to bottom, 3 bytes a pixel (R, G, B).
void captureFrame(const uint8_t* rgb, int width, int height);

// Where the music of a capture is rendered to: DIR/audio.wav, or a file beside a video being made.
std::string captureAudioPath();
// Ends a capture: closes the video stream and muxes in the music. Registered with atexit by the first
// captured frame; the music must be written before it runs.
void finishCapture();

// Standard error sent nowhere while SDL opens a device, so that the diagnostics of the libraries it
// loads (ALSA, Wayland) do not bury the show's own message (library_noise.cpp). quietStandardError
// returns what restoreStandardError needs (-1: nothing was changed).
int quietStandardError();
void restoreStandardError(int saved);
