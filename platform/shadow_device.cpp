// What every device shares: the Direct3D 7 default states, the shadow of every Set call, the memory
// vertex buffers and the Direct3D object that makes them, and the recording (null) device.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/platform_local.h"

DWORD fvfVertexSize(DWORD fvf) {
  switch (fvf) {
    case D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2: return 40;
    case D3DFVF_TLVERTEX: return 32;
    case D3DFVF_LVERTEX: return 32;
    default: return 0;
  }
}

static D3DMATRIX identityMatrix() {
  D3DMATRIX m = {};
  for (int i = 0; i < 4; ++i) m.m[i][i] = 1.0f;
  return m;
}

void setDefaultDeviceState(DeviceState* s) {
  std::memset(s, 0, sizeof(*s));
  DWORD* r = s->render;
  r[D3DRENDERSTATE_ZENABLE] = TRUE;
  r[D3DRENDERSTATE_FILLMODE] = 3;  // solid
  r[D3DRENDERSTATE_SHADEMODE] = D3DSHADE_GOURAUD;
  r[D3DRENDERSTATE_ZWRITEENABLE] = TRUE;
  r[D3DRENDERSTATE_ALPHATESTENABLE] = FALSE;
  r[D3DRENDERSTATE_SRCBLEND] = D3DBLEND_ONE;
  r[D3DRENDERSTATE_DESTBLEND] = D3DBLEND_ZERO;
  r[D3DRENDERSTATE_CULLMODE] = D3DCULL_CCW;
  r[D3DRENDERSTATE_ZFUNC] = D3DCMP_LESSEQUAL;
  r[D3DRENDERSTATE_ALPHAFUNC] = D3DCMP_ALWAYS;
  r[D3DRENDERSTATE_DITHERENABLE] = FALSE;
  r[D3DRENDERSTATE_ALPHABLENDENABLE] = FALSE;
  r[D3DRENDERSTATE_FOGENABLE] = FALSE;
  r[D3DRENDERSTATE_SPECULARENABLE] = FALSE;
  r[D3DRENDERSTATE_TEXTUREFACTOR] = 0xFFFFFFFF;
  r[D3DRENDERSTATE_CLIPPING] = TRUE;
  r[D3DRENDERSTATE_LIGHTING] = TRUE;
  r[D3DRENDERSTATE_AMBIENT] = 0;
  r[D3DRENDERSTATE_COLORVERTEX] = TRUE;
  r[D3DRENDERSTATE_LOCALVIEWER] = TRUE;
  r[D3DRENDERSTATE_NORMALIZENORMALS] = FALSE;
  r[D3DRENDERSTATE_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
  r[D3DRENDERSTATE_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
  r[D3DRENDERSTATE_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
  r[D3DRENDERSTATE_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
  for (DWORD stage = 0; stage < kTextureStageCount; ++stage) {
    DWORD* t = s->stage[stage];
    t[D3DTSS_COLOROP] = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    t[D3DTSS_ALPHAOP] = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    t[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    t[D3DTSS_COLORARG2] = D3DTA_CURRENT;
    t[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    t[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
    t[D3DTSS_TEXCOORDINDEX] = stage;
    t[D3DTSS_ADDRESS] = D3DTADDRESS_WRAP;
    t[D3DTSS_ADDRESSU] = D3DTADDRESS_WRAP;
    t[D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
    t[D3DTSS_MAGFILTER] = D3DTFG_POINT;
    t[D3DTSS_MINFILTER] = D3DTFN_POINT;
    t[D3DTSS_MIPFILTER] = D3DTFP_NONE;
    t[D3DTSS_MAXANISOTROPY] = 1;
  }
  s->world = s->view = s->projection = identityMatrix();
  // A light enabled without ever being set is a white directional light along +z.
  for (DWORD i = 0; i < kMaxLights; ++i) {
    D3DLIGHT7& light = s->light[i];
    light.dltType = D3DLIGHT_DIRECTIONAL;
    light.dcvDiffuse = {1, 1, 1, 0};
    light.dvDirection = {0, 0, 1};
  }
}

// ---- ShadowDevice ---------------------------------------------------------------------------------

ShadowDevice::ShadowDevice() { setDefaultDeviceState(&state); }

ULONG ShadowDevice::AddRef() { return ++references; }

ULONG ShadowDevice::Release() {
  ULONG left = --references;
  if (left == 0) delete this;
  return left;
}

HRESULT ShadowDevice::BeginScene() {
  if (state.in_scene) return E_FAIL;
  state.in_scene = true;
  return S_OK;
}

HRESULT ShadowDevice::EndScene() {
  if (!state.in_scene) return E_FAIL;
  state.in_scene = false;
  advanceVirtualClock();
  return S_OK;
}

HRESULT ShadowDevice::SetRenderState(D3DRENDERSTATETYPE which, DWORD value) {
  if (which >= kRenderStateCount) return DDERR_INVALIDPARAMS;
  state.render[which] = value;
  return S_OK;
}

HRESULT ShadowDevice::GetRenderState(D3DRENDERSTATETYPE which, DWORD* value) {
  if (which >= kRenderStateCount || !value) return DDERR_INVALIDPARAMS;
  *value = state.render[which];
  return S_OK;
}

HRESULT ShadowDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE which, DWORD value) {
  if (stage >= kTextureStageCount || which >= kTextureStageStateCount) return DDERR_INVALIDPARAMS;
  state.stage[stage][which] = value;
  return S_OK;
}

HRESULT ShadowDevice::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE which, DWORD* value) {
  if (stage >= kTextureStageCount || which >= kTextureStageStateCount || !value) return DDERR_INVALIDPARAMS;
  *value = state.stage[stage][which];
  return S_OK;
}

HRESULT ShadowDevice::SetTexture(DWORD stage, IDirectDrawSurface7* texture) {
  if (stage >= kTextureStageCount) return DDERR_INVALIDPARAMS;
  state.texture[stage] = texture;
  return S_OK;
}

static D3DMATRIX* transformSlot(DeviceState& state, D3DTRANSFORMSTATETYPE which) {
  switch (which) {
    case D3DTRANSFORMSTATE_WORLD: return &state.world;
    case D3DTRANSFORMSTATE_VIEW: return &state.view;
    case D3DTRANSFORMSTATE_PROJECTION: return &state.projection;
    default: return nullptr;
  }
}

HRESULT ShadowDevice::SetTransform(D3DTRANSFORMSTATETYPE which, D3DMATRIX* matrix) {
  D3DMATRIX* slot = transformSlot(state, which);
  if (!slot || !matrix) return DDERR_INVALIDPARAMS;
  *slot = *matrix;
  return S_OK;
}

HRESULT ShadowDevice::GetTransform(D3DTRANSFORMSTATETYPE which, D3DMATRIX* matrix) {
  D3DMATRIX* slot = transformSlot(state, which);
  if (!slot || !matrix) return DDERR_INVALIDPARAMS;
  *matrix = *slot;
  return S_OK;
}

HRESULT ShadowDevice::SetLight(DWORD index, D3DLIGHT7* light) {
  if (index >= kMaxLights || !light) return DDERR_INVALIDPARAMS;
  state.light[index] = *light;
  return S_OK;
}

HRESULT ShadowDevice::LightEnable(DWORD index, BOOL enable) {
  if (index >= kMaxLights) return DDERR_INVALIDPARAMS;
  state.light_enabled[index] = enable != FALSE;
  return S_OK;
}

HRESULT ShadowDevice::SetMaterial(D3DMATERIAL7* material) {
  if (!material) return DDERR_INVALIDPARAMS;
  state.material = *material;
  return S_OK;
}

// ---- RecordingDevice ------------------------------------------------------------------------------

std::string RecordingDevice::objectName(const void* object) {
  if (!object) return "null";
  size_t index = 0;
  while (index < named_objects.size() && named_objects[index] != object) ++index;
  if (index == named_objects.size()) named_objects.push_back(object);
  bool is_buffer = dynamic_cast<const IDirect3DVertexBuffer7*>(static_cast<const IUnknown*>(object)) != nullptr;
  return std::string(is_buffer ? "buffer#" : "texture#") + std::to_string(index + 1);
}

void RecordingDevice::log(const std::string& line) {
  if (recording) calls.push_back(line);
}

static std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
static std::string format(const char* pattern, ...) {
  char text[512];
  va_list arguments;
  va_start(arguments, pattern);
  std::vsnprintf(text, sizeof(text), pattern, arguments);
  va_end(arguments);
  return text;
}

HRESULT RecordingDevice::BeginScene() {
  log("BeginScene");
  return ShadowDevice::BeginScene();
}

HRESULT RecordingDevice::EndScene() {
  log("EndScene");
  return ShadowDevice::EndScene();
}

HRESULT RecordingDevice::SetRenderState(D3DRENDERSTATETYPE which, DWORD value) {
  log(format("SetRenderState %u %u", unsigned(which), unsigned(value)));
  return ShadowDevice::SetRenderState(which, value);
}

HRESULT RecordingDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE which, DWORD value) {
  log(format("SetTextureStageState %u %u %u", unsigned(stage), unsigned(which), unsigned(value)));
  return ShadowDevice::SetTextureStageState(stage, which, value);
}

HRESULT RecordingDevice::SetTexture(DWORD stage, IDirectDrawSurface7* texture) {
  if (recording) log(format("SetTexture %u %s", unsigned(stage), objectName(texture).c_str()));
  return ShadowDevice::SetTexture(stage, texture);
}

HRESULT RecordingDevice::SetTransform(D3DTRANSFORMSTATETYPE which, D3DMATRIX* matrix) {
  log(format("SetTransform %u", unsigned(which)));
  return ShadowDevice::SetTransform(which, matrix);
}

HRESULT RecordingDevice::GetTransform(D3DTRANSFORMSTATETYPE which, D3DMATRIX* matrix) {
  log(format("GetTransform %u", unsigned(which)));
  return ShadowDevice::GetTransform(which, matrix);
}

HRESULT RecordingDevice::SetLight(DWORD index, D3DLIGHT7* light) {
  log(format("SetLight %u %u", unsigned(index), light ? unsigned(light->dltType) : 0u));
  return ShadowDevice::SetLight(index, light);
}

HRESULT RecordingDevice::LightEnable(DWORD index, BOOL enable) {
  log(format("LightEnable %u %d", unsigned(index), int(enable)));
  return ShadowDevice::LightEnable(index, enable);
}

HRESULT RecordingDevice::SetMaterial(D3DMATERIAL7* material) {
  log("SetMaterial");
  return ShadowDevice::SetMaterial(material);
}

HRESULT RecordingDevice::DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD vertex_count,
                                       DWORD flags) {
  log(format("DrawPrimitive %u 0x%x %u %u", unsigned(type), unsigned(fvf), unsigned(vertex_count),
             unsigned(flags)));
  if (!vertices || fvfVertexSize(fvf) == 0) return DDERR_INVALIDPARAMS;
  return S_OK;
}

HRESULT RecordingDevice::DrawPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* buffer,
                                         DWORD start_vertex, DWORD vertex_count, DWORD flags) {
  if (recording)
    log(format("DrawPrimitiveVB %u %s %u %u %u", unsigned(type), objectName(buffer).c_str(),
               unsigned(start_vertex), unsigned(vertex_count), unsigned(flags)));
  return buffer ? S_OK : DDERR_INVALIDPARAMS;
}

HRESULT RecordingDevice::DrawIndexedPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* buffer,
                                                DWORD start_vertex, DWORD vertex_count, WORD* indices,
                                                DWORD index_count, DWORD flags) {
  if (recording)
    log(format("DrawIndexedPrimitiveVB %u %s %u %u %u %u", unsigned(type), objectName(buffer).c_str(),
               unsigned(start_vertex), unsigned(vertex_count), unsigned(index_count), unsigned(flags)));
  return buffer && indices ? S_OK : DDERR_INVALIDPARAMS;
}

// ---- Memory vertex buffers and the Direct3D object ------------------------------------------------

MemoryVertexBuffer::MemoryVertexBuffer(DWORD format, DWORD count)
    : fvf(format), vertex_count(count), vertex_size(fvfVertexSize(format)),
      bytes(size_t(count) * fvfVertexSize(format)) {}

ULONG MemoryVertexBuffer::AddRef() { return ++references; }

ULONG MemoryVertexBuffer::Release() {
  ULONG left = --references;
  if (left == 0) delete this;
  return left;
}

HRESULT MemoryVertexBuffer::Lock(DWORD, void** data, DWORD* size) {
  if (!data || locked) return DDERR_INVALIDPARAMS;
  locked = true;
  *data = bytes.data();
  if (size) *size = DWORD(bytes.size());
  return S_OK;
}

HRESULT MemoryVertexBuffer::Unlock() {
  if (!locked) return DDERR_INVALIDPARAMS;
  locked = false;
  ++generation;
  return S_OK;
}

ULONG MemoryDirect3D::AddRef() { return ++references; }

ULONG MemoryDirect3D::Release() {
  ULONG left = --references;
  if (left == 0) delete this;
  return left;
}

HRESULT MemoryDirect3D::CreateVertexBuffer(D3DVERTEXBUFFERDESC* description, IDirect3DVertexBuffer7** buffer,
                                           DWORD) {
  if (!description || !buffer || fvfVertexSize(description->dwFVF) == 0 || description->dwNumVertices == 0)
    return DDERR_INVALIDPARAMS;
  *buffer = new MemoryVertexBuffer(description->dwFVF, description->dwNumVertices);
  return S_OK;
}
