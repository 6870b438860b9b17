#include "headless.h"

static LRESULT quietProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return message == WM_DESTROY ? 0 : DefWindowProcA(window, message, wparam, lparam);
}

HWND openHeadlessWindow(int width, int height) {
  static const char kClass[] = "narvu headless window";
  WNDCLASSEXA window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = quietProcedure;
  window_class.lpszClassName = kClass;
  RegisterClassExA(&window_class);  // 0 when already registered, which is as good
  return CreateWindowExA(0, kClass, kClass, WS_VISIBLE, CW_USEDEFAULT, 0, width, height, nullptr, nullptr, nullptr,
                         nullptr);
}

void drawFlatRectangle(IDirect3DDevice7* device, float left, float top, float right, float bottom, D3DCOLOR colour) {
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, FALSE);
  device->BeginScene();
  ScreenVertex quad[4] = {{left, top, 0, 1, colour, 0, 0, 0},
                          {right, top, 0, 1, colour, 0, 0, 0},
                          {left, bottom, 0, 1, colour, 0, 0, 0},
                          {right, bottom, 0, 1, colour, 0, 0, 0}};
  device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, quad, 4, 0);
  device->EndScene();
}

TextureSurface* solidTexture(uint8_t r, uint8_t g, uint8_t b, DWORD edge, bool mip_chain) {
  TextureSurface* texture = new TextureSurface;
  texture->format = D3DX_SF_R8G8B8;
  texture->width = texture->height = edge;
  for (DWORD size = edge; size >= 1; size /= 2) {
    TextureSurface::Level level = {size, size, std::vector<uint8_t>(size_t(size) * size * 3)};
    for (size_t i = 0; i < level.bytes.size(); i += 3) {
      level.bytes[i] = b;
      level.bytes[i + 1] = g;
      level.bytes[i + 2] = r;
    }
    texture->levels.push_back(std::move(level));
    if (!mip_chain) break;
  }
  texture->generation = 1;
  return texture;
}
