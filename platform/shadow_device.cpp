// The state shadow every device keeps: the Direct3D 7 defaults, and the Set and Get calls that store
// and read them, with the scene bracket. The recording device logs on top of it
// (recording_device.cpp); the GL device turns it into GL state at every draw (gl_device.cpp).
#include <cstring>

#include "platform/platform_local.h"

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

ShadowDevice::ShadowDevice() { setDefaultDeviceState(&state); }

void ShadowDevice::prepare(bool starting) {
  if (starting == preparing) return;
  if (starting)
    state_before_preparing = state;
  else
    state = state_before_preparing;
  preparing = starting;
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
  frameEnded();
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

