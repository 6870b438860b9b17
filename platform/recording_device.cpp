// The recording (null) device: it draws nothing and logs every call with its arguments in Direct3D's
// own names, one line a call ("SetRenderState ZENABLE TRUE", "SetTextureStageState 1 COLOROP
// BLENDFACTORALPHA", "DrawIndexedPrimitiveVB TRIANGLELIST buffer#1 0 12 36 0"), so that a test of
// what the drawing code asks of the device reads like the drawing code. Values without a name (counts,
// indices, unknown codes) are numbers; colours are 0xAARRGGBB.
#include <cstdio>

#include "platform/platform_local.h"

struct Named {
  DWORD value;
  const char* name;
};

static const Named kRenderStates[] = {
    {D3DRENDERSTATE_ZENABLE, "ZENABLE"},
    {D3DRENDERSTATE_FILLMODE, "FILLMODE"},
    {D3DRENDERSTATE_SHADEMODE, "SHADEMODE"},
    {D3DRENDERSTATE_ZWRITEENABLE, "ZWRITEENABLE"},
    {D3DRENDERSTATE_ALPHATESTENABLE, "ALPHATESTENABLE"},
    {D3DRENDERSTATE_SRCBLEND, "SRCBLEND"},
    {D3DRENDERSTATE_DESTBLEND, "DESTBLEND"},
    {D3DRENDERSTATE_CULLMODE, "CULLMODE"},
    {D3DRENDERSTATE_ZFUNC, "ZFUNC"},
    {D3DRENDERSTATE_ALPHAREF, "ALPHAREF"},
    {D3DRENDERSTATE_ALPHAFUNC, "ALPHAFUNC"},
    {D3DRENDERSTATE_DITHERENABLE, "DITHERENABLE"},
    {D3DRENDERSTATE_ALPHABLENDENABLE, "ALPHABLENDENABLE"},
    {D3DRENDERSTATE_FOGENABLE, "FOGENABLE"},
    {D3DRENDERSTATE_SPECULARENABLE, "SPECULARENABLE"},
    {D3DRENDERSTATE_TEXTUREFACTOR, "TEXTUREFACTOR"},
    {D3DRENDERSTATE_CLIPPING, "CLIPPING"},
    {D3DRENDERSTATE_LIGHTING, "LIGHTING"},
    {D3DRENDERSTATE_AMBIENT, "AMBIENT"},
    {D3DRENDERSTATE_COLORVERTEX, "COLORVERTEX"},
    {D3DRENDERSTATE_LOCALVIEWER, "LOCALVIEWER"},
    {D3DRENDERSTATE_NORMALIZENORMALS, "NORMALIZENORMALS"},
    {D3DRENDERSTATE_DIFFUSEMATERIALSOURCE, "DIFFUSEMATERIALSOURCE"},
    {D3DRENDERSTATE_SPECULARMATERIALSOURCE, "SPECULARMATERIALSOURCE"},
    {D3DRENDERSTATE_AMBIENTMATERIALSOURCE, "AMBIENTMATERIALSOURCE"},
    {D3DRENDERSTATE_EMISSIVEMATERIALSOURCE, "EMISSIVEMATERIALSOURCE"},
};

static const Named kStageStates[] = {
    {D3DTSS_COLOROP, "COLOROP"},
    {D3DTSS_COLORARG1, "COLORARG1"},
    {D3DTSS_COLORARG2, "COLORARG2"},
    {D3DTSS_ALPHAOP, "ALPHAOP"},
    {D3DTSS_ALPHAARG1, "ALPHAARG1"},
    {D3DTSS_ALPHAARG2, "ALPHAARG2"},
    {D3DTSS_TEXCOORDINDEX, "TEXCOORDINDEX"},
    {D3DTSS_ADDRESS, "ADDRESS"},
    {D3DTSS_ADDRESSU, "ADDRESSU"},
    {D3DTSS_ADDRESSV, "ADDRESSV"},
    {D3DTSS_MAGFILTER, "MAGFILTER"},
    {D3DTSS_MINFILTER, "MINFILTER"},
    {D3DTSS_MIPFILTER, "MIPFILTER"},
    {D3DTSS_MAXANISOTROPY, "MAXANISOTROPY"},
};

static const Named kBooleans[] = {{FALSE, "FALSE"}, {TRUE, "TRUE"}};
static const Named kBlends[] = {
    {D3DBLEND_ZERO, "ZERO"},           {D3DBLEND_ONE, "ONE"},
    {D3DBLEND_SRCCOLOR, "SRCCOLOR"},   {D3DBLEND_INVSRCCOLOR, "INVSRCCOLOR"},
    {D3DBLEND_SRCALPHA, "SRCALPHA"},   {D3DBLEND_INVSRCALPHA, "INVSRCALPHA"},
    {D3DBLEND_DESTALPHA, "DESTALPHA"}, {D3DBLEND_INVDESTALPHA, "INVDESTALPHA"},
    {D3DBLEND_DESTCOLOR, "DESTCOLOR"}, {D3DBLEND_INVDESTCOLOR, "INVDESTCOLOR"},
};
static const Named kCullModes[] = {{D3DCULL_NONE, "NONE"}, {D3DCULL_CW, "CW"}, {D3DCULL_CCW, "CCW"}};
static const Named kComparisons[] = {
    {D3DCMP_NEVER, "NEVER"},
    {D3DCMP_LESS, "LESS"},
    {D3DCMP_EQUAL, "EQUAL"},
    {D3DCMP_LESSEQUAL, "LESSEQUAL"},
    {D3DCMP_GREATER, "GREATER"},
    {D3DCMP_NOTEQUAL, "NOTEQUAL"},
    {D3DCMP_GREATEREQUAL, "GREATEREQUAL"},
    {D3DCMP_ALWAYS, "ALWAYS"},
};
static const Named kShadeModes[] = {{D3DSHADE_FLAT, "FLAT"}, {D3DSHADE_GOURAUD, "GOURAUD"}};
static const Named kMaterialSources[] = {{D3DMCS_MATERIAL, "MATERIAL"}, {D3DMCS_COLOR1, "COLOR1"}, {D3DMCS_COLOR2, "COLOR2"}};
static const Named kOperations[] = {
    {D3DTOP_DISABLE, "DISABLE"},
    {D3DTOP_SELECTARG1, "SELECTARG1"},
    {D3DTOP_SELECTARG2, "SELECTARG2"},
    {D3DTOP_MODULATE, "MODULATE"},
    {D3DTOP_BLENDFACTORALPHA, "BLENDFACTORALPHA"},
};
static const Named kArguments[] = {{D3DTA_DIFFUSE, "DIFFUSE"},
                            {D3DTA_CURRENT, "CURRENT"},
                            {D3DTA_TEXTURE, "TEXTURE"},
                            {D3DTA_TFACTOR, "TFACTOR"},
                            {D3DTA_SPECULAR, "SPECULAR"}};
static const Named kAddresses[] = {{D3DTADDRESS_WRAP, "WRAP"}, {D3DTADDRESS_MIRROR, "MIRROR"}, {D3DTADDRESS_CLAMP, "CLAMP"}};
static const Named kMagFilters[] = {{D3DTFG_POINT, "POINT"}, {D3DTFG_LINEAR, "LINEAR"}, {D3DTFG_ANISOTROPIC, "ANISOTROPIC"}};
static const Named kMinFilters[] = {{D3DTFN_POINT, "POINT"}, {D3DTFN_LINEAR, "LINEAR"}, {D3DTFN_ANISOTROPIC, "ANISOTROPIC"}};
static const Named kMipFilters[] = {{D3DTFP_NONE, "NONE"}, {D3DTFP_POINT, "POINT"}, {D3DTFP_LINEAR, "LINEAR"}};
static const Named kTransforms[] = {
    {D3DTRANSFORMSTATE_WORLD, "WORLD"}, {D3DTRANSFORMSTATE_VIEW, "VIEW"}, {D3DTRANSFORMSTATE_PROJECTION, "PROJECTION"}};
static const Named kLightTypes[] = {{D3DLIGHT_POINT, "POINT"}, {D3DLIGHT_SPOT, "SPOT"}, {D3DLIGHT_DIRECTIONAL, "DIRECTIONAL"}};
static const Named kPrimitives[] = {
    {D3DPT_POINTLIST, "POINTLIST"},       {D3DPT_LINELIST, "LINELIST"},           {D3DPT_LINESTRIP, "LINESTRIP"},
    {D3DPT_TRIANGLELIST, "TRIANGLELIST"}, {D3DPT_TRIANGLESTRIP, "TRIANGLESTRIP"}, {D3DPT_TRIANGLEFAN, "TRIANGLEFAN"},
};

static std::string number(DWORD value) { return std::to_string(value); }

static std::string colour(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", unsigned(value));
  return text;
}

// The name of `value` in the table, or the number when the table has none.
template <size_t count>
static std::string nameOf(const Named (&table)[count], DWORD value) {
  for (const Named& entry : table)
    if (entry.value == value) return entry.name;
  return number(value);
}

static std::string renderStateValue(D3DRENDERSTATETYPE state, DWORD value) {
  switch (state) {
    case D3DRENDERSTATE_SRCBLEND:
    case D3DRENDERSTATE_DESTBLEND:
      return nameOf(kBlends, value);
    case D3DRENDERSTATE_CULLMODE:
      return nameOf(kCullModes, value);
    case D3DRENDERSTATE_ZFUNC:
    case D3DRENDERSTATE_ALPHAFUNC:
      return nameOf(kComparisons, value);
    case D3DRENDERSTATE_SHADEMODE:
      return nameOf(kShadeModes, value);
    case D3DRENDERSTATE_TEXTUREFACTOR:
    case D3DRENDERSTATE_AMBIENT:
      return colour(value);
    case D3DRENDERSTATE_DIFFUSEMATERIALSOURCE:
    case D3DRENDERSTATE_SPECULARMATERIALSOURCE:
    case D3DRENDERSTATE_AMBIENTMATERIALSOURCE:
    case D3DRENDERSTATE_EMISSIVEMATERIALSOURCE:
      return nameOf(kMaterialSources, value);
    case D3DRENDERSTATE_FILLMODE:
    case D3DRENDERSTATE_ALPHAREF:
      return number(value);
    default:
      return nameOf(kBooleans, value);
  }
}

// An argument code's source, with its modifiers: COMPLEMENT (0x10) and ALPHAREPLICATE (0x20).
static std::string argument(DWORD value) {
  std::string text = nameOf(kArguments, value & 0xF);
  if (value & 0x10) text += "|COMPLEMENT";
  if (value & 0x20) text += "|ALPHAREPLICATE";
  return (value & ~0x3Fu) ? number(value) : text;
}

static std::string stageStateValue(D3DTEXTURESTAGESTATETYPE state, DWORD value) {
  switch (state) {
    case D3DTSS_COLOROP:
    case D3DTSS_ALPHAOP:
      return nameOf(kOperations, value);
    case D3DTSS_COLORARG1:
    case D3DTSS_COLORARG2:
    case D3DTSS_ALPHAARG1:
    case D3DTSS_ALPHAARG2:
      return argument(value);
    case D3DTSS_ADDRESS:
    case D3DTSS_ADDRESSU:
    case D3DTSS_ADDRESSV:
      return nameOf(kAddresses, value);
    case D3DTSS_MAGFILTER:
      return nameOf(kMagFilters, value);
    case D3DTSS_MINFILTER:
      return nameOf(kMinFilters, value);
    case D3DTSS_MIPFILTER:
      return nameOf(kMipFilters, value);
    default:
      return number(value);
  }
}

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

HRESULT RecordingDevice::BeginScene() {
  log("BeginScene");
  return ShadowDevice::BeginScene();
}

HRESULT RecordingDevice::EndScene() {
  log("EndScene");
  return ShadowDevice::EndScene();
}

HRESULT RecordingDevice::SetRenderState(D3DRENDERSTATETYPE which, DWORD value) {
  if (recording) log("SetRenderState " + nameOf(kRenderStates, which) + " " + renderStateValue(which, value));
  return ShadowDevice::SetRenderState(which, value);
}

HRESULT RecordingDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE which, DWORD value) {
  if (recording)
    log("SetTextureStageState " + number(stage) + " " + nameOf(kStageStates, which) + " " +
        stageStateValue(which, value));
  return ShadowDevice::SetTextureStageState(stage, which, value);
}

HRESULT RecordingDevice::SetTexture(DWORD stage, IDirectDrawSurface7* texture) {
  if (recording) log("SetTexture " + number(stage) + " " + objectName(texture));
  return ShadowDevice::SetTexture(stage, texture);
}

HRESULT RecordingDevice::SetTransform(D3DTRANSFORMSTATETYPE which, D3DMATRIX* matrix) {
  if (recording) log("SetTransform " + nameOf(kTransforms, which));
  return ShadowDevice::SetTransform(which, matrix);
}

HRESULT RecordingDevice::GetTransform(D3DTRANSFORMSTATETYPE which, D3DMATRIX* matrix) {
  if (recording) log("GetTransform " + nameOf(kTransforms, which));
  return ShadowDevice::GetTransform(which, matrix);
}

HRESULT RecordingDevice::SetLight(DWORD index, D3DLIGHT7* light) {
  if (recording) log("SetLight " + number(index) + " " + (light ? nameOf(kLightTypes, light->dltType) : "null"));
  return ShadowDevice::SetLight(index, light);
}

HRESULT RecordingDevice::LightEnable(DWORD index, BOOL enable) {
  if (recording) log("LightEnable " + number(index) + " " + nameOf(kBooleans, DWORD(enable)));
  return ShadowDevice::LightEnable(index, enable);
}

HRESULT RecordingDevice::SetMaterial(D3DMATERIAL7* material) {
  log("SetMaterial");
  return ShadowDevice::SetMaterial(material);
}

HRESULT RecordingDevice::DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD vertex_count,
                                       DWORD flags) {
  if (recording) {
    char format[16];
    std::snprintf(format, sizeof(format), "0x%x", unsigned(fvf));
    log("DrawPrimitive " + nameOf(kPrimitives, type) + " " + format + " " + number(vertex_count) + " " + number(flags));
  }
  if (!vertices || fvfVertexSize(fvf) == 0) return DDERR_INVALIDPARAMS;
  return S_OK;
}

HRESULT RecordingDevice::DrawPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* buffer, DWORD start_vertex,
                                         DWORD vertex_count, DWORD flags) {
  if (recording)
    log("DrawPrimitiveVB " + nameOf(kPrimitives, type) + " " + objectName(buffer) + " " + number(start_vertex) + " " +
        number(vertex_count) + " " + number(flags));
  return buffer ? S_OK : DDERR_INVALIDPARAMS;
}

HRESULT RecordingDevice::DrawIndexedPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* buffer,
                                                DWORD start_vertex, DWORD vertex_count, WORD* indices,
                                                DWORD index_count, DWORD flags) {
  if (recording)
    log("DrawIndexedPrimitiveVB " + nameOf(kPrimitives, type) + " " + objectName(buffer) + " " + number(start_vertex) +
        " " + number(vertex_count) + " " + number(index_count) + " " + number(flags));
  return buffer && indices ? S_OK : DDERR_INVALIDPARAMS;
}
