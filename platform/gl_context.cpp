// The GL half of the rendering context: the off-screen render target the show draws into, presentation
// and capture's read-back, over the GL surface on the show's window that the screen backend makes (see
// platform/backend.h): OpenGL 3.3 core through SDL2 natively, WebGL 2 on the page's canvas.
//
// The show draws a 640 × 480 picture and never clears its colour, so the render target is a
// framebuffer of our own that keeps its contents between frames, whatever the window's buffers do.
// Its size is platform_settings.render_width × render_height (any size; the show's 4:3 screen is the
// largest 4:3 rectangle in it, the rest stays black). With multisampling it is resolved into a
// single-sampled copy before presentation and capture. UpdateFrame scales the picture into the window
// with its shape kept (black bars) and swaps; with a presented-frame sink installed (a capture), every
// presented frame is read back and handed to it.
//
// A capture's read-back. llvmpipe rasterises a frame on threads of its own once it is flushed, and any
// read of a picture that queued drawing still refers to waits until everything queued so far is drawn;
// a read into a pixel-buffer object too, for llvmpipe copies into it at once. Reading each frame as it is
// presented would make drawing and rasterising take turns. So a capture on a single-sampled target draws
// into a ring of three colour buffers that share the depth buffer: a presented frame is fenced and
// flushed, the next one is drawn into the next buffer, and a frame is read when its buffer's turn comes
// round again, two presentations later, after its fence: nothing queued refers to it any more, and the
// read waits for nothing. (llvmpipe still makes the next frame's first depth clear wait for earlier
// drawing, so drawing and rasterising overlap only in part; see docs/performance.md.) The show's skybox
// covers every pixel of every frame, so the buffer a frame is drawn into changes none of its pixels.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <vector>

#include "platform/platform_local.h"

static const DWORD kLargestTexture = 4096;
static const int kRingLength = 3;

struct RenderTarget {
  GLuint framebuffer = 0, colour = 0, depth = 0;
  GLuint resolve_framebuffer = 0, resolve_colour = 0;  // only with multisampling
  int width = 0, height = 0, samples = 0;
  GlViewport viewport = {};
};

// A presented frame of a capture, drawn into ring buffer `slot`, waiting to be read.
struct PendingFrame {
  int slot;
  long index;
  GLsync drawn;
};

class GlContext : public ContextBase {
 public:
  HRESULT UpdateFrame(DWORD flags) override;
  HRESULT Clear(DWORD flags) override;

  // Rows top to bottom, R, G, B: the picture as presented.
  void readBack(std::vector<uint8_t>* rgb);
  bool makeCurrent();
  void bindTarget();
  // The frames of the ring still waiting, read and queued for writing.
  void finishReadBacks();

  GlSurface* surface = nullptr;
  RenderTarget target;  // with a ring, its colour and framebuffer are the buffer being drawn into
  std::vector<uint8_t> rows;
  // The capture's ring; ring_length 1 without one.
  int ring_length = 1;
  GLuint ring_framebuffer[kRingLength] = {}, ring_colour[kRingLength] = {};
  int slot = 0;                  // the buffer being drawn into
  GLuint shown_framebuffer = 0;  // the buffer of the frame presented last
  std::deque<PendingFrame> pending;
  GLsync last_frame = nullptr;  // a headless live run's previous frame, until the driver has drawn it

 private:
  ~GlContext() override;
  void readRows(GLuint framebuffer);
  bool captureDrawnFrame(long index);
  bool handOver(long index);
  bool readPending();
  void endUnseenFrame();
};

// Where presented frames go (null: nowhere), and the context that reads them back for it.
static const PresentedFrameSink* frame_sink = nullptr;
static GlContext* capturing_context = nullptr;

void setPresentedFrameSink(const PresentedFrameSink* sink) { frame_sink = sink; }

void copyRowsTopDown(const uint8_t* rows, int width, int height, bool bottom_up, std::vector<uint8_t>* out) {
  size_t row_bytes = size_t(width) * 3;
  out->resize(row_bytes * size_t(height));
  for (int y = 0; y < height; ++y)
    std::memcpy(out->data() + size_t(y) * row_bytes, rows + size_t(bottom_up ? height - 1 - y : y) * row_bytes,
                row_bytes);
}

static void deleteTarget(RenderTarget* target) {
  glDeleteFramebuffers(1, &target->framebuffer);
  glDeleteFramebuffers(1, &target->resolve_framebuffer);
  GLuint renderbuffers[] = {target->colour, target->depth, target->resolve_colour};
  glDeleteRenderbuffers(3, renderbuffers);
  *target = RenderTarget();
}

static bool makeRenderbuffer(GLuint* name, int samples, GLenum format, int width, int height) {
  glGenRenderbuffers(1, name);
  glBindRenderbuffer(GL_RENDERBUFFER, *name);
  while (glGetError() != GL_NO_ERROR) {
  }
  if (samples > 1)
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, format, width, height);
  else
    glRenderbufferStorage(GL_RENDERBUFFER, format, width, height);
  return glGetError() == GL_NO_ERROR;
}

static GLint renderbufferBits(GLenum which) {
  GLint bits = 0;
  glGetRenderbufferParameteriv(GL_RENDERBUFFER, which, &bits);
  return bits;
}

static bool framebufferComplete() { return glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE; }

// The colour format of a request; false for a depth the device does not offer.
static bool colourFormat(const GlContextRequest& request, GLenum* format) {
  if (request.colour_bits == 16 && request.alpha_bits == 0)
    *format = GL_RGB565;
  else if (request.colour_bits == 24 && request.alpha_bits == 0)
    *format = GL_RGB8;
  else if ((request.colour_bits == 24 || request.colour_bits == 32) && request.alpha_bits <= 8)
    *format = GL_RGBA8;
  else
    return false;
  return true;
}

// A depth buffer of the asked depth attached to the bound framebuffer. A 32-bit request takes 24 bits
// where the driver has no 32-bit depth buffer, as a Direct3D driver offering only D24 would be chosen.
static bool attachDepth(DWORD asked_bits, int samples, int width, int height, RenderTarget* target) {
  DWORD depth_bits = asked_bits == 0 ? 24 : asked_bits;
  std::vector<GLenum> depth_formats;
  // OpenGL ES has 32-bit depth only in floating point.
  if (depth_bits == 32)
    depth_formats = {GLenum(kGlEs ? GL_DEPTH_COMPONENT32F : GL_DEPTH_COMPONENT32), GL_DEPTH_COMPONENT24};
  else if (depth_bits == 24)
    depth_formats = {GL_DEPTH_COMPONENT24};
  else if (depth_bits == 16)
    depth_formats = {GL_DEPTH_COMPONENT16};
  for (GLenum format : depth_formats) {
    if (target->depth) glDeleteRenderbuffers(1, &target->depth);
    target->depth = 0;
    if (!makeRenderbuffer(&target->depth, samples, format, width, height)) continue;
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, target->depth);
    bool thirty_two = format != GL_DEPTH_COMPONENT24 && format != GL_DEPTH_COMPONENT16;
    if (framebufferComplete() && renderbufferBits(GL_RENDERBUFFER_DEPTH_SIZE) >= (thirty_two ? 32 : 16)) return true;
  }
  return false;
}

// With multisampling, the single-sampled copy that presentation and capture read.
static bool createResolveTarget(GLenum colour_format, RenderTarget* target, const char** reason) {
  glGenFramebuffers(1, &target->resolve_framebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, target->resolve_framebuffer);
  if (!makeRenderbuffer(&target->resolve_colour, 0, colour_format, target->width, target->height)) {
    *reason = "the resolve buffer cannot be made at that size";
    return false;
  }
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, target->resolve_colour);
  if (!framebufferComplete()) {
    *reason = "the driver does not resolve into that colour format";
    return false;
  }
  return true;
}

// Colour and depth as asked, cleared, or the reason why not.
static bool createTarget(const GlContextRequest& request, int width, int height, int samples, RenderTarget* target,
                         const char** reason) {
  target->width = width;
  target->height = height;
  target->samples = samples;
  target->viewport = gl4by3Viewport(width, height);
  GLenum colour_format;
  if (!colourFormat(request, &colour_format)) {
    *reason = "the colour depth asked for is not offered (16, 24 or 32 bits)";
    return false;
  }
  glGenFramebuffers(1, &target->framebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
  if (!makeRenderbuffer(&target->colour, samples, colour_format, width, height)) {
    *reason = "the colour buffer cannot be made at that size";
    return false;
  }
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, target->colour);
  if (!attachDepth(request.depth_bits, samples, width, height, target)) {
    *reason = "the depth buffer asked for is not offered (16, 24 or 32 bits)";
    return false;
  }
  if (!framebufferComplete()) {
    *reason = "the driver does not render into that colour and depth format";
    return false;
  }
  glViewport(0, 0, width, height);
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);  // to GL's clear depth, 1.0, which nothing changes
  return samples <= 1 || createResolveTarget(colour_format, target, reason);
}

bool GlContext::makeCurrent() { return surface && makeGlSurfaceCurrent(surface); }

void GlContext::bindTarget() {
  glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
  const GlViewport& v = target.viewport;
  glViewport(v.x, v.y, v.width, v.height);
}

// The device's GL objects go while its GL context is still current, before the context itself. A capture
// loses none of the frames presented: the ring's last ones are written first.
GlContext::~GlContext() {
  bool current = makeCurrent();
  if (current) finishReadBacks();
  if (capturing_context == this) {
    if (frame_sink) frame_sink->context_closing();
    capturing_context = nullptr;
  }
  if (device) device->Release();
  device = nullptr;
  if (current && ring_length > 1) {
    glDeleteFramebuffers(kRingLength, ring_framebuffer);
    glDeleteRenderbuffers(kRingLength, ring_colour);
    target.framebuffer = target.colour = 0;
  }
  if (current) deleteTarget(&target);
  if (current && last_frame) glDeleteSync(last_frame);
  if (surface) deleteGlSurface(surface);
}

// The frame the show sees: the multisampled target resolved first.
static GLuint presentedFramebuffer(const RenderTarget& target) {
  if (target.samples <= 1) return target.framebuffer;
  glBindFramebuffer(GL_READ_FRAMEBUFFER, target.framebuffer);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target.resolve_framebuffer);
  glBlitFramebuffer(0, 0, target.width, target.height, 0, 0, target.width, target.height, GL_COLOR_BUFFER_BIT,
                    GL_NEAREST);
  return target.resolve_framebuffer;
}

// Into `rows`, bottom to top as GL reads them, 3 bytes a pixel. OpenGL ES reads RGBA for certain (RGB
// only where the driver chooses to offer it), so there the fourth byte of every pixel is dropped.
void GlContext::readRows(GLuint framebuffer) {
  glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
  size_t pixels = size_t(target.width) * size_t(target.height);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  if (!kGlEs) {
    rows.resize(pixels * 3);
    glReadPixels(0, 0, target.width, target.height, GL_RGB, GL_UNSIGNED_BYTE, rows.data());
    return;
  }
  rows.resize(pixels * 4);
  glReadPixels(0, 0, target.width, target.height, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
  for (size_t i = 0; i < pixels; ++i) std::memmove(rows.data() + 3 * i, rows.data() + 4 * i, 3);
  rows.resize(pixels * 3);
}

void GlContext::readBack(std::vector<uint8_t>* rgb) {
  readRows(ring_length > 1 && shown_framebuffer ? shown_framebuffer : presentedFramebuffer(target));
  copyRowsTopDown(rows.data(), target.width, target.height, true, rgb);
  bindTarget();
}

// The picture scaled into the window's drawable, its shape kept between black bars, and shown. The
// drawable is measured at every frame, so a resize by the viewer, by the window manager or by Alt+Enter
// is followed at once; it is the drawable and not the window that counts, which differ on HiDPI screens.
//
// The window system's events are taken in first. The driver measures the window itself when the
// window's framebuffer is bound below, as the display server has it now; SDL knows a new size only once
// it has read the server's event, which the main loop asks for after presenting. A resize that came
// while the frame was being drawn would otherwise be laid out for the old size into buffers of the new
// one: the old picture cut at the new edge, or a band below it, for a whole frame.
static void present(GlSurface* surface, const RenderTarget& target) {
  pumpScreenEvents();
  GLuint source = presentedFramebuffer(target);
  int drawable_width = 0, drawable_height = 0;
  glSurfaceSize(surface, &drawable_width, &drawable_height);
  GlViewport shown = gl4by3Viewport(drawable_width, drawable_height);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
  // The blit needs no viewport; but some of Mesa's drivers measure the window again only when a
  // viewport is set on its framebuffer, as applications do after a resize.
  glViewport(0, 0, drawable_width, drawable_height);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, source);
  const GlViewport& v = target.viewport;
  glBlitFramebuffer(v.x, v.y, v.x + v.width, v.y + v.height, shown.x, shown.y, shown.x + shown.width,
                    shown.y + shown.height, GL_COLOR_BUFFER_BIT, GL_LINEAR);
  showGlSurface(surface);
}

bool GlContext::readPending() {
  PendingFrame frame = pending.front();
  pending.pop_front();
  waitForGlFence(frame.drawn);
  readRows(ring_framebuffer[frame.slot]);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, target.framebuffer);
  return handOver(frame.index);
}

// The rows just read, to the sink.
bool GlContext::handOver(long index) {
  return frame_sink && frame_sink->take_frame(index, rows.data(), target.width, target.height, true);
}

void GlContext::finishReadBacks() {
  while (!pending.empty()) readPending();
}

bool GlContext::captureDrawnFrame(long index) {
  if (ring_length == 1) {
    readRows(presentedFramebuffer(target));
    bindTarget();
    return handOver(index);
  }
  pending.push_back({slot, index, glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0)});
  glFlush();
  shown_framebuffer = ring_framebuffer[slot];
  slot = (slot + 1) % ring_length;
  // The buffer the next frame is drawn into is read first.
  bool queued = true;
  while (!pending.empty() && pending.front().slot == slot) queued = readPending() && queued;
  target.framebuffer = ring_framebuffer[slot];
  target.colour = ring_colour[slot];
  bindTarget();
  return queued;
}

HRESULT GlContext::UpdateFrame(DWORD) {
  if (!makeCurrent()) return E_FAIL;
  if (glSurfaceShows(surface)) {
    present(surface, target);
    bindTarget();
  }
  if (capturing_context == this && frame_sink) {
    long index = frame_sink->frame_presented();
    if (index >= 0 && !captureDrawnFrame(index)) return E_FAIL;
  } else if (platform_settings.headless) {
    endUnseenFrame();
  }
  return S_OK;
}

// A live run on the offscreen driver shows nothing and reads nothing back, yet its frames must go to
// the driver and be waited for as a swap sends and waits for them: llvmpipe keeps every unflushed draw,
// and every flushed frame not yet drawn, with the streamed buffers each one read, and such a run grew
// by tens of megabytes a second. One frame may be in flight, as behind a swap.
void GlContext::endUnseenFrame() {
  if (last_frame) waitForGlFence(last_frame);
  last_frame = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
  glFlush();
}

void readBackPresentedFrames() {
  if (capturing_context && capturing_context->makeCurrent()) capturing_context->finishReadBacks();
}

// The ring's other buffers beside the target's own, black like it; false when one cannot be made (the
// capture then reads every frame as it is presented).
static bool createRing(const GlContextRequest& request, GlContext* context) {
  RenderTarget& target = context->target;
  GLenum colour_format;
  if (!colourFormat(request, &colour_format)) return false;
  context->ring_framebuffer[0] = target.framebuffer;
  context->ring_colour[0] = target.colour;
  for (int i = 1; i < kRingLength; ++i) {
    glGenFramebuffers(1, &context->ring_framebuffer[i]);
    glBindFramebuffer(GL_FRAMEBUFFER, context->ring_framebuffer[i]);
    if (!makeRenderbuffer(&context->ring_colour[i], 0, colour_format, target.width, target.height)) return false;
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, context->ring_colour[i]);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, target.depth);
    if (!framebufferComplete()) return false;
    glClear(GL_COLOR_BUFFER_BIT);
  }
  context->ring_length = kRingLength;
  return true;
}

static void deleteRing(GlContext* context) {
  for (int i = 1; i < kRingLength; ++i) {
    glDeleteFramebuffers(1, &context->ring_framebuffer[i]);
    glDeleteRenderbuffers(1, &context->ring_colour[i]);
    context->ring_framebuffer[i] = context->ring_colour[i] = 0;
  }
}

HRESULT GlContext::Clear(DWORD flags) {
  if (!makeCurrent()) return E_FAIL;
  clearGlTarget(device, flags);
  return S_OK;
}

static HRESULT fail(const char* reason) {
  std::fprintf(stderr, "narvu: cannot create the OpenGL context: %s\n", reason);
  return D3DXERR_NODIRECT3DDEVICEAVAILABLE;
}

static HRESULT createContextOnWindow(const GlContextRequest& request, ID3DXContext** out) {
  std::string problem;
  GlSurface* surface = createGlSurface(request.window, &problem);
  if (!surface) return fail(problem.c_str());
  GlContext* context = new GlContext;
  context->surface = surface;

  GLint max_texture = 0, max_renderbuffer = 0, max_samples = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_texture);
  glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &max_renderbuffer);
  glGetIntegerv(GL_MAX_SAMPLES, &max_samples);
  // The device's largest texture, but no more than 4096: a picture that declares more is refused
  // before its pixels are allocated, so a few bytes of JPEG header cannot ask for gigabytes.
  setMaxTextureSize(DWORD(std::min(max_texture, GLint(kLargestTexture))));

  int width = platform_settings.render_width > 0 ? platform_settings.render_width : int(request.width);
  int height = platform_settings.render_height > 0 ? platform_settings.render_height : int(request.height);
  int samples = std::min(std::max(platform_settings.msaa_samples, 0), max_samples);
  // Fewer samples than asked is a different picture: said, as a missing --display is.
  if (samples < platform_settings.msaa_samples)
    std::fprintf(stderr, "narvu: --msaa %d is more than the %d samples this driver offers; drawing with %d\n",
                 platform_settings.msaa_samples, int(max_samples), samples);
  const char* reason = nullptr;
  if (width <= 0 || height <= 0 || width > max_renderbuffer || height > max_renderbuffer) {
    reason = "the render size is beyond what the driver draws into";
  } else if (!createTarget(request, width, height, samples > 1 ? samples : 0, &context->target, &reason)) {
    // reason set
  } else if (!(context->device = createGlDevice(width, height))) {
    reason = "the device's shaders do not build";
  }
  if (reason) {
    context->Release();
    return fail(reason);
  }
  // WebGL tells of a fence only between the browser's turns, and its glReadPixels waits for the frame
  // anyway: the page reads each frame as it is presented.
  if (frame_sink) {
    capturing_context = context;
    if (!kGlEs && context->target.samples <= 1 && !createRing(request, context)) deleteRing(context);
  }
  context->direct3d = new MemoryDirect3D;
  context->bindTarget();

  // Live runs wait for the display's refresh unless told not to; headless runs and captures go as fast
  // as they can.
  bool live = !platform_settings.headless && !frame_sink;
  setGlSurfaceVsync(surface, live && platform_settings.vsync);
  *out = context;
  return S_OK;
}

HRESULT createGlContext(const GlContextRequest& request, ID3DXContext** out) {
  if (!out) return DDERR_INVALIDPARAMS;
  if (!screenWindowOf(request.window)) return fail("there is no window to draw in");
  // Full screen before the GL context: the driver sizes the window's buffers when the context is first
  // made current and notices a later change only after a frame has gone into buffers of the old size.
  bool fullscreen = request.fullscreen && !platform_settings.windowed && setWindowFullscreen(request.window, true);
  HRESULT result = createContextOnWindow(request, out);
  // A failure's message box must not hide behind a window that covers the screen.
  if (FAILED(result) && fullscreen) setWindowFullscreen(request.window, false);
  return result;
}

bool readGlRenderTarget(ID3DXContext* context, std::vector<uint8_t>* rgb, int* width, int* height) {
  GlContext* gl_context = dynamic_cast<GlContext*>(context);
  if (!gl_context || !rgb || !gl_context->makeCurrent()) return false;
  gl_context->readBack(rgb);
  if (width) *width = gl_context->target.width;
  if (height) *height = gl_context->target.height;
  return true;
}

void endGlFrame(ID3DXContext* context, bool wait) {
  GlContext* gl_context = dynamic_cast<GlContext*>(context);
  if (!gl_context || !gl_context->makeCurrent()) return;
  if (wait)
    glFinish();
  else
    glFlush();
}
