// The rendering context library: start-up, the list of devices, context creation and the null context.
//
// Devices as a DirectX 7 wrapper presents them: index 0 is the OpenGL device, index 1 the same device
// on Mesa's software rasteriser. The class requests -6, -5 and D3DX_DEFAULT ask for the OpenGL device,
// -4 and -3 for the software one, -2 for the null device that draws nothing and records every call.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform_local.h"

struct DeviceEntry {
  DWORD hw_level;
  const char* description;
  bool software;
};

static const DeviceEntry kDevices[] = {
    {D3DX_HWLEVEL_RASTER, "OpenGL 3.3 core: transform, lighting and rasterization", false},
    {D3DX_HWLEVEL_2D, "OpenGL 3.3 core on the Mesa software rasterizer", true},
};
static const DWORD kDeviceCount = sizeof(kDevices) / sizeof(kDevices[0]);

static bool initialized = false;
static int failing_creations = 0;

// A context without a picture: its device is the recording device, presentation does nothing.
class NullContext : public ContextBase {
 public:
  NullContext() {
    RecordingDevice* recorder = new RecordingDevice;
    recorder->recording = false;
    device = recorder;
    direct3d = new MemoryDirect3D;
  }
  HRESULT UpdateFrame(DWORD) override { return S_OK; }
  HRESULT Clear(DWORD) override { return S_OK; }
};

enum class DeviceKind { none, gl, gl_software, null };

static DeviceKind deviceKind(DWORD device) {
  switch (device) {
    case D3DX_DEFAULT:
    case D3DX_HWLEVEL_TL:
    case D3DX_HWLEVEL_RASTER: return DeviceKind::gl;
    case D3DX_HWLEVEL_2D:
    case D3DX_HWLEVEL_REFERENCE: return DeviceKind::gl_software;
    case D3DX_HWLEVEL_NULL: return DeviceKind::null;
    default:
      if (device >= kDeviceCount) return DeviceKind::none;
      return kDevices[device].software ? DeviceKind::gl_software : DeviceKind::gl;
  }
}

static HRESULT createContext(DWORD device, const GlContextRequest& request, ID3DXContext** out) {
  if (!out) return DDERR_INVALIDPARAMS;
  if (!initialized) return D3DXERR_NOTINITIALIZED;
  if (failing_creations > 0) {
    --failing_creations;
    return D3DXERR_NODIRECT3DDEVICEAVAILABLE;
  }
  switch (deviceKind(device)) {
    case DeviceKind::none: return D3DXERR_NODIRECT3DDEVICEAVAILABLE;
    case DeviceKind::null: *out = new NullContext; return S_OK;
    case DeviceKind::gl_software:
      askForSoftwareGl();
      return createGlContext(request, out);
    case DeviceKind::gl: return createGlContext(request, out);
  }
  return D3DXERR_NODIRECT3DDEVICEAVAILABLE;
}

HRESULT D3DXInitialize() {
  initialized = true;
  return S_OK;
}

HRESULT D3DXUninitialize() {
  initialized = false;
  return S_OK;
}

DWORD D3DXGetDeviceCount() { return initialized ? kDeviceCount : 0; }

HRESULT D3DXGetDeviceDescription(DWORD device, D3DX_DEVICEDESC* description) {
  if (!initialized) return D3DXERR_NOTINITIALIZED;
  if (device >= kDeviceCount || !description) return DDERR_INVALIDPARAMS;
  std::memset(description, 0, sizeof(*description));
  description->deviceIndex = device;
  description->hwLevel = kDevices[device].hw_level;
  std::snprintf(description->driverDesc, sizeof(description->driverDesc), "%s", kDevices[device].description);
  description->onPrimary = TRUE;
  return S_OK;
}

void failNextContextCreations(int count) { failing_creations = count; }

void setDeviceDrawing(IDirect3DDevice7* device, bool drawing) {
  if (ShadowDevice* shadow = dynamic_cast<ShadowDevice*>(device)) shadow->drawing = drawing;
}

void setDevicePreparing(IDirect3DDevice7* device, bool preparing) {
  if (ShadowDevice* shadow = dynamic_cast<ShadowDevice*>(device)) shadow->prepare(preparing);
}

HRESULT D3DXCreateContextEx(DWORD device, DWORD flags, HWND window, HWND, DWORD colour_bits, DWORD alpha_bits,
                            DWORD depth_bits, DWORD, DWORD back_buffers, DWORD width, DWORD height, DWORD,
                            ID3DXContext** context) {
  GlContextRequest request = {window, colour_bits, alpha_bits, depth_bits, back_buffers, width, height,
                              (flags & D3DX_CONTEXT_FULLSCREEN) != 0};
  return createContext(device, request, context);
}

HRESULT D3DXCreateContext(DWORD device, DWORD flags, HWND window, DWORD width, DWORD height,
                          ID3DXContext** context) {
  // The library's defaults for a full-screen context: 16-bit colour, its own depth buffer, one back buffer.
  GlContextRequest request = {window, 16, 0, 16, 1, width, height, (flags & D3DX_CONTEXT_FULLSCREEN) != 0};
  return createContext(device, request, context);
}
