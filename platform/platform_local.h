// Inside platform/ only: what the stand-ins ask of each other. The rest of the program sees
// platform/platform.h (and tests platform/devices.h and platform/test_hooks.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/devices.h"
#include "platform/platform.h"
#include "platform/test_hooks.h"

struct SDL_Window;

// ---- Window system (win32.cpp) ---------------------------------------------------------------------
// The SDL window behind a window handle; null for none.
SDL_Window* sdlWindowOf(HWND window);
// A borderless window covering the chosen display (platform_settings.display), or back to a framed
// window of its former size. False, with the reason on standard error, when SDL refuses; nothing
// happens in a headless run.
bool setWindowFullscreen(HWND window, bool fullscreen);

// ---- Rendering contexts (d3dx_context.cpp, gl_context.cpp) ------------------------------------------
// What every context hands out: its Direct3D object and its device, each with a reference that the
// caller owns. The context holds one reference of each and gives them back when it goes.
class ContextBase : public ReferenceCounted<ID3DXContext> {
 public:
  IDirect3D7* GetD3D() override {
    direct3d->AddRef();
    return direct3d;
  }
  IDirect3DDevice7* GetD3DDevice() override {
    device->AddRef();
    return device;
  }

  MemoryDirect3D* direct3d = nullptr;
  ShadowDevice* device = nullptr;

 protected:
  ~ContextBase() override {
    if (device) device->Release();
    if (direct3d) direct3d->Release();
  }
};

struct GlContextRequest {
  HWND window;
  DWORD colour_bits;
  DWORD alpha_bits;
  DWORD depth_bits;
  DWORD back_buffers;
  DWORD width;  // the show's drawing size, 640 × 480; the render target may be larger
  DWORD height;
  bool fullscreen;
};
// Creates the GL context on the window, the off-screen render target (platform_settings decides its
// size and multisampling) and the GL device behind it. A negative result, with the reason on standard
// error, when any of it cannot be had.
HRESULT createGlContext(const GlContextRequest& request, ID3DXContext** context);

// ---- GL device (gl_device.cpp, gl_shaders.cpp) -----------------------------------------------------
// The device draws into whatever framebuffer is bound when a draw call is made; the context binds its
// render target once and again after every presentation. Every call expects the context's GL context
// to be current on the calling (main) thread.

// The rectangle of the render target that stands for the show's 640 × 480 screen: the largest 4:3
// rectangle centred in the target (the whole target when it is 4:3).
struct GlViewport {
  int x, y, width, height;
};
GlViewport gl4by3Viewport(int target_width, int target_height);
// A new GL device drawing into a render target of the given size. Creates its GL objects at once; null,
// with the reason on standard error, when its shaders cannot be built.
ShadowDevice* createGlDevice(int target_width, int target_height);
// Clears the bound render target as Direct3D's Clear does: D3DCLEAR_ZBUFFER sets depth to 1.0 (depth
// writes allowed for the moment), D3DCLEAR_TARGET sets colour to black.
void clearGlTarget(IDirect3DDevice7* device, DWORD flags);
// The context library has just filled level `level` of `texture` on `device`: the GL device uploads it
// at once (the whole chain at a texture's first fill), so no draw has to. Nothing for other devices.
void uploadFilledGlLevel(IDirect3DDevice7* device, TextureSurface* texture, size_t level);
// The shader sources, completed by a prologue of #defines that the device writes per state combination.
extern const char* const kGlVertexShaderSource;
extern const char* const kGlFragmentShaderSource;
extern const char* const kGlDeviceBlockSource;

// ---- Library diagnostics (library_noise.cpp) -------------------------------------------------------
// Standard error sent nowhere while SDL opens a device, so that the diagnostics of the libraries it
// loads (ALSA, Wayland) do not bury the show's own message. quietStandardError returns what
// restoreStandardError needs (-1: nothing was changed).
int quietStandardError();
void restoreStandardError(int saved);

// ---- The ffmpeg program (ffmpeg.cpp) -------------------------------------------------------------------
struct FfmpegProcess {
  int pid = -1;
  int input = -1;        // its standard input, when it reads frames from us; -1 otherwise
  std::string log_path;  // its standard error, kept until it has finished
};
// A new file in the temporary folder (TMPDIR, else /tmp) named narvu-STEM-XXXXXX, for a child's
// standard error: its descriptor and *path, or -1 when none can be made.
int makeTemporaryLog(const char* stem, std::string* path);
// "file:" and the absolute path: a name ffmpeg takes for nothing but a file.
std::string ffmpegFileArgument(const std::string& path);
// Starts ffmpeg with `arguments` (arguments[0] is "ffmpeg"); with `with_input`, its standard input is a
// pipe we write to. False with the reason when it cannot be started.
bool startFfmpeg(const std::vector<std::string>& arguments, bool with_input, FfmpegProcess* process,
                 std::string* error);
// Writes all of `bytes` to its input; false when it no longer takes them (it has ended).
bool writeToFfmpeg(FfmpegProcess* process, const uint8_t* bytes, size_t count);
// Closes its input and waits for it: true when it succeeded, else `error` holds what it said.
bool finishFfmpeg(FfmpegProcess* process, std::string* error);

// ---- Capture (capture.cpp, capture_writer.cpp) --------------------------------------------------------
// Called by the context's UpdateFrame for every presented frame when capturing: counts it, and returns
// its number when it is one to write, -1 when not (outside the run's frames, or after a failure).
long capturePresentedFrame();
// A frame to write, numbered by capturePresentedFrame, in that order: 3 bytes a pixel (R, G, B), rows
// bottom to top when `bottom_up` (as GL reads them). The pixels are copied into the writing thread's
// queue; the call waits while the queue is full. False after a failure; captureError says why.
bool queueCaptureFrame(long index, const uint8_t* rows, int width, int height, bool bottom_up);
// Waits until every queued frame is written, then ends the writing thread (finishCapture).
void stopCaptureWriter();
// Waits until every queued frame is written (a context that goes leaves nothing unwritten).
void drainCaptureWriter();
// Frames written so far.
long captureFramesWritten();
// A join's frames, counted as written for the summary.
void countJoinedFrames(long frames);
// Remembers the first failure (any thread); false, for the caller to return.
bool failCapture(const std::string& what);
// Closes the encoder's pipe once the writing thread has ended and waits for ffmpeg: false with its
// words when it failed; true when none ran.
bool closeCaptureEncoder(std::string* error);
// Where the video stream of this run goes while it is encoded.
std::string captureVideoStreamPath();
// A video part's name: the frames it holds (see platform/capture.h).
std::string capturePartPath(long first, long last);
// Frame `index` of a folder capture: capture_path/frame_NNNNNN.png.
std::string captureFramePath(long index);
// Writes capture_path from the video stream that `video_input` opens (ffmpeg's input arguments) and the
// music at sound_capture_path when it is there, copying the video. Removes what it wrote when it fails.
bool muxCaptureVideo(const std::vector<std::string>& video_input, std::string* error);
// The ffmpeg arguments that choose the codec of capture_path's kind and the quality.
std::vector<std::string> captureEncoderOptions();
// Whether capture_path ends in `tail` (lower case), whatever the case of its letters.
bool capturePathEndsWith(const char* tail);
// The GL context's frames still waiting to be read back, read and queued (gl_context.cpp; finishCapture).
void finishGlReadBacks();

// ---- Threads (signals.cpp) ------------------------------------------------------------------------------
// SIGINT and SIGTERM are not delivered to the calling thread: a helper thread calls it first, so that
// the signals interrupt the main thread's calls, which look at endSignal, and not the helper's.
void leaveEndSignalsToMainThread();
