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
