// Direct3D 7 as the show calls it: the types, constants and COM interfaces of IDirect3D7,
// IDirect3DDevice7, IDirect3DVertexBuffer7 and IDirectDrawSurface7. The devices behind them are in
// platform/devices.h (the state shadow and the recording device) and platform/gl_device*.cpp (OpenGL).
//
// Every call is made from the main thread.
#pragma once

#include "platform/win32.h"

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
constexpr DWORD D3DTADDRESS_WRAP = 1, D3DTADDRESS_MIRROR = 2, D3DTADDRESS_CLAMP = 3, D3DTADDRESS_BORDER = 4;
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

// The reference count every object of this port keeps: it starts at 1 for its creator, and the last
// Release deletes the object (its destructor undoes what it holds).
template <typename Interface>
class ReferenceCounted : public Interface {
 public:
  ULONG AddRef() override { return ++references; }
  ULONG Release() override {
    ULONG left = --references;
    if (left == 0) delete this;
    return left;
  }

 private:
  ULONG references = 1;
};

// A texture with its mip chain (TextureSurface, platform/d3dx.h).
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
