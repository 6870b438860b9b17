// The platform stand-ins: the Windows, Direct3D 7, D3DX and sound-library calls that the show makes,
// with their names, types and constants, implemented on SDL2, OpenGL 3.3 core and libopenmpt.
//
// This is the one header the rest of the program includes from platform/. Nothing outside platform/
// includes SDL, GL, EGL, libopenmpt or a Linux header; everything the show needs of them is here.
//
// Threading: every call is made from the main thread, except the sound library, which mixes in SDL's
// audio thread and calls the installed file callbacks only while FMUSIC_LoadSong runs (main thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------------------------------
// Win32 types and constants (platform/win32.cpp)
// ---------------------------------------------------------------------------------------------------
typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int32_t HRESULT;
typedef uint16_t ATOM;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;

struct WindowRecord;
typedef WindowRecord* HWND;
typedef void* HINSTANCE;
typedef void* HICON;
typedef void* HCURSOR;
typedef void* HBRUSH;
typedef void* HMENU;

typedef LRESULT (*WNDPROC)(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
};

struct WNDCLASSEXA {
  UINT cbSize;
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  const char* lpszMenuName;
  const char* lpszClassName;
  HICON hIconSm;
};

// Macros, as Windows and libjpeg both define them, so either header may come first.
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT DDERR_INVALIDPARAMS = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT DDERR_GENERIC = E_FAIL;
inline bool FAILED(HRESULT result) { return result < 0; }
inline bool SUCCEEDED(HRESULT result) { return result >= 0; }

constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;
constexpr WPARAM VK_ESCAPE = 27;
constexpr WPARAM VK_SPACE = 32;
constexpr WPARAM VK_F12 = 123;

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_ICONERROR = 0x10;
constexpr int IDOK = 1;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

constexpr UINT CS_DBLCLKS = 0x0008;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);
constexpr int SW_SHOW = 5;
constexpr int SW_SHOWNORMAL = 1;
constexpr int COLOR_APPWORKSPACE = 12;
#define IDI_APPLICATION (reinterpret_cast<const char*>(32512))
#define IDC_ARROW (reinterpret_cast<const char*>(32512))

ATOM RegisterClassExA(const WNDCLASSEXA* window_class);
HWND CreateWindowExA(DWORD ex_style, const char* class_name, const char* caption, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
BOOL ShowWindow(HWND window, int show_command);
BOOL DestroyWindow(HWND window);
// Takes at most one queued message of `window` (PM_REMOVE) into `message`; FALSE when none is queued.
BOOL PeekMessageA(MSG* message, HWND window, UINT filter_min, UINT filter_max, UINT remove);
BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// WM_CLOSE destroys the window, which calls its window procedure with WM_DESTROY before returning.
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// With a display: an SDL message box. Without one (headless, capture): "caption: text" on standard
// error (no second colon after a caption that ends in one) and the default (first) button. Tests may script the answer with setMessageBoxResponder.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
HCURSOR SetCursor(HCURSOR cursor);
HICON LoadIconA(HINSTANCE instance, const char* name);
HCURSOR LoadCursorA(HINSTANCE instance, const char* name);
HBRUSH GetSysColorBrush(int index);
// The running executable's path (from /proc/self/exe); the length written, 0 on failure.
DWORD GetModuleFileNameA(HINSTANCE module, char* path, DWORD size);
// Milliseconds, 32 bits, wrapping. The virtual clock in capture and tests (see PlatformSettings).
DWORD GetTickCount();
// Suspends the calling thread (platform/sleep.cpp).
void Sleep(DWORD milliseconds);

// ---------------------------------------------------------------------------------------------------
// Run-time settings of the stand-ins (platform/settings.cpp). main() fills them from its options
// before WinMain; tests set them directly.
// ---------------------------------------------------------------------------------------------------
struct PlatformSettings {
  bool virtual_clock = false;    // GetTickCount advances by one frame period at every EndScene
  int fps = 60;                  // frame rate of the virtual clock
  std::string capture_path;      // non-empty: write every presented frame (PNG folder or video file)
  bool headless = false;         // no display: SDL's offscreen driver, message boxes on standard error
  bool windowed = false;         // a 640 × 480 window instead of a desktop-sized one
  int render_width = 640;        // size of the off-screen render target
  int render_height = 480;
  int msaa_samples = 0;          // multisampling of the render target (0: none)
  int anisotropy = 0;            // anisotropic filtering (0: off)
  int video_crf = -1;            // video capture quality (-1: the encoder's near-lossless default)
  double capture_from_seconds = 0;    // frames before this moment of the timeline are not written
  double capture_to_seconds = -1;     // frames after it are not written (-1: to the end)
};
extern PlatformSettings platform_settings;

// Virtual clock: GetTickCount() = virtual_clock_origin + floor(frames * 1000 / fps).
void advanceVirtualClock();          // called by the devices' EndScene
// Whether --capture names a video file (.mp4, .mkv, .webm) rather than a folder.
bool captureIsVideo();
// False, with the reason, when the capture target cannot be made (a video without ffmpeg).
bool captureTargetUsable(std::string* error);
void resetVirtualClock(DWORD origin);  // tests

// Message boxes in tests: the responder answers instead of a box or the default button.
typedef int (*MessageBoxResponder)(const char* text, const char* caption, UINT type);
void setMessageBoxResponder(MessageBoxResponder responder);
// Feeds an SDL-independent key press into the window's queue (tests): WM_KEYDOWN with the key.
void injectKeyDown(HWND window, WPARAM virtual_key);
// Puts a close-box press into the window's queue (tests): WM_CLOSE.
void injectCloseBox(HWND window);
// True when a display can be opened (or the offscreen driver was asked for).
bool displayAvailable();
// Forgets every window and class (tests that run the show more than once in one process).
void resetWindows();

// ---------------------------------------------------------------------------------------------------
// Direct3D 7 types and constants (platform/d3d7_*.cpp)
// ---------------------------------------------------------------------------------------------------
typedef DWORD D3DCOLOR;
typedef float D3DVALUE;

struct D3DMATRIX {
  float m[4][4];
};
struct D3DVECTOR {
  float x, y, z;
};
struct D3DCOLORVALUE {
  float r, g, b, a;
};

enum D3DLIGHTTYPE : DWORD { D3DLIGHT_POINT = 1, D3DLIGHT_SPOT = 2, D3DLIGHT_DIRECTIONAL = 3 };

struct D3DLIGHT7 {
  D3DLIGHTTYPE dltType;
  D3DCOLORVALUE dcvDiffuse;
  D3DCOLORVALUE dcvSpecular;
  D3DCOLORVALUE dcvAmbient;
  D3DVECTOR dvPosition;
  D3DVECTOR dvDirection;
  float dvRange;
  float dvFalloff;
  float dvAttenuation0;
  float dvAttenuation1;
  float dvAttenuation2;
  float dvTheta;
  float dvPhi;
};

struct D3DMATERIAL7 {
  D3DCOLORVALUE dcvDiffuse;
  D3DCOLORVALUE dcvAmbient;
  D3DCOLORVALUE dcvSpecular;
  D3DCOLORVALUE dcvEmissive;
  float dvPower;
};

struct D3DVERTEXBUFFERDESC {
  DWORD dwSize;
  DWORD dwCaps;
  DWORD dwFVF;
  DWORD dwNumVertices;
};

enum D3DTRANSFORMSTATETYPE : DWORD {
  D3DTRANSFORMSTATE_WORLD = 1,
  D3DTRANSFORMSTATE_VIEW = 2,
  D3DTRANSFORMSTATE_PROJECTION = 3,
};

enum D3DRENDERSTATETYPE : DWORD {
  D3DRENDERSTATE_ZENABLE = 7,
  D3DRENDERSTATE_FILLMODE = 8,
  D3DRENDERSTATE_SHADEMODE = 9,
  D3DRENDERSTATE_ZWRITEENABLE = 14,
  D3DRENDERSTATE_ALPHATESTENABLE = 15,
  D3DRENDERSTATE_SRCBLEND = 19,
  D3DRENDERSTATE_DESTBLEND = 20,
  D3DRENDERSTATE_CULLMODE = 22,
  D3DRENDERSTATE_ZFUNC = 23,
  D3DRENDERSTATE_ALPHAREF = 24,
  D3DRENDERSTATE_ALPHAFUNC = 25,
  D3DRENDERSTATE_DITHERENABLE = 26,
  D3DRENDERSTATE_ALPHABLENDENABLE = 27,
  D3DRENDERSTATE_FOGENABLE = 28,
  D3DRENDERSTATE_SPECULARENABLE = 29,
  D3DRENDERSTATE_TEXTUREFACTOR = 60,
  D3DRENDERSTATE_CLIPPING = 136,
  D3DRENDERSTATE_LIGHTING = 137,
  D3DRENDERSTATE_AMBIENT = 139,
  D3DRENDERSTATE_COLORVERTEX = 141,
  D3DRENDERSTATE_LOCALVIEWER = 142,
  D3DRENDERSTATE_NORMALIZENORMALS = 143,
  D3DRENDERSTATE_DIFFUSEMATERIALSOURCE = 145,
  D3DRENDERSTATE_SPECULARMATERIALSOURCE = 146,
  D3DRENDERSTATE_AMBIENTMATERIALSOURCE = 147,
  D3DRENDERSTATE_EMISSIVEMATERIALSOURCE = 148,
};
constexpr DWORD kRenderStateCount = 256;

enum D3DTEXTURESTAGESTATETYPE : DWORD {
  D3DTSS_COLOROP = 1,
  D3DTSS_COLORARG1 = 2,
  D3DTSS_COLORARG2 = 3,
  D3DTSS_ALPHAOP = 4,
  D3DTSS_ALPHAARG1 = 5,
  D3DTSS_ALPHAARG2 = 6,
  D3DTSS_TEXCOORDINDEX = 11,
  D3DTSS_ADDRESS = 12,
  D3DTSS_ADDRESSU = 13,
  D3DTSS_ADDRESSV = 14,
  D3DTSS_MAGFILTER = 16,
  D3DTSS_MINFILTER = 17,
  D3DTSS_MIPFILTER = 18,
  D3DTSS_MAXANISOTROPY = 21,
};
constexpr DWORD kTextureStageStateCount = 32;
constexpr DWORD kTextureStageCount = 8;  // stages the device keeps state for; 0 and 1 draw

enum D3DPRIMITIVETYPE : DWORD {
  D3DPT_POINTLIST = 1,
  D3DPT_LINELIST = 2,
  D3DPT_LINESTRIP = 3,
  D3DPT_TRIANGLELIST = 4,
  D3DPT_TRIANGLESTRIP = 5,
  D3DPT_TRIANGLEFAN = 6,
};

// Render-state values.
constexpr DWORD D3DCULL_NONE = 1, D3DCULL_CW = 2, D3DCULL_CCW = 3;
constexpr DWORD D3DCMP_NEVER = 1, D3DCMP_LESS = 2, D3DCMP_EQUAL = 3, D3DCMP_LESSEQUAL = 4, D3DCMP_GREATER = 5,
                D3DCMP_NOTEQUAL = 6, D3DCMP_GREATEREQUAL = 7, D3DCMP_ALWAYS = 8;
constexpr DWORD D3DBLEND_ZERO = 1, D3DBLEND_ONE = 2, D3DBLEND_SRCCOLOR = 3, D3DBLEND_INVSRCCOLOR = 4,
                D3DBLEND_SRCALPHA = 5, D3DBLEND_INVSRCALPHA = 6, D3DBLEND_DESTALPHA = 7,
                D3DBLEND_INVDESTALPHA = 8, D3DBLEND_DESTCOLOR = 9, D3DBLEND_INVDESTCOLOR = 10;
constexpr DWORD D3DSHADE_FLAT = 1, D3DSHADE_GOURAUD = 2;
constexpr DWORD D3DMCS_MATERIAL = 0, D3DMCS_COLOR1 = 1, D3DMCS_COLOR2 = 2;

// Texture-stage values.
constexpr DWORD D3DTOP_DISABLE = 1, D3DTOP_SELECTARG1 = 2, D3DTOP_SELECTARG2 = 3, D3DTOP_MODULATE = 4,
                D3DTOP_BLENDFACTORALPHA = 14;
constexpr DWORD D3DTA_DIFFUSE = 0, D3DTA_CURRENT = 1, D3DTA_TEXTURE = 2, D3DTA_TFACTOR = 3,
                D3DTA_SPECULAR = 4;
constexpr DWORD D3DTADDRESS_WRAP = 1, D3DTADDRESS_MIRROR = 2, D3DTADDRESS_CLAMP = 3;
constexpr DWORD D3DTFG_POINT = 1, D3DTFG_LINEAR = 2, D3DTFG_ANISOTROPIC = 5;
constexpr DWORD D3DTFN_POINT = 1, D3DTFN_LINEAR = 2, D3DTFN_ANISOTROPIC = 3;
constexpr DWORD D3DTFP_NONE = 1, D3DTFP_POINT = 2, D3DTFP_LINEAR = 3;

// Flexible vertex formats.
constexpr DWORD D3DFVF_XYZ = 0x002, D3DFVF_XYZRHW = 0x004, D3DFVF_NORMAL = 0x010, D3DFVF_RESERVED1 = 0x020,
                D3DFVF_DIFFUSE = 0x040, D3DFVF_SPECULAR = 0x080, D3DFVF_TEX1 = 0x100, D3DFVF_TEX2 = 0x200;
constexpr DWORD D3DFVF_LVERTEX = D3DFVF_XYZ | D3DFVF_RESERVED1 | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1;
constexpr DWORD D3DFVF_TLVERTEX = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1;
// Bytes of one vertex of a format; 0 for a format the device does not draw.
DWORD fvfVertexSize(DWORD fvf);

constexpr DWORD DDLOCK_WAIT = 0x1, DDLOCK_WRITEONLY = 0x20, DDLOCK_DISCARDCONTENTS = 0x2000;
constexpr DWORD D3DVBCAPS_SYSTEMMEMORY = 0x800, D3DVBCAPS_WRITEONLY = 0x10000;
constexpr float D3DLIGHT_RANGE_MAX = 1.8446743e19f;  // sqrt of the largest float, bits 0x5F7FFFFF
constexpr DWORD kMaxLights = 8;

// ---------------------------------------------------------------------------------------------------
// Direct3D 7 interfaces: the platform's COM objects, abstract classes with reference counts.
// ---------------------------------------------------------------------------------------------------
class IUnknown {
 public:
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};

// A texture with its mip chain (see TextureSurface in the texture calls below).
class IDirectDrawSurface7 : public IUnknown {};

class IDirect3DVertexBuffer7 : public IUnknown {
 public:
  // DDLOCK_DISCARDCONTENTS lets the device throw the old contents away. *size receives the bytes.
  virtual HRESULT Lock(DWORD flags, void** data, DWORD* size) = 0;
  virtual HRESULT Unlock() = 0;
};

class IDirect3D7 : public IUnknown {
 public:
  virtual HRESULT CreateVertexBuffer(D3DVERTEXBUFFERDESC* description, IDirect3DVertexBuffer7** buffer,
                                     DWORD flags) = 0;
};

class IDirect3DDevice7 : public IUnknown {
 public:
  virtual HRESULT BeginScene() = 0;
  virtual HRESULT EndScene() = 0;
  virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
  virtual HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) = 0;
  virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) = 0;
  virtual HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD* value) = 0;
  virtual HRESULT SetTexture(DWORD stage, IDirectDrawSurface7* texture) = 0;
  virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) = 0;
  virtual HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) = 0;
  virtual HRESULT SetLight(DWORD index, D3DLIGHT7* light) = 0;
  virtual HRESULT LightEnable(DWORD index, BOOL enable) = 0;
  virtual HRESULT SetMaterial(D3DMATERIAL7* material) = 0;
  virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD vertex_count,
                                DWORD flags) = 0;
  virtual HRESULT DrawPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* buffer, DWORD start_vertex,
                                  DWORD vertex_count, DWORD flags) = 0;
  // Indices are 16-bit, in application memory, relative to start_vertex.
  virtual HRESULT DrawIndexedPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* buffer,
                                         DWORD start_vertex, DWORD vertex_count, WORD* indices,
                                         DWORD index_count, DWORD flags) = 0;
};

// Every state a device has been given: what the Set calls last stored, starting from the Direct3D 7
// defaults. Both devices keep one; the GL device compares it with what GL was last given.
struct DeviceState {
  DWORD render[kRenderStateCount];
  DWORD stage[kTextureStageCount][kTextureStageStateCount];
  IDirectDrawSurface7* texture[kTextureStageCount];
  D3DMATRIX world, view, projection;
  D3DLIGHT7 light[kMaxLights];
  bool light_enabled[kMaxLights];
  D3DMATERIAL7 material;
  bool in_scene;
};
void setDefaultDeviceState(DeviceState* state);

// The part of a device that every implementation shares: reference count, the state shadow, the
// Set/Get calls and the scene bracket. Draw calls are the implementation's.
class ShadowDevice : public IDirect3DDevice7 {
 public:
  ShadowDevice();
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT BeginScene() override;
  HRESULT EndScene() override;  // advances the virtual clock
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) override;
  HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD* value) override;
  HRESULT SetTexture(DWORD stage, IDirectDrawSurface7* texture) override;
  HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
  HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
  HRESULT SetLight(DWORD index, D3DLIGHT7* light) override;
  HRESULT LightEnable(DWORD index, BOOL enable) override;
  HRESULT SetMaterial(D3DMATERIAL7* material) override;

  DeviceState state;

 protected:
  ~ShadowDevice() override = default;
  ULONG references = 1;
};

// The null device: draws nothing and logs every call with its arguments, one line a call, e.g.
// "SetRenderState 27 1", "SetTexture 0 texture#3", "DrawIndexedPrimitiveVB 4 buffer#1 0 12 36 0".
// Textures and buffers are named by the order in which the log first saw them.
class RecordingDevice : public ShadowDevice {
 public:
  HRESULT BeginScene() override;
  HRESULT EndScene() override;
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) override;
  HRESULT SetTexture(DWORD stage, IDirectDrawSurface7* texture) override;
  HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
  HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
  HRESULT SetLight(DWORD index, D3DLIGHT7* light) override;
  HRESULT LightEnable(DWORD index, BOOL enable) override;
  HRESULT SetMaterial(D3DMATERIAL7* material) override;
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD vertex_count,
                        DWORD flags) override;
  HRESULT DrawPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* buffer, DWORD start_vertex,
                          DWORD vertex_count, DWORD flags) override;
  HRESULT DrawIndexedPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* buffer, DWORD start_vertex,
                                 DWORD vertex_count, WORD* indices, DWORD index_count, DWORD flags) override;

  std::vector<std::string> calls;  // the log, oldest first
  bool recording = true;           // false: keep the shadow, log nothing (benchmarks)
  std::string objectName(const void* object);  // "texture#N", "buffer#N" or "null"

 private:
  std::vector<const void*> named_objects;
  void log(const std::string& line);
};

// A vertex buffer in system memory, as both devices use (platform/vertex_buffer.cpp).
class MemoryVertexBuffer : public IDirect3DVertexBuffer7 {
 public:
  MemoryVertexBuffer(DWORD fvf, DWORD vertex_count);
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT Lock(DWORD flags, void** data, DWORD* size) override;
  HRESULT Unlock() override;

  DWORD fvf;
  DWORD vertex_count;
  DWORD vertex_size;
  std::vector<uint8_t> bytes;
  bool locked = false;
  uint32_t generation = 0;  // counts unlocks, so a device re-uploads only changed contents

 private:
  ULONG references = 1;
};

// The Direct3D object both devices hand out: it makes MemoryVertexBuffers.
class MemoryDirect3D : public IDirect3D7 {
 public:
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT CreateVertexBuffer(D3DVERTEXBUFFERDESC* description, IDirect3DVertexBuffer7** buffer,
                             DWORD flags) override;

 private:
  ULONG references = 1;
};

// ---------------------------------------------------------------------------------------------------
// The rendering context library, D3DX (platform/d3dx_context.cpp, platform/d3dx_texture.cpp)
// ---------------------------------------------------------------------------------------------------
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
// Resamples the whole source rectangle into the whole level with the filter (linear: stb's resampler).
// A level past the chain fills the last level. pitch 0 is the default (width × 4 for X8R8G8B8).
HRESULT D3DXLoadTextureFromMemory(IDirect3DDevice7* device, IDirectDrawSurface7* texture, DWORD mip_level,
                                  void* source, void* palette, D3DX_SURFACEFORMAT source_format,
                                  DWORD source_pitch, const int source_rect[4], D3DX_FILTERTYPE filter);

// The texture the D3DX calls make: every level kept in memory in its format, uploaded to GL by the GL
// device when a level changed since the last upload.
class TextureSurface : public IDirectDrawSurface7 {
 public:
  ULONG AddRef() override;
  ULONG Release() override;

  D3DX_SURFACEFORMAT format = D3DX_SF_R8G8B8;
  DWORD width = 0, height = 0;
  struct Level {
    DWORD width, height;
    std::vector<uint8_t> bytes;  // R8G8B8: B, G, R per texel; R5G6B5: little-endian 16-bit words
  };
  std::vector<Level> levels;
  uint32_t generation = 0;     // counts level fills
  uint32_t gl_texture = 0;     // the GL device's texture name, 0 until first bound
  uint32_t gl_generation = 0;  // generation last uploaded

 private:
  ULONG references = 1;
};
// Largest texture edge the device accepts.
DWORD maxTextureSize();

// ---------------------------------------------------------------------------------------------------
// The sound library (platform/fmod.cpp), on libopenmpt and SDL2 audio
// ---------------------------------------------------------------------------------------------------
struct FMUSIC_MODULE;
// A file handle passed through the library: pointer-sized here, so a pointer survives the trip.
typedef uintptr_t FSOUND_FILEHANDLE;
typedef FSOUND_FILEHANDLE (*FSOUND_OPENCALLBACK)(const char* name);
typedef void (*FSOUND_CLOSECALLBACK)(FSOUND_FILEHANDLE handle);
typedef int (*FSOUND_READCALLBACK)(void* buffer, int size, FSOUND_FILEHANDLE handle);
typedef int (*FSOUND_SEEKCALLBACK)(FSOUND_FILEHANDLE handle, int position, signed char mode);
typedef int (*FSOUND_TELLCALLBACK)(FSOUND_FILEHANDLE handle);

enum FMOD_ERRORS {
  FMOD_ERR_NONE = 0,
  FMOD_ERR_BUSY = 1,
  FMOD_ERR_UNINITIALIZED = 2,
  FMOD_ERR_INIT = 3,
  FMOD_ERR_ALLOCATED = 4,
  FMOD_ERR_PLAY = 5,
  FMOD_ERR_OUTPUT_FORMAT = 6,
  FMOD_ERR_COOPERATIVELEVEL = 7,
  FMOD_ERR_CREATEBUFFER = 8,
  FMOD_ERR_FILE_NOTFOUND = 9,
  FMOD_ERR_FILE_FORMAT = 10,
  FMOD_ERR_FILE_BAD = 11,
  FMOD_ERR_MEMORY = 12,
  FMOD_ERR_VERSION = 13,
  FMOD_ERR_INVALID_PARAM = 14,
};

float FSOUND_GetVersion();
signed char FSOUND_Init(int mix_rate, int max_software_channels, unsigned int flags);
int FSOUND_GetError();
void FSOUND_File_SetCallbacks(FSOUND_OPENCALLBACK open, FSOUND_CLOSECALLBACK close, FSOUND_READCALLBACK read,
                              FSOUND_SEEKCALLBACK seek, FSOUND_TELLCALLBACK tell);
FMUSIC_MODULE* FMUSIC_LoadSong(const char* name);
signed char FMUSIC_PlaySong(FMUSIC_MODULE* module);
signed char FMUSIC_FreeSong(FMUSIC_MODULE* module);
void FSOUND_Close();
// The library's other song calls, for the music-only check and the tests.
signed char FMUSIC_StopSong(FMUSIC_MODULE* module);
signed char FMUSIC_SetLooping(FMUSIC_MODULE* module, signed char looping);  // songs loop by default
signed char FMUSIC_IsFinished(FMUSIC_MODULE* module);  // a song without looping has played to its end
int FMUSIC_GetTime(FMUSIC_MODULE* module);             // milliseconds since PlaySong, -1 for none

// This port's additions: facts for people checking a module, and offline rendering.
struct SongFacts {
  std::string title;
  std::string format;   // e.g. "FastTracker 2 v1.04"
  std::string tracker;  // the tracker the module says it was made with, as the player reads it
  int channels = 0;
  int patterns = 0;
  int orders = 0;
  int instruments = 0;
  int samples = 0;
  double length_seconds = 0;  // one pass through the order table
};
bool songFacts(FMUSIC_MODULE* module, SongFacts* facts);
// Renders the next `frames` stereo frames (interleaved 16-bit, the FSOUND_Init mixing rate, 44100 Hz
// before it) from the song's current position into `output`; frames after the song's end are silent.
// Returns the frames that held music. Only for a song that is not playing through the audio device.
size_t renderSongFrames(FMUSIC_MODULE* module, int16_t* output, size_t frames);
// Capture (platform_settings.capture_path set before FSOUND_Init): no audio device is opened; the song
// started by FMUSIC_PlaySong is rendered offline, from that moment to GetTickCount now, into
// DIR/audio.wav (beside the file for a video). FMUSIC_FreeSong, FSOUND_Close and the end of the process
// call it; once per song.
void finishSoundCapture();
// Calls of the FSOUND_ and FMUSIC_ functions so far (tests: "nosound" must make none).
extern int sound_library_calls;
