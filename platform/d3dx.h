// The rendering context library (D3DX) as the show calls it: start-up, the list of devices, context
// creation, presentation, and textures with their mip chains filled from pictures in memory
// (platform/d3dx_context.cpp, platform/d3dx_texture.cpp, the OpenGL side in platform/gl_context.cpp).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3d7.h"

constexpr DWORD D3DX_DEFAULT = 0xFFFFFFFF;
constexpr DWORD D3DX_HWLEVEL_TL = 0xFFFFFFFA;         // -6
constexpr DWORD D3DX_HWLEVEL_RASTER = 0xFFFFFFFB;     // -5
constexpr DWORD D3DX_HWLEVEL_2D = 0xFFFFFFFC;         // -4, the software RGB class
constexpr DWORD D3DX_HWLEVEL_REFERENCE = 0xFFFFFFFD;  // -3
constexpr DWORD D3DX_HWLEVEL_NULL = 0xFFFFFFFE;       // -2
constexpr DWORD D3DX_CONTEXT_FULLSCREEN = 1;
constexpr DWORD D3DCLEAR_TARGET = 1, D3DCLEAR_ZBUFFER = 2;
constexpr HRESULT D3DXERR_NODIRECT3DDEVICEAVAILABLE = static_cast<HRESULT>(0x88760801u);
constexpr HRESULT D3DXERR_NOTINITIALIZED = static_cast<HRESULT>(0x88760808u);

enum D3DX_SURFACEFORMAT : DWORD {
  D3DX_SF_UNKNOWN = 0,
  D3DX_SF_R8G8B8 = 1,
  D3DX_SF_A8R8G8B8 = 2,
  D3DX_SF_X8R8G8B8 = 3,
  D3DX_SF_R5G6B5 = 4,
};
enum D3DX_FILTERTYPE : DWORD { D3DX_FT_POINT = 1, D3DX_FT_LINEAR = 2, D3DX_FT_DEFAULT = 0xFFFFFFFF };

// 320 bytes: index at 0, class at 4, three GUIDs at 8, 24, 40, driver text at 56, monitor at 312,
// on-primary flag at 316.
struct D3DX_DEVICEDESC {
  DWORD deviceIndex;
  DWORD hwLevel;
  BYTE ddGuid[16];
  BYTE d3dDeviceGuid[16];
  BYTE ddDeviceID[16];
  char driverDesc[256];
  DWORD monitor;
  DWORD onPrimary;
};
static_assert(sizeof(D3DX_DEVICEDESC) == 320, "device description is 320 bytes");

class ID3DXContext : public IUnknown {
 public:
  virtual IDirect3D7* GetD3D() = 0;                // adds a reference
  virtual IDirect3DDevice7* GetD3DDevice() = 0;    // adds a reference
  virtual HRESULT UpdateFrame(DWORD flags) = 0;    // presents (and captures) the render target
  virtual HRESULT Clear(DWORD flags) = 0;          // D3DCLEAR_ZBUFFER clears depth to 1.0
};

HRESULT D3DXInitialize();
HRESULT D3DXUninitialize();
DWORD D3DXGetDeviceCount();
HRESULT D3DXGetDeviceDescription(DWORD device, D3DX_DEVICEDESC* description);
HRESULT D3DXCreateContextEx(DWORD device, DWORD flags, HWND window, HWND focus_window, DWORD colour_bits,
                            DWORD alpha_bits, DWORD depth_bits, DWORD stencil_bits, DWORD back_buffers,
                            DWORD width, DWORD height, DWORD refresh_rate, ID3DXContext** context);
HRESULT D3DXCreateContext(DWORD device, DWORD flags, HWND window, DWORD width, DWORD height,
                          ID3DXContext** context);

// Tests: makes the next `count` context creations fail, as a device without the asked modes would.
void failNextContextCreations(int count);

// Texture calls. The texture is created with a complete mip chain in the accepted format.
HRESULT D3DXCreateTexture(IDirect3DDevice7* device, DWORD* flags, DWORD* width, DWORD* height,
                          D3DX_SURFACEFORMAT* format, void* palette, IDirectDrawSurface7** texture,
                          DWORD* mip_levels);
// Fills the whole level from the whole source rectangle with the filter: point takes the texel nearest
// to each level texel's centre; linear (and any other code) a bilinear sample of the four texels nearest
// to it, at (x + 0.5) · source width / level width − 0.5 (rows likewise), clamped to the outermost
// texel centres. A level of the rectangle's own size is a copy. A level past the chain fills the last
// level. pitch 0 is the default (width × 4 for X8R8G8B8).
HRESULT D3DXLoadTextureFromMemory(IDirect3DDevice7* device, IDirectDrawSurface7* texture, DWORD mip_level,
                                  void* source, void* palette, D3DX_SURFACEFORMAT source_format,
                                  DWORD source_pitch, const int source_rect[4], D3DX_FILTERTYPE filter);

// The texture the D3DX calls make: every level kept in memory in its format. The GL device uploads a
// level when it is filled through it, and the whole chain when it is drawn after a fill it did not see.
class TextureSurface : public ReferenceCounted<IDirectDrawSurface7> {
 public:
  D3DX_SURFACEFORMAT format = D3DX_SF_R8G8B8;
  DWORD width = 0, height = 0;
  struct Level {
    DWORD width, height;
    std::vector<uint8_t> bytes;  // R8G8B8: B, G, R per texel; R5G6B5: little-endian 16-bit words
  };
  std::vector<Level> levels;
  uint32_t generation = 0;     // counts level fills
  uint32_t gl_texture = 0;     // the GL device's texture name, 0 until first uploaded
  uint32_t gl_generation = 0;  // generation last uploaded
};
// Largest texture edge the device accepts.
DWORD maxTextureSize();

// This port's addition, for seeking: with drawing off a device keeps every state it is given, and its
// EndScene still moves the clock on, but it draws and clears nothing. On by default.
void setDeviceDrawing(IDirect3DDevice7* device, bool drawing);
// This port's addition, for start-up: while a device prepares, its draws make ready everything a draw
// in their state needs and draw nothing. The GL device builds the shader program of the state, uploads
// the stages' textures if they are not in GL yet, and hands GL the whole state with a triangle that
// covers no pixel, so the driver generates its own code for the state too (llvmpipe does that at a
// state's first draw). Clearing does nothing. When the preparation ends the device gets back every
// state it had when it began, so what is drawn afterwards is what it would have been without it.
void setDevicePreparing(IDirect3DDevice7* device, bool preparing);

// This port's addition, for capture: a sink that takes the pixels of presented frames. Installed
// before the context is created, it makes the context read every presented frame back (late, from a
// ring of render targets, so that reading never waits for the frames drawn after it) and never wait
// for the display's refresh. The sink's functions are called on the thread that presents.
struct PresentedFrameSink {
  // At every UpdateFrame: the frame's number when its pixels are wanted, -1 when not.
  long (*frame_presented)();
  // The pixels of a frame numbered by frame_presented, in that order: 3 bytes a pixel (R, G, B), rows
  // bottom to top when `bottom_up` (as GL reads them). False when the sink takes no more frames.
  bool (*take_frame)(long index, const uint8_t* rows, int width, int height, bool bottom_up);
  // The context is going: every frame handed over must be written before it returns.
  void (*context_closing)();
};
// Null removes it (the contexts created afterwards read nothing back).
void setPresentedFrameSink(const PresentedFrameSink* sink);
// Rows of `width` 3-byte pixels into `out`, top to bottom: `rows` run bottom to top when `bottom_up`, as
// GL reads them. The one flip of a frame read back, for the context and the capture's writers alike.
void copyRowsTopDown(const uint8_t* rows, int width, int height, bool bottom_up, std::vector<uint8_t>* out);
// The frames presented but not read back yet, read and handed to the sink now (the end of a capture).
void readBackPresentedFrames();
