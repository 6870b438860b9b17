// Choosing the drawing device: the hardware rasterising class without questions, or, with "choosedrv",
// the first device the user approves in one yes/no box per device. Then the context is created (full
// screen, 24-bit colour, 32-bit depth, two back buffers, else the library's basic defaults) and the
// device set up.
#include "shell/shell.h"

DWORD default_device_index = D3DX_HWLEVEL_RASTER;

static const DWORD kWidth = 640;
static const DWORD kHeight = 480;

// The device the user approves, or -1 when there is none to approve.
static long askForDevice() {
  DWORD count = D3DXGetDeviceCount();
  D3DX_DEVICEDESC description = {};
  D3DXGetDeviceDescription(0, &description);
  DWORD index = 0;
  while (index < count) {
    if (MessageBoxA(nullptr, description.driverDesc, "Approve device", MB_YESNO) == IDYES) return long(index);
    ++index;
    D3DXGetDeviceDescription(index, &description);  // past the last device this fails; unused then
  }
  return -1;
}

int selectDevice(bool choose, HWND window) {
  DWORD device_index = default_device_index;
  if (choose) {
    long approved = askForDevice();
    if (approved < 0) {
      MessageBoxA(nullptr, "No device selected!", "Sorry", MB_OK);
      return 1;
    }
    device_index = DWORD(approved);
  }
  HRESULT result = D3DXCreateContextEx(device_index, D3DX_CONTEXT_FULLSCREEN, window, nullptr, 24, 0, 32, 0, 2,
                                       kWidth, kHeight, D3DX_DEFAULT, &context);
  if (FAILED(result))
    result = D3DXCreateContext(device_index, D3DX_CONTEXT_FULLSCREEN, window, kWidth, kHeight, &context);
  if (FAILED(result)) return 1;
  device = context->GetD3DDevice();
  direct3d = context->GetD3D();
  setUpDevice();
  return 0;
}
