// One whole frame on the GL device, off-screen: skybox, a textured lit object, a translucent object in
// front of part of it and the overlay at half strength, probed at pixels against values computed from
// the lighting, stage and blend formulas.
#include <algorithm>
#include <cmath>

#include "headless.h"
#include "platform/test_hooks.h"
#include "render_fixture.h"

namespace {

struct Colour {
  double r, g, b;
};

Colour blend(Colour source, double alpha, Colour destination) {
  return {source.r * alpha + destination.r * (1 - alpha), source.g * alpha + destination.g * (1 - alpha),
          source.b * alpha + destination.b * (1 - alpha)};
}

}  // namespace

TEST(RenderOnGl, ComposedFrameMatchesTheFormulasAtItsPixels) {
  platform_settings.headless = true;
  platform_settings.windowed = true;
  HWND window = openHeadlessWindow(640, 480);
  ASSERT_NE(nullptr, window);
  D3DXInitialize();
  ASSERT_EQ(S_OK, D3DXCreateContextEx(D3DX_HWLEVEL_RASTER, 0, window, nullptr, 24, 0, 32, 0, 2, 640, 480, 0,
                                      &context));
  device = context->GetD3DDevice();
  direct3d = context->GetD3D();
  setUpDevice();

  SceneBuilder built;
  Skybox skybox;
  for (int k = 0; k < 6; ++k) skybox.faces[k] = solidTexture(uint8_t(40 * k), 80, 160);  // face 1 ahead
  SceneMaterial* textured = built.material();
  textured->textures[1] = built.texture();
  textured->textures[1]->texture = solidTexture(200, 100, 50);
  built.square({textured});                       // 10 ahead, about x 256..384 on screen
  built.square({built.material(0.5f)}, 0.8f, 5);  // 5 ahead, about x 294..552
  SceneLight light = {};
  light.kind = 2;  // shining straight ahead, onto both squares' normals
  Transform ahead = {{0, -10, 0}, {0, 0, 0, 1}};
  light.target = &ahead;
  light.colour[0] = light.colour[1] = light.colour[2] = 1.0f;
  light.intensity = 1.0f;
  built.lights.push_back(light);
  Scene* scene = built.finish();
  scene->skybox = &skybox;

  TextureSurface* logo = solidTexture(250, 200, 100);
  fade_texture = logo;
  overlay_hook = fadeOverlay;
  platform_settings.virtual_clock = true;
  resetVirtualClock(100000);
  fade_half_length = 75;
  fade_start_ms = 100000 - 1500;  // half-way up: level 128
  drawSceneFrame(scene, 0);
  platform_settings.virtual_clock = false;

  std::vector<uint8_t> rgb;
  int width = 0, height = 0;
  ASSERT_TRUE(readGlRenderTarget(context, &rgb, &width, &height));
  ASSERT_EQ(640, width);

  // Lit colour: diffuse 0.8 × N·L 1 (ambient light 0); the base texture modulates it.
  const double lit = 0.8;
  Colour sky = {40 / 255.0, 80 / 255.0, 160 / 255.0};
  Colour object = {200 / 255.0 * lit, 100 / 255.0 * lit, 50 / 255.0 * lit};
  Colour glass_colour = {lit, lit, lit};
  // The overlay: the picture times the level, blended with the level as its alpha (stage 0 takes alpha
  // from the diffuse colour since the translucent group).
  double level = 128 / 255.0;
  Colour picture = {250 / 255.0 * level, 200 / 255.0 * level, 100 / 255.0 * level};
  struct Probe {
    int x, y;
    Colour scene;
    const char* what;
  } probes[] = {
      {100, 100, sky, "sky"},
      {270, 240, object, "textured object"},
      {340, 240, blend(glass_colour, 0.5, object), "glass over the object"},
      {500, 240, blend(glass_colour, 0.5, sky), "glass over the sky"},
  };
  for (const Probe& probe : probes) {
    Colour expected = blend(picture, level, probe.scene);
    const uint8_t* p = rgb.data() + (size_t(probe.y) * size_t(width) + size_t(probe.x)) * 3;
    EXPECT_NEAR(expected.r * 255, p[0], 3) << probe.what;
    EXPECT_NEAR(expected.g * 255, p[1], 3) << probe.what;
    EXPECT_NEAR(expected.b * 255, p[2], 3) << probe.what;
  }

  object_vertex_buffer->Release();
  skybox_vertex_buffer->Release();
  device->Release();
  direct3d->Release();
  context->Release();
  device = nullptr;
  context = nullptr;
  direct3d = nullptr;
  object_vertex_buffer = skybox_vertex_buffer = nullptr;
  overlay_hook = nullptr;
}
