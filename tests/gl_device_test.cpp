// The GL device against Direct3D 7's fixed-function formulas: pixels of the rendered picture compared
// with values computed here from those formulas, within 2 of 255.
//
// Most probes draw one quad facing the camera with identity transforms, lit so that its four corners
// get the same colour (lights on the axis through its centre), and read its centre pixel.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include "capture/capture.h"
#include "platform/devices.h"
#include "platform/test_hooks.h"
#include "headless.h"
#include "platform/platform.h"
#include "test_support.h"

namespace {

constexpr DWORD kLitFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2;

struct Rgb {
  int r, g, b;
};

int toByte(double value) { return int(std::lround(std::min(std::max(value, 0.0), 1.0) * 255.0)); }

// A context with the show's own request, through the context library.
HRESULT createContext(HWND window, DWORD colour_bits, DWORD alpha_bits, DWORD depth_bits, DWORD back_buffers,
                      ID3DXContext** context) {
  D3DXInitialize();
  return D3DXCreateContextEx(D3DX_HWLEVEL_RASTER, D3DX_CONTEXT_FULLSCREEN, window, nullptr, colour_bits, alpha_bits,
                             depth_bits, 0, back_buffers, 640, 480, D3DX_DEFAULT, context);
}

ID3DXContext* makeContext(HWND window) {
  ID3DXContext* context = nullptr;
  if (FAILED(createContext(window, 24, 0, 32, 2, &context))) return nullptr;
  return context;
}

// A white spot light at (0, 0, z) shining along +z, unattenuated within its range of 100.
D3DLIGHT7 spotLight(float z, float theta, float phi, float falloff) {
  D3DLIGHT7 light = {};
  light.dltType = D3DLIGHT_SPOT;
  light.dcvDiffuse = {1, 1, 1, 1};
  light.dvPosition = {0, 0, z};
  light.dvDirection = {0, 0, 1};
  light.dvRange = 100;
  light.dvAttenuation0 = 1;
  light.dvTheta = theta;
  light.dvPhi = phi;
  light.dvFalloff = falloff;
  return light;
}

class GlDevice : public testing::Test {
 protected:
  static ID3DXContext* context;
  static IDirect3DDevice7* device;

  static void SetUpTestSuite() {
    platform_settings.headless = true;
    platform_settings.windowed = true;
    HWND window = openHeadlessWindow(640, 480);
    ASSERT_NE(window, nullptr);
    context = makeContext(window);
    ASSERT_NE(context, nullptr);
    device = context->GetD3DDevice();
  }
  static void TearDownTestSuite() {
    if (device) device->Release();
    if (context) context->Release();
    device = nullptr;
    context = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(device, nullptr);
    // Every probe starts from a device fresh from creation and a black picture.
    setDefaultDeviceState(&static_cast<ShadowDevice*>(device)->state);
    context->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
    device->BeginScene();
  }
  void TearDown() override {
    device->EndScene();
    for (TextureSurface* texture : textures) texture->Release();
  }

  Rgb pixel(int x, int y) {
    std::vector<uint8_t> rgb;
    int width = 0, height = 0;
    EXPECT_TRUE(readGlRenderTarget(context, &rgb, &width, &height));
    const uint8_t* p = rgb.data() + (size_t(y) * width + x) * 3;
    return {p[0], p[1], p[2]};
  }
  Rgb centre() { return pixel(320, 240); }

  // Two quads from one vertex buffer: indexed from its fifth vertex, a strip from its first, then both
  // again after the buffer was refilled; and the draws that must be refused.
  void drawVertexBufferRanges();
  // An indexed quad after 70,000 vertices streamed before it.
  void drawQuadAfterFiller();

  // A quad of half edge `half` at depth z, facing the camera (normal toward -z), clockwise on screen.
  void drawQuad(float half = 1.0f, float z = 0.5f) {
    LitVertex quad[4] = {{-half, half, z, 0, 0, -1, 0, 0, 0, 0},
                         {half, half, z, 0, 0, -1, 1, 0, 4, 0},
                         {-half, -half, z, 0, 0, -1, 0, 1, 0, 4},
                         {half, -half, z, 0, 0, -1, 1, 1, 4, 4}};
    ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, kLitFvf, quad, 4, 0), S_OK);
  }
  void drawScreenQuad(float left, float top, float right, float bottom, D3DCOLOR diffuse, float z = 0.0f) {
    ScreenVertex quad[4] = {{left, top, z, 1, diffuse, 0, 0, 0},
                            {right, top, z, 1, diffuse, 0, 1, 0},
                            {left, bottom, z, 1, diffuse, 0, 0, 1},
                            {right, bottom, z, 1, diffuse, 0, 1, 1}};
    ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, quad, 4, 0), S_OK);
  }

  void setMaterial(float r, float g, float b, float a = 1.0f) {
    D3DMATERIAL7 material = {};
    material.dcvDiffuse = {r, g, b, a};
    device->SetMaterial(&material);
  }
  void setLight(const D3DLIGHT7& light) {
    D3DLIGHT7 copy = light;
    device->SetLight(0, &copy);
    device->LightEnable(0, TRUE);
  }

  // A one-colour texture of 2 × 2 texels, kept in B, G, R order as the context library keeps them.
  TextureSurface* solidTexture(uint8_t r, uint8_t g, uint8_t b) {
    TextureSurface* texture = ::solidTexture(r, g, b);
    textures.push_back(texture);
    return texture;
  }

  // The same in R5G6B5, one little-endian 16-bit word a texel.
  TextureSurface* solidTexture565(uint8_t r, uint8_t g, uint8_t b) {
    TextureSurface* texture = solidTexture(r, g, b);
    texture->format = D3DX_SF_R5G6B5;
    uint16_t word = uint16_t((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
    texture->levels[0].bytes.assign(8, 0);
    for (size_t i = 0; i < 8; i += 2) {
      texture->levels[0].bytes[i] = uint8_t(word & 0xFF);
      texture->levels[0].bytes[i + 1] = uint8_t(word >> 8);
    }
    return texture;
  }

  // A complete chain from 128 × 128 whose levels are red, green, then blue.
  TextureSurface* levelsTexture() {
    TextureSurface* texture = solidTexture(0, 0, 0);
    texture->levels.clear();
    texture->width = texture->height = 128;
    for (DWORD edge = 128, level = 0; edge >= 1; edge /= 2, ++level) {
      TextureSurface::Level fill = {edge, edge, std::vector<uint8_t>(size_t(edge) * edge * 3, 0)};
      for (size_t i = 0; i < fill.bytes.size(); i += 3) fill.bytes[i + (level == 0 ? 2 : level == 1 ? 1 : 0)] = 255;
      texture->levels.push_back(fill);
    }
    return texture;
  }

  std::vector<TextureSurface*> textures;
};

ID3DXContext* GlDevice::context = nullptr;
IDirect3DDevice7* GlDevice::device = nullptr;

void expectColour(Rgb seen, double r, double g, double b, const char* what) {
  EXPECT_NEAR(seen.r, toByte(r), 2) << what;
  EXPECT_NEAR(seen.g, toByte(g), 2) << what;
  EXPECT_NEAR(seen.b, toByte(b), 2) << what;
}

constexpr double kPi = 3.14159265358979;

// ---- Lighting -------------------------------------------------------------------------------------

TEST_F(GlDevice, DirectionalLightFollowsTheCosineOfItsAngle) {
  setMaterial(0.8f, 0.6f, 0.4f);
  for (double degrees : {0.0, 30.0, 60.0, 85.0, 120.0}) {
    double angle = degrees * kPi / 180;
    D3DLIGHT7 light = {};
    light.dltType = D3DLIGHT_DIRECTIONAL;
    light.dcvDiffuse = {1, 1, 1, 1};
    // The light shines along -L, where L (toward the light) makes `angle` with the normal (0, 0, -1).
    light.dvDirection = {float(-std::sin(angle)), 0, float(std::cos(angle))};
    setLight(light);
    drawQuad();
    double lambert = std::max(std::cos(angle), 0.0);
    expectColour(centre(), 0.8 * lambert, 0.6 * lambert, 0.4 * lambert, "directional light");
  }
}

TEST_F(GlDevice, PointLightAttenuatesWithDistanceAndStopsAtItsRange) {
  setMaterial(1, 1, 1);
  // The light sits on the quad's axis, 2 in front of it: every corner sees it at d = sqrt(6).
  const double d = std::sqrt(6.0), n_dot_l = 2 / d;
  struct Case {
    float a0, a1, a2;
  } cases[] = {{0, 0.4f, 0}, {1, 0, 0}, {0.5f, 0.1f, 0.05f}};
  for (const Case& c : cases) {
    D3DLIGHT7 light = {};
    light.dltType = D3DLIGHT_POINT;
    light.dcvDiffuse = {0.5f, 0.25f, 1.0f, 1};
    light.dvPosition = {0, 0, -1.5f};
    light.dvRange = 10;
    light.dvAttenuation0 = c.a0;
    light.dvAttenuation1 = c.a1;
    light.dvAttenuation2 = c.a2;
    setLight(light);
    drawQuad();
    double attenuation = 1 / (c.a0 + c.a1 * d + c.a2 * d * d);
    double k = n_dot_l * attenuation;
    expectColour(centre(), 0.5 * k, 0.25 * k, 1.0 * k, "point light");
  }

  // Out of range the light gives nothing, not even its ambient part.
  D3DMATERIAL7 material = {};
  material.dcvDiffuse = {1, 1, 1, 1};
  material.dcvAmbient = {1, 1, 1, 1};
  device->SetMaterial(&material);
  D3DLIGHT7 light = {};
  light.dltType = D3DLIGHT_POINT;
  light.dcvDiffuse = {0.5f, 0.5f, 0.5f, 1};
  light.dcvAmbient = {0.25f, 0.25f, 0.25f, 1};
  light.dvPosition = {0, 0, -1.5f};
  light.dvAttenuation0 = 2;  // attenuates the ambient part too
  light.dvRange = float(d) + 0.01f;
  setLight(light);
  drawQuad();
  const double in_range = (0.5 * n_dot_l + 0.25) / 2;
  expectColour(centre(), in_range, in_range, in_range, "just in range");
  light.dvRange = float(d) - 0.01f;
  setLight(light);
  drawQuad();
  expectColour(centre(), 0, 0, 0, "just out of range");
}

TEST_F(GlDevice, SpotLightIsFullInsideItsConeFadesInThePenumbraAndIsDarkOutside) {
  setMaterial(1, 1, 1);
  // From the light to every corner the angle off the spot's axis is acos(2 / sqrt(6)), about 35.26°.
  const double d = std::sqrt(6.0), rho = 2 / d, n_dot_l = 2 / d;
  auto radians = [](double degrees) { return float(degrees * kPi / 180); };
  struct Case {
    double inner_half, outer_half, falloff;
  } cases[] = {{40, 50, 1}, {30, 40, 1}, {30, 40, 2}, {20, 30, 1}};
  for (const Case& c : cases) {
    setLight(spotLight(-1.5f, radians(2 * c.inner_half), radians(2 * c.outer_half), float(c.falloff)));
    drawQuad();
    double cos_inner = std::cos(c.inner_half * kPi / 180), cos_outer = std::cos(c.outer_half * kPi / 180);
    double spot = rho > cos_inner    ? 1
                  : rho <= cos_outer ? 0
                                     : std::pow((rho - cos_outer) / (cos_inner - cos_outer), c.falloff);
    double k = n_dot_l * spot;
    expectColour(centre(), k, k, k, "spot light");
  }
}

TEST_F(GlDevice, AmbientAndEmissiveLightASurfaceWithoutLights) {
  D3DMATERIAL7 material = {};
  material.dcvDiffuse = {1, 1, 1, 1};
  material.dcvAmbient = {0.5f, 1.0f, 0.25f, 1};
  material.dcvEmissive = {0.1f, 0.2f, 0.3f, 0};
  device->SetMaterial(&material);
  device->SetRenderState(D3DRENDERSTATE_AMBIENT, 0xFF406080);
  drawQuad();
  expectColour(centre(), 0.1 + 0.5 * 0x40 / 255.0, 0.2 + 1.0 * 0x60 / 255.0, 0.3 + 0.25 * 0x80 / 255.0,
               "ambient and emissive");
}

TEST_F(GlDevice, ScalingWorldMatrixChangesBrightnessBecauseNormalsAreNotNormalised) {
  setMaterial(0.4f, 0.4f, 0.4f);
  D3DLIGHT7 light = {};
  light.dltType = D3DLIGHT_DIRECTIONAL;
  light.dcvDiffuse = {1, 1, 1, 1};
  light.dvDirection = {0, 0, 1};
  setLight(light);
  // Normals go through the inverse transpose: a world scaled by s shortens them to 1 / s.
  for (float scale : {1.0f, 2.0f, 0.5f}) {
    D3DMATRIX world = {};
    world.m[0][0] = world.m[1][1] = world.m[2][2] = scale;
    world.m[3][3] = 1;
    device->SetTransform(D3DTRANSFORMSTATE_WORLD, &world);
    drawQuad(1.0f / scale, 0.5f / scale);
    double k = 0.4 / scale;
    expectColour(centre(), k, k, k, "scaled world");
  }
  device->SetRenderState(D3DRENDERSTATE_NORMALIZENORMALS, TRUE);
  drawQuad(2.0f, 1.0f);
  expectColour(centre(), 0.4, 0.4, 0.4, "normalised normals");
}

TEST_F(GlDevice, ViewAndProjectionPlaceAndLightTheQuadAsRowVectors) {
  // A perspective projection in Direct3D's form and a view that moves the world 3 back: the quad at
  // world z = 0.5 then lies at view z = 3.5; a directional light along the view's axis lights it fully.
  D3DMATRIX view = {}, projection = {};
  for (int i = 0; i < 4; ++i) view.m[i][i] = 1;
  view.m[3][2] = 3;
  const float zn = 1, zf = 100;
  projection.m[0][0] = 1;
  projection.m[1][1] = 1;
  projection.m[2][2] = zf / (zf - zn);
  projection.m[2][3] = 1;
  projection.m[3][2] = -zn * zf / (zf - zn);
  device->SetTransform(D3DTRANSFORMSTATE_VIEW, &view);
  device->SetTransform(D3DTRANSFORMSTATE_PROJECTION, &projection);
  setMaterial(0.5f, 0.5f, 0.5f);
  D3DLIGHT7 light = {};
  light.dltType = D3DLIGHT_DIRECTIONAL;
  light.dcvDiffuse = {1, 1, 1, 1};
  light.dvDirection = {0, 0, 1};
  setLight(light);
  drawQuad(1.0f);
  // x_s = (x / w + 1) · 320 with w = 3.5: the quad spans 320 ± 91.4 pixels across, 240 ± 68.6 down.
  expectColour(centre(), 0.5, 0.5, 0.5, "inside");
  expectColour(pixel(320 + 89, 240), 0.5, 0.5, 0.5, "inside the right edge");
  expectColour(pixel(320 + 94, 240), 0, 0, 0, "outside the right edge");
  expectColour(pixel(320, 240 + 66), 0.5, 0.5, 0.5, "inside the bottom edge");
  expectColour(pixel(320, 240 + 71), 0, 0, 0, "outside the bottom edge");

  // Only the view changes: the quad comes nearer (w = 2) and grows to 320 ± 160.
  context->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
  view.m[3][2] = 1.5f;
  device->SetTransform(D3DTRANSFORMSTATE_VIEW, &view);
  drawQuad(1.0f);
  expectColour(pixel(320 + 158, 240), 0.5, 0.5, 0.5, "inside the nearer quad's right edge");
  expectColour(pixel(320 + 163, 240), 0, 0, 0, "outside the nearer quad's right edge");
}

// ---- Texture stages -------------------------------------------------------------------------------

TEST_F(GlDevice, ModulateMultipliesTheTextureWithTheLitColour) {
  setMaterial(0.5f, 1.0f, 0.75f);
  D3DLIGHT7 light = {};
  light.dltType = D3DLIGHT_DIRECTIONAL;
  light.dcvDiffuse = {1, 1, 1, 1};
  light.dvDirection = {0, 0, 1};
  setLight(light);
  device->SetTexture(0, solidTexture(200, 100, 50));
  drawQuad();
  expectColour(centre(), 0.5 * 200 / 255, 1.0 * 100 / 255, 0.75 * 50 / 255, "modulate");
  // R5G6B5 texels read as their 5- and 6-bit values.
  device->SetTexture(0, solidTexture565(200, 100, 50));
  drawQuad();
  expectColour(centre(), 0.5 * (200 >> 3) / 31.0, 1.0 * (100 >> 2) / 63.0, 0.75 * (50 >> 3) / 31.0, "R5G6B5");
  // Without a texture the stage passes the lit colour through.
  device->SetTexture(0, nullptr);
  drawQuad();
  expectColour(centre(), 0.5, 1.0, 0.75, "no texture");
}

TEST_F(GlDevice, BlendFactorAlphaMixesStageOneOverStageZeroByTheFactorsAlpha) {
  device->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
  device->SetTexture(0, solidTexture(200, 40, 0));
  device->SetTexture(1, solidTexture(0, 100, 255));
  device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_BLENDFACTORALPHA);
  device->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
  for (DWORD factor : {0x00000000u, 0x7F7F7F7Fu, 0xFFFFFFFFu}) {
    device->SetRenderState(D3DRENDERSTATE_TEXTUREFACTOR, factor);
    drawQuad();
    double f = (factor >> 24) / 255.0;
    expectColour(centre(), (0 * f + 200 * (1 - f)) / 255, (100 * f + 40 * (1 - f)) / 255, (255 * f + 0 * (1 - f)) / 255,
                 "blend factor alpha");
  }
  // Stage 1 without its texture passes stage 0's result through.
  device->SetTexture(1, nullptr);
  drawQuad();
  expectColour(centre(), 200 / 255.0, 40 / 255.0, 0, "stage 1 without a texture");
  // Disabling stage 1 ends the cascade at stage 0.
  device->SetTexture(1, textures.back());
  device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
  drawQuad();
  expectColour(centre(), 200 / 255.0, 40 / 255.0, 0, "stage 1 off");
}

TEST_F(GlDevice, AlphaComesFromTheTextureUntilTheStageTakesItFromTheDiffuseColour) {
  // Emissive white: the lit colour is white whatever the lights, with the diffuse alpha 0.5.
  D3DMATERIAL7 material = {};
  material.dcvDiffuse = {1, 1, 1, 0.5f};
  material.dcvEmissive = {1, 1, 1, 0};
  device->SetMaterial(&material);
  device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
  device->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
  device->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, FALSE);
  TextureSurface* green = solidTexture(0, 200, 0);
  auto drawOverRed = [&] {
    device->SetTexture(0, nullptr);
    drawScreenQuad(0, 0, 640, 480, 0xFFFF0000);  // untextured: stage 0 passes the red through, alpha 1
    device->SetTexture(0, green);
    drawQuad();
  };
  drawOverRed();
  // A texture without alpha reads alpha 1: the surface covers the red entirely.
  expectColour(centre(), 0, 200 / 255.0, 0, "alpha from the texture");

  device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
  drawOverRed();
  expectColour(centre(), 0.5, 0.5 * 200 / 255, 0, "alpha from the lit diffuse colour");
}

// ---- Blending and depth ---------------------------------------------------------------------------

TEST_F(GlDevice, SourceAlphaBlendsOverOrAddsToWhatIsDrawn) {
  device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, FALSE);
  const double a = 0x60 / 255.0;
  struct Case {
    DWORD destination;
    double r, g, b;
  } cases[] = {{D3DBLEND_INVSRCALPHA, 0.8 * a + 0.4 * (1 - a), 0.2 * a + 0.6 * (1 - a), 1.0 * a + 0.2 * (1 - a)},
               {D3DBLEND_ONE, 0.8 * a + 0.4, 0.2 * a + 0.6, 1.0 * a + 0.2}};
  for (const Case& c : cases) {
    device->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ZERO);
    drawScreenQuad(0, 0, 640, 480, D3DCOLOR(0xFF000000 | 0x66 << 16 | 0x99 << 8 | 0x33));
    device->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRENDERSTATE_DESTBLEND, c.destination);
    drawScreenQuad(0, 0, 640, 480, D3DCOLOR(0x60000000 | 0xCC << 16 | 0x33 << 8 | 0xFF));
    expectColour(centre(), c.r, c.g, c.b, "blend");
  }
}

TEST_F(GlDevice, DepthTestKeepsTheNearerSurfaceUnlessItWroteNoDepth) {
  device->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
  auto drawAt = [&](float z, D3DCOLOR colour) {
    ColouredVertex quad[4] = {{-1, 1, z, 0, colour, 0, 0, 0},
                              {1, 1, z, 0, colour, 0, 0, 0},
                              {-1, -1, z, 0, colour, 0, 0, 0},
                              {1, -1, z, 0, colour, 0, 0, 0}};
    ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_LVERTEX, quad, 4, 0), S_OK);
  };
  drawAt(0.3f, 0xFFFF0000);
  drawAt(0.6f, 0xFF00FF00);
  expectColour(centre(), 1, 0, 0, "the nearer surface stays");
  drawAt(0.3f, 0xFF0000FF);
  expectColour(centre(), 0, 0, 1, "equal depth passes LESSEQUAL");

  // Clearing the depth buffer keeps the colours and lets the farther surface through.
  context->Clear(D3DCLEAR_ZBUFFER);
  expectColour(centre(), 0, 0, 1, "a depth clear keeps colour");
  drawAt(0.9f, 0xFF00FF00);
  expectColour(centre(), 0, 1, 0, "after a depth clear");

  // Depth 0..1 of transformed and of pre-transformed vertices lands in the same depth buffer values,
  // and transformed depth below 0 is clipped.
  context->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
  drawAt(0.5f, 0xFFFF0000);
  drawScreenQuad(0, 0, 640, 480, 0xFF00FF00, 0.55f);
  expectColour(centre(), 1, 0, 0, "a screen quad behind a transformed one");
  drawScreenQuad(0, 0, 640, 480, 0xFF0000FF, 0.45f);
  expectColour(centre(), 0, 0, 1, "a screen quad in front of a transformed one");
  context->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
  drawAt(-0.25f, 0xFFFFFFFF);
  expectColour(centre(), 0, 0, 0, "in front of the near plane");

  context->Clear(D3DCLEAR_ZBUFFER);
  device->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, FALSE);
  drawAt(0.3f, 0xFFFF0000);
  device->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, TRUE);
  drawAt(0.6f, 0xFFFFFFFF);
  expectColour(centre(), 1, 1, 1, "a surface that wrote no depth hides nothing");
}

TEST_F(GlDevice, CullingRemovesCounterClockwiseTrianglesByDefault) {
  device->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
  // Left: clockwise on screen; right: counter-clockwise.
  ColouredVertex triangles[6] = {
      {-0.9f, 0.5f, 0.5f, 0, 0xFFFFFFFF, 0, 0, 0},  {-0.1f, 0.5f, 0.5f, 0, 0xFFFFFFFF, 0, 0, 0},
      {-0.5f, -0.5f, 0.5f, 0, 0xFFFFFFFF, 0, 0, 0}, {0.1f, 0.5f, 0.5f, 0, 0xFFFFFFFF, 0, 0, 0},
      {0.5f, -0.5f, 0.5f, 0, 0xFFFFFFFF, 0, 0, 0},  {0.9f, 0.5f, 0.5f, 0, 0xFFFFFFFF, 0, 0, 0}};
  const int left_x = 160, right_x = 480, y = 200;
  struct Case {
    DWORD mode;
    bool left, right;
  } cases[] = {{D3DCULL_CCW, true, false}, {D3DCULL_CW, false, true}, {D3DCULL_NONE, true, true}};
  for (const Case& c : cases) {
    context->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
    device->SetRenderState(D3DRENDERSTATE_CULLMODE, c.mode);
    ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_LVERTEX, triangles, 6, 0), S_OK);
    EXPECT_EQ(pixel(left_x, y).r, c.left ? 255 : 0) << "cull mode " << c.mode;
    EXPECT_EQ(pixel(right_x, y).r, c.right ? 255 : 0) << "cull mode " << c.mode;
  }
}

// ---- Geometry -------------------------------------------------------------------------------------

TEST_F(GlDevice, PreTransformedQuadCoversExactlyItsPixels) {
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, FALSE);
  drawScreenQuad(0, 0, 640, 480, 0xFFFFFFFF);
  std::vector<uint8_t> rgb;
  int width = 0, height = 0;
  ASSERT_TRUE(readGlRenderTarget(context, &rgb, &width, &height));
  ASSERT_EQ(width, 640);
  ASSERT_EQ(height, 480);
  size_t unlit = 0;
  for (uint8_t value : rgb) unlit += value != 255;
  EXPECT_EQ(unlit, 0u) << "the full-screen quad leaves pixels out";

  // Pixel centres at integer coordinates: a quad from (10, 20) to (30, 50) is pixels 10..29 × 20..49.
  context->Clear(D3DCLEAR_TARGET);
  drawScreenQuad(10, 20, 30, 50, 0xFFFFFFFF);
  ASSERT_TRUE(readGlRenderTarget(context, &rgb, &width, &height));
  size_t wrong = 0;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      bool inside = x >= 10 && x < 30 && y >= 20 && y < 50;
      wrong += rgb[(size_t(y) * 640 + x) * 3] != (inside ? 255 : 0);
    }
  EXPECT_EQ(wrong, 0u);

  // An edge between two pixel centres: Direct3D's centres are a half pixel left of GL's, so an edge at
  // 10.25 leaves pixel 10 out and takes pixel 30 in; the same for transformed vertices.
  auto countWrong = [&](int first_x, int last_x, int first_y, int last_y) {
    EXPECT_TRUE(readGlRenderTarget(context, &rgb, &width, &height));
    size_t count = 0;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) {
        bool inside = x >= first_x && x <= last_x && y >= first_y && y <= last_y;
        count += rgb[(size_t(y) * 640 + x) * 3] != (inside ? 255 : 0);
      }
    return count;
  };
  context->Clear(D3DCLEAR_TARGET);
  drawScreenQuad(10.25f, 20.25f, 30.25f, 50.25f, 0xFFFFFFFF);
  EXPECT_EQ(countWrong(11, 30, 21, 50), 0u) << "pre-transformed";
  context->Clear(D3DCLEAR_TARGET);
  device->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
  auto ndcX = [](float x) { return x / 320 - 1; };
  auto ndcY = [](float y) { return 1 - y / 240; };
  ColouredVertex quad[4] = {{ndcX(10.25f), ndcY(20.25f), 0.5f, 0, 0xFFFFFFFF, 0, 0, 0},
                            {ndcX(30.25f), ndcY(20.25f), 0.5f, 0, 0xFFFFFFFF, 0, 0, 0},
                            {ndcX(10.25f), ndcY(50.25f), 0.5f, 0, 0xFFFFFFFF, 0, 0, 0},
                            {ndcX(30.25f), ndcY(50.25f), 0.5f, 0, 0xFFFFFFFF, 0, 0, 0}};
  ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_LVERTEX, quad, 4, 0), S_OK);
  EXPECT_EQ(countWrong(11, 30, 21, 50), 0u) << "transformed";
}

TEST_F(GlDevice, ColouredVertexWithoutLightingShowsItsOwnColour) {
  device->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
  ColouredVertex quad[4] = {{-1, 1, 0.5f, 0, 0xFF336699, 0x00FFFFFF, 0, 0},
                            {1, 1, 0.5f, 0, 0xFF336699, 0x00FFFFFF, 1, 0},
                            {-1, -1, 0.5f, 0, 0xFF336699, 0x00FFFFFF, 0, 1},
                            {1, -1, 0.5f, 0, 0xFF336699, 0x00FFFFFF, 1, 1}};
  ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_LVERTEX, quad, 4, 0), S_OK);
  // The specular colour is not added while SPECULARENABLE is off (the default).
  expectColour(centre(), 0x33 / 255.0, 0x66 / 255.0, 0x99 / 255.0, "own colour");
  device->SetTexture(0, solidTexture(255, 128, 0));
  ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_LVERTEX, quad, 4, 0), S_OK);
  expectColour(centre(), 0x33 / 255.0, 0x66 / 255.0 * 128 / 255, 0, "modulated by a texture");
  device->SetRenderState(D3DRENDERSTATE_SPECULARENABLE, TRUE);
  ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_LVERTEX, quad, 4, 0), S_OK);
  expectColour(centre(), 1, 1, 1, "specular added after the stages");
}

TEST_F(GlDevice, MipFilterChoosesTheLevelOfAMinifiedTexture) {
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, FALSE);
  device->SetTexture(0, levelsTexture());
  // 128 texels onto 32 pixels: level 2, unless mipmapping is off.
  struct Case {
    DWORD min, mip;
    double r, g, b;
  } cases[] = {{D3DTFN_POINT, D3DTFP_NONE, 1, 0, 0},
               {D3DTFN_LINEAR, D3DTFP_NONE, 1, 0, 0},
               {D3DTFN_POINT, D3DTFP_POINT, 0, 0, 1},
               {D3DTFN_LINEAR, D3DTFP_POINT, 0, 0, 1},
               {D3DTFN_LINEAR, D3DTFP_LINEAR, 0, 0, 1}};
  for (const Case& c : cases) {
    device->SetTextureStageState(0, D3DTSS_MINFILTER, c.min);
    device->SetTextureStageState(0, D3DTSS_MIPFILTER, c.mip);
    drawScreenQuad(100, 100, 132, 132, 0xFFFFFFFF);
    expectColour(pixel(116, 116), c.r, c.g, c.b, "mip level");
  }
}

TEST_F(GlDevice, LevelsFilledThroughTheContextLibraryAreInGlBeforeTheirFirstDraw) {
  DWORD flags = 0, width = 128, height = 128, levels = 0;
  D3DX_SURFACEFORMAT format = D3DX_SF_R8G8B8;
  IDirectDrawSurface7* texture = nullptr;
  ASSERT_EQ(D3DXCreateTexture(device, &flags, &width, &height, &format, nullptr, &texture, &levels), S_OK);
  textures.push_back(static_cast<TextureSurface*>(texture));
  ASSERT_EQ(levels, 8u);
  // Levels 0, 1 and 2 red, green and blue, from one-colour pictures (0x00RRGGBB texels).
  auto fill = [&](DWORD level, uint32_t colour) {
    std::vector<uint32_t> picture(16, colour);
    const int rect[4] = {0, 0, 4, 4};
    return D3DXLoadTextureFromMemory(device, texture, level, picture.data(), nullptr, D3DX_SF_X8R8G8B8, 0, rect,
                                     D3DX_FT_POINT);
  };
  uint64_t uploads = glDeviceCounters(device).texture_uploads;
  ASSERT_EQ(fill(0, 0xFF0000), S_OK);
  EXPECT_EQ(glDeviceCounters(device).texture_uploads - uploads, 8u) << "the first fill defines the whole chain";
  ASSERT_EQ(fill(1, 0x00FF00), S_OK);
  ASSERT_EQ(fill(2, 0x0000FF), S_OK);
  EXPECT_EQ(glDeviceCounters(device).texture_uploads - uploads, 10u) << "later fills send their own level only";

  uploads = glDeviceCounters(device).texture_uploads;
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, FALSE);
  device->SetTexture(0, texture);
  device->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTFP_POINT);
  drawScreenQuad(100, 100, 132, 132, 0xFFFFFFFF);  // 128 texels onto 32 pixels: level 2
  drawScreenQuad(300, 100, 556, 356, 0xFFFFFFFF);  // enlarged: level 0
  drawScreenQuad(150, 300, 214, 364, 0xFFFFFFFF);  // 128 onto 64: level 1
  expectColour(pixel(116, 116), 0, 0, 1, "level 2");
  expectColour(pixel(400, 200), 1, 0, 0, "level 0");
  expectColour(pixel(180, 330), 0, 1, 0, "level 1");
  EXPECT_EQ(glDeviceCounters(device).texture_uploads, uploads) << "a draw uploaded a level";
}

TEST_F(GlDevice, PreparingReadiesWhatADrawNeedsDrawsNothingAndGivesTheStateBack) {
  // A state combination no probe uses elsewhere: two spot lights behind a directional one, stage 0
  // taking alpha from the diffuse colour of a texture not yet in GL.
  D3DLIGHT7 spot = spotLight(-5, 1, 2, 1);
  setMaterial(1, 1, 1);
  DeviceState before = static_cast<ShadowDevice*>(device)->state;
  TextureSurface* texture = solidTexture(200, 100, 50);
  GlDeviceCounters counted = glDeviceCounters(device);

  setDevicePreparing(device, true);
  device->SetLight(1, &spot);
  device->SetLight(2, &spot);
  for (DWORD i = 0; i < 3; ++i) device->LightEnable(i, TRUE);
  device->SetTexture(0, texture);
  device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
  context->Clear(D3DCLEAR_TARGET);  // nothing either
  drawQuad();
  GlDeviceCounters prepared = glDeviceCounters(device);
  EXPECT_EQ(prepared.program_builds - counted.program_builds, 1u);
  EXPECT_EQ(prepared.texture_uploads - counted.texture_uploads, 1u);
  EXPECT_EQ(prepared.draws, counted.draws);
  expectColour(centre(), 0, 0, 0, "a prepared draw shows nothing");
  setDevicePreparing(device, false);
  EXPECT_EQ(std::memcmp(&static_cast<ShadowDevice*>(device)->state, &before, sizeof(before)), 0)
      << "the state before the preparation is back";

  // The same draw for real builds and uploads nothing more, and is seen.
  device->SetLight(1, &spot);
  device->SetLight(2, &spot);
  for (DWORD i = 0; i < 3; ++i) device->LightEnable(i, TRUE);
  device->SetTexture(0, texture);
  device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
  drawQuad();
  GlDeviceCounters drawn = glDeviceCounters(device);
  EXPECT_EQ(drawn.program_builds, prepared.program_builds);
  EXPECT_EQ(drawn.texture_uploads, prepared.texture_uploads);
  EXPECT_EQ(drawn.draws - prepared.draws, 1u);
  EXPECT_GT(centre().r, 0);
}

void GlDevice::drawVertexBufferRanges() {
  IDirect3D7* direct3d = context->GetD3D();
  D3DVERTEXBUFFERDESC description = {sizeof(description), D3DVBCAPS_SYSTEMMEMORY, D3DFVF_LVERTEX, 8};
  IDirect3DVertexBuffer7* buffer = nullptr;
  ASSERT_EQ(direct3d->CreateVertexBuffer(&description, &buffer, 0), S_OK);
  device->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, FALSE);
  auto fill = [&](D3DCOLOR first, D3DCOLOR second) {
    void* data = nullptr;
    ASSERT_EQ(buffer->Lock(DDLOCK_DISCARDCONTENTS, &data, nullptr), S_OK);
    ColouredVertex* v = static_cast<ColouredVertex*>(data);
    const float xs[2][2] = {{-1, 0}, {0, 1}};  // left half, right half
    for (int q = 0; q < 2; ++q)
      for (int i = 0; i < 4; ++i)
        v[q * 4 + i] = {xs[q][i & 1], i < 2 ? 1.0f : -1.0f, 0.5f, 0, q ? second : first, 0, 0, 0};
    ASSERT_EQ(buffer->Unlock(), S_OK);
  };
  WORD indices[6] = {0, 1, 2, 2, 1, 3};
  fill(0xFFFF0000, 0xFF00FF00);
  ASSERT_EQ(device->DrawIndexedPrimitiveVB(D3DPT_TRIANGLELIST, buffer, 4, 4, indices, 6, 0), S_OK);
  expectColour(pixel(480, 240), 0, 1, 0, "indices count from the start vertex");
  expectColour(pixel(160, 240), 0, 0, 0, "the first quad is not drawn");
  ASSERT_EQ(device->DrawPrimitiveVB(D3DPT_TRIANGLESTRIP, buffer, 0, 4, 0), S_OK);
  expectColour(pixel(160, 240), 1, 0, 0, "a strip from vertex 0");

  // New contents after a discarding lock are what the next draw shows.
  fill(0xFF0000FF, 0xFFFFFFFF);
  ASSERT_EQ(device->DrawPrimitiveVB(D3DPT_TRIANGLESTRIP, buffer, 0, 4, 0), S_OK);  // the range drawn last
  ASSERT_EQ(device->DrawIndexedPrimitiveVB(D3DPT_TRIANGLELIST, buffer, 4, 4, indices, 6, 0), S_OK);
  expectColour(pixel(480, 240), 1, 1, 1, "refilled right");
  expectColour(pixel(160, 240), 0, 0, 1, "refilled left");

  // Bad draws are refused, not read: a locked buffer, a range past the end, an index past the count.
  void* data = nullptr;
  ASSERT_EQ(buffer->Lock(0, &data, nullptr), S_OK);
  EXPECT_LT(device->DrawPrimitiveVB(D3DPT_TRIANGLESTRIP, buffer, 0, 4, 0), 0);
  buffer->Unlock();
  EXPECT_LT(device->DrawPrimitiveVB(D3DPT_TRIANGLESTRIP, buffer, 6, 4, 0), 0);
  WORD beyond[3] = {0, 1, 4};
  EXPECT_LT(device->DrawIndexedPrimitiveVB(D3DPT_TRIANGLELIST, buffer, 4, 4, beyond, 3, 0), 0);
  EXPECT_LT(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0x42, indices, 3, 0), 0);
  buffer->Release();
  direct3d->Release();
}

void GlDevice::drawQuadAfterFiller() {
  device->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, FALSE);
  // 70,000 vertices of triangles with no area, streamed before the quad.
  std::vector<ColouredVertex> filler(70002, ColouredVertex{0, 0, 0.5f, 0, 0xFFFFFFFF, 0, 0, 0});
  ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_LVERTEX, filler.data(), DWORD(filler.size()), 0), S_OK);
  expectColour(centre(), 0, 0, 0, "the filler draws nothing");

  IDirect3D7* direct3d = context->GetD3D();
  D3DVERTEXBUFFERDESC description = {sizeof(description), D3DVBCAPS_SYSTEMMEMORY, D3DFVF_LVERTEX, 4};
  IDirect3DVertexBuffer7* buffer = nullptr;
  ASSERT_EQ(direct3d->CreateVertexBuffer(&description, &buffer, 0), S_OK);
  void* data = nullptr;
  ASSERT_EQ(buffer->Lock(DDLOCK_DISCARDCONTENTS, &data, nullptr), S_OK);
  ColouredVertex quad[4] = {{-1, 1, 0.5f, 0, 0xFF00FFFF, 0, 0, 0},
                            {1, 1, 0.5f, 0, 0xFF00FFFF, 0, 0, 0},
                            {-1, -1, 0.5f, 0, 0xFF00FFFF, 0, 0, 0},
                            {1, -1, 0.5f, 0, 0xFF00FFFF, 0, 0, 0}};
  std::memcpy(data, quad, sizeof(quad));
  ASSERT_EQ(buffer->Unlock(), S_OK);
  WORD indices[6] = {0, 1, 2, 2, 1, 3};
  ASSERT_EQ(device->DrawIndexedPrimitiveVB(D3DPT_TRIANGLELIST, buffer, 0, 4, indices, 6, 0), S_OK);
  expectColour(centre(), 0, 1, 1, "the quad after the filler");
  buffer->Release();
  direct3d->Release();
}

// Both ways of streaming, the ring's and the page's new storage at every upload, draw each range of a
// vertex buffer from where it starts, with its contents as of the draw, and each draw with the
// material it was given: the uniform block's binding follows its buffer onto new storage.
TEST_F(GlDevice, VertexBufferDrawsFollowTheStartVertexAndTheBuffersContents) {
  for (bool replacing : {false, true}) {
    SCOPED_TRACE(replacing ? "every upload on new storage" : "streamed into the ring");
    setGlStreamsReplacing(device, replacing);
    setDefaultDeviceState(&static_cast<ShadowDevice*>(device)->state);
    context->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
    drawVertexBufferRanges();
    device->SetRenderState(D3DRENDERSTATE_LIGHTING, TRUE);
    device->SetRenderState(D3DRENDERSTATE_AMBIENT, 0xFFFFFFFF);
    for (float red : {1.0f, 0.25f}) {
      D3DMATERIAL7 material = {};
      material.dcvAmbient = {red, 0.5f, 0, 1};
      device->SetMaterial(&material);
      drawQuad();
      expectColour(centre(), red, 0.5, 0, "a quad with the material just set");
    }
  }
  setGlStreamsReplacing(device, false);
}

// Indices are moved to where the draw's vertices sit in the device's streaming buffer; deep into it,
// that is past what 16 bits can hold. On new storage they start it, and go as they are.
TEST_F(GlDevice, IndexedDrawsFarIntoTheStreamStillFindTheirVertices) {
  for (bool replacing : {false, true}) {
    SCOPED_TRACE(replacing ? "every upload on new storage" : "streamed into the ring");
    setGlStreamsReplacing(device, replacing);
    context->Clear(D3DCLEAR_TARGET);
    drawQuadAfterFiller();
  }
  setGlStreamsReplacing(device, false);
}

// Border addressing: outside the texture along that direction, the border colour (transparent black);
// clamping repeats the edge instead.
TEST_F(GlDevice, BorderAddressingReadsBlackOutsideTheTextureWhereClampingRepeatsItsEdge) {
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, FALSE);
  device->SetTexture(0, solidTexture(200, 100, 50));
  // u runs from 0 to 2 across the screen, v from 0 to 1.
  auto drawStretched = [&] {
    ScreenVertex quad[4] = {{0, 0, 0, 1, 0xFFFFFFFF, 0, 0, 0},
                            {640, 0, 0, 1, 0xFFFFFFFF, 0, 2, 0},
                            {0, 480, 0, 1, 0xFFFFFFFF, 0, 0, 1},
                            {640, 480, 0, 1, 0xFFFFFFFF, 0, 2, 1}};
    ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, quad, 4, 0), S_OK);
  };
  device->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_BORDER);
  drawStretched();
  expectColour(pixel(160, 240), 200 / 255.0, 100 / 255.0, 50 / 255.0, "inside the texture");
  expectColour(pixel(480, 240), 0, 0, 0, "past its right edge, with the border");
  device->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
  drawStretched();
  expectColour(pixel(480, 240), 200 / 255.0, 100 / 255.0, 50 / 255.0, "past its right edge, clamped");
  // Border along v only leaves u's overhang alone.
  device->SetTextureStageState(0, D3DTSS_ADDRESSV, D3DTADDRESS_BORDER);
  drawStretched();
  expectColour(pixel(480, 240), 200 / 255.0, 100 / 255.0, 50 / 255.0, "v within the texture");
}

TEST_F(GlDevice, StateReachesGlOnlyWhenItChanges) {
  setMaterial(1, 1, 1);
  device->SetTexture(0, solidTexture(10, 20, 30));
  drawQuad();
  GlDeviceCounters before = glDeviceCounters(device);
  for (int i = 0; i < 10; ++i) drawQuad();
  GlDeviceCounters after = glDeviceCounters(device);
  EXPECT_EQ(after.draws - before.draws, 10u);
  EXPECT_EQ(after.state_calls, before.state_calls) << "the same state was given to GL again";
  EXPECT_EQ(after.program_builds, before.program_builds);
  EXPECT_EQ(after.texture_uploads, before.texture_uploads);
  // A refilled texture is uploaded again.
  textures.back()->generation++;
  drawQuad();
  EXPECT_EQ(glDeviceCounters(device).texture_uploads, after.texture_uploads + 1);
}

// One scene with a white rectangle over pixels 10..29 × 20..49 of the show's screen.
void drawWhiteQuad(IDirect3DDevice7* device) { drawFlatRectangle(device, 10, 20, 30, 50, 0xFFFFFFFF); }

// A render target larger than the show's screen draws the same picture, scaled.
TEST(GlDeviceLargerTarget, ScreenCoordinatesScaleToTheTarget) {
  ScopedPlatformSettings restored;
  platform_settings.headless = true;
  platform_settings.render_width = 1280;
  platform_settings.render_height = 960;
  HWND window = openHeadlessWindow(640, 480);
  ASSERT_NE(window, nullptr);
  ID3DXContext* context = makeContext(window);
  ASSERT_NE(context, nullptr);
  IDirect3DDevice7* device = context->GetD3DDevice();
  drawWhiteQuad(device);
  std::vector<uint8_t> rgb;
  int width = 0, height = 0;
  ASSERT_TRUE(readGlRenderTarget(context, &rgb, &width, &height));
  ASSERT_EQ(width, 1280);
  ASSERT_EQ(height, 960);
  size_t wrong = 0;
  for (int y = 0; y < 960; ++y)
    for (int x = 0; x < 1280; ++x) {
      bool inside = x >= 20 && x < 60 && y >= 40 && y < 100;
      wrong += rgb[(size_t(y) * 1280 + x) * 3] != (inside ? 255 : 0);
    }
  EXPECT_EQ(wrong, 0u);
  device->Release();
  context->Release();
}

// Context creation: what colour and depth can be had, multisampling resolved, presented frames captured.
class GlContextCreation : public testing::Test {
 protected:
  void SetUp() override { platform_settings.headless = true; }
  void TearDown() override {
    platform_settings = PlatformSettings();
    capture_settings = CaptureSettings();
    endCapture();
  }
  // Draws the white quad and presents.
  static void drawAndPresent(ID3DXContext* context) {
    IDirect3DDevice7* device = context->GetD3DDevice();
    drawWhiteQuad(device);
    EXPECT_EQ(context->UpdateFrame(0), S_OK);
    device->Release();
  }
  static Rgb at(ID3DXContext* context, int x, int y) {
    std::vector<uint8_t> rgb;
    int width = 0, height = 0;
    EXPECT_TRUE(readGlRenderTarget(context, &rgb, &width, &height));
    const uint8_t* p = rgb.data() + (size_t(y) * width + x) * 3;
    return {p[0], p[1], p[2]};
  }
};

TEST_F(GlContextCreation, OffersSixteenTwentyFourAndThirtyTwoBitColourAndRefusesTheRest) {
  HWND window = openHeadlessWindow(640, 480);
  struct Case {
    DWORD colour, alpha, depth;
    bool works;
  } cases[] = {{24, 0, 32, true}, {16, 0, 16, true}, {32, 8, 24, true}, {8, 0, 16, false}, {24, 0, 12, false}};
  for (const Case& c : cases) {
    ID3DXContext* context = nullptr;
    HRESULT result = createContext(window, c.colour, c.alpha, c.depth, 1, &context);
    EXPECT_EQ(SUCCEEDED(result), c.works) << c.colour << "-bit colour, " << c.depth << "-bit depth";
    if (!context) continue;
    drawAndPresent(context);
    EXPECT_EQ(at(context, 15, 25).r, 255);
    EXPECT_EQ(at(context, 35, 25).r, 0);
    context->Release();
  }
  ID3DXContext* context = nullptr;
  EXPECT_LT(createContext(nullptr, 24, 0, 32, 1, &context), 0);
  EXPECT_EQ(context, nullptr);
}

TEST_F(GlContextCreation, MultisampledTargetIsResolvedForReadingAndCapture) {
  platform_settings.msaa_samples = 4;
  capture_settings.capture_path = scratchFolder();
  beginCapture();
  ID3DXContext* context = makeContext(openHeadlessWindow(640, 480));
  ASSERT_NE(context, nullptr);
  drawAndPresent(context);
  drawAndPresent(context);
  EXPECT_EQ(at(context, 15, 25).r, 255);
  EXPECT_EQ(at(context, 15, 15).r, 0);
  context->Release();
  EXPECT_TRUE(std::filesystem::exists(capture_settings.capture_path + "/frame_000000.png"));
  EXPECT_TRUE(std::filesystem::exists(capture_settings.capture_path + "/frame_000001.png"));
}

// A capture on a single-sampled target reads its frames back from a ring of buffers, late: each file
// still holds its own frame, in order, and the frames still in the ring are written when the context
// goes.
TEST_F(GlContextCreation, CapturedFramesLeaveTheRingInOrderAndWhole) {
  capture_settings.capture_path = scratchFolder();
  beginCapture();
  ID3DXContext* context = makeContext(openHeadlessWindow(640, 480));
  ASSERT_NE(context, nullptr);
  IDirect3DDevice7* device = context->GetD3DDevice();
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, FALSE);
  const int kFrames = 7;
  for (int frame = 0; frame < kFrames; ++frame) {
    // The whole target, as the show's skybox covers it, in a colour of this frame's own.
    D3DCOLOR colour = 0xFF000000u | DWORD(30 * frame) << 16 | DWORD(255 - 30 * frame) << 8 | DWORD(frame);
    device->BeginScene();
    ScreenVertex quad[4] = {{0, 0, 0, 1, colour, 0, 0, 0},
                            {640, 0, 0, 1, colour, 0, 0, 0},
                            {0, 480, 0, 1, colour, 0, 0, 0},
                            {640, 480, 0, 1, colour, 0, 0, 0}};
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, quad, 4, 0), S_OK);
    device->EndScene();
    EXPECT_EQ(context->UpdateFrame(0), S_OK);
  }
  device->Release();
  context->Release();
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(capture_settings.capture_path))
    names.push_back(entry.path().string());
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), size_t(kFrames));
  for (int frame = 0; frame < kFrames; ++frame) {
    Image image = readPng(names[size_t(frame)]);
    ASSERT_EQ(image.rgb.size(), 640u * 480u * 3u);
    for (size_t pixel : {size_t(0), size_t(640 * 240 + 320), size_t(640 * 480 - 1)}) {
      EXPECT_EQ(image.rgb[pixel * 3], 30 * frame) << "frame " << frame;
      EXPECT_EQ(image.rgb[pixel * 3 + 1], 255 - 30 * frame) << "frame " << frame;
      EXPECT_EQ(image.rgb[pixel * 3 + 2], frame) << "frame " << frame;
    }
  }
}

}  // namespace
