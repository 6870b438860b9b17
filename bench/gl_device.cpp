// The GL device's speed: frames per second for a synthetic frame shaped like the show's (skybox, 200
// face groups whose materials alternate, the fade quad), and the CPU time the device spends per draw
// call with its state shadow and with the shadow switched off (every state given to GL at every draw).
//
// Runs headless (SDL's offscreen driver) at 640 × 480 unless --size WxH is given. Usage:
//   bench_gl_device [--frames N] [--size WxH] [--cells N] [--msaa N] [--aniso N]

#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "headless.h"
#include "platform/devices.h"
#include "platform/platform.h"
#include "platform/test_hooks.h"
#include "thread_cpu.h"


static constexpr int kGroups = 200;

static TextureSurface* makeTexture(int size, uint8_t seed) {
  TextureSurface* texture = new TextureSurface;
  texture->format = D3DX_SF_R8G8B8;
  texture->width = texture->height = DWORD(size);
  for (int edge = size;; edge /= 2) {
    TextureSurface::Level level = {DWORD(edge), DWORD(edge), std::vector<uint8_t>(size_t(edge) * edge * 3)};
    for (size_t i = 0; i < level.bytes.size(); ++i) level.bytes[i] = uint8_t(i * 7 + seed * 31 + (i / 97));
    texture->levels.push_back(std::move(level));
    if (edge == 1) break;
  }
  texture->generation = 1;
  return texture;
}

static double threadSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

static double wallSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

struct Scene {
  ID3DXContext* context;
  IDirect3DDevice7* device;
  IDirect3DVertexBuffer7* objects;
  IDirect3DVertexBuffer7* skybox;
  std::vector<LitVertex> grid;  // one face group's vertices, placed per group by its world matrix
  std::vector<WORD> indices;
  TextureSurface* textures[4];
};

// A grid of cells × cells quads facing the camera, 1 unit wide.
static void makeGrid(Scene* scene, int cells) {
  for (int y = 0; y <= cells; ++y)
    for (int x = 0; x <= cells; ++x) {
      float u = float(x) / cells, v = float(y) / cells;
      scene->grid.push_back({u - 0.5f, 0.5f - v, 0, 0, 0, -1, u, v, u * 4, v * 4});
    }
  for (int y = 0; y < cells; ++y)
    for (int x = 0; x < cells; ++x) {
      WORD a = WORD(y * (cells + 1) + x), b = WORD(a + 1), c = WORD(a + cells + 1), d = WORD(c + 1);
      WORD quad[6] = {a, b, c, c, b, d};
      scene->indices.insert(scene->indices.end(), quad, quad + 6);
    }
}

static void setCamera(IDirect3DDevice7* device) {
  D3DMATRIX view = {}, projection = {};
  for (int i = 0; i < 4; ++i) view.m[i][i] = 1;
  const float zn = 1, zf = 1000, t = 1.0f / std::tan(0.5f);
  projection.m[0][0] = t * 0.75f;
  projection.m[1][1] = t;
  projection.m[2][2] = zf / (zf - zn);
  projection.m[2][3] = 1;
  projection.m[3][2] = -zn * zf / (zf - zn);
  device->SetTransform(D3DTRANSFORMSTATE_VIEW, &view);
  device->SetTransform(D3DTRANSFORMSTATE_PROJECTION, &projection);
}

static void setLights(IDirect3DDevice7* device) {
  D3DLIGHT7 lights[3] = {};
  lights[0].dltType = D3DLIGHT_POINT;
  lights[0].dvPosition = {0, 2, 5};
  lights[0].dvAttenuation1 = 0.4f;
  lights[0].dvRange = 100;
  lights[1].dltType = D3DLIGHT_SPOT;
  lights[1].dvPosition = {-3, 3, 2};
  lights[1].dvDirection = {0.3f, -0.3f, 0.9f};
  lights[1].dvAttenuation0 = 1;
  lights[1].dvRange = 100;
  lights[1].dvTheta = 0.5f;
  lights[1].dvPhi = 1.0f;
  lights[1].dvFalloff = 1;
  lights[2].dltType = D3DLIGHT_DIRECTIONAL;
  lights[2].dvDirection = {0.2f, -0.5f, 0.8f};
  for (DWORD i = 0; i < 3; ++i) {
    lights[i].dcvDiffuse = lights[i].dcvSpecular = {0.6f, 0.6f, 0.5f, 1};
    device->SetLight(i, &lights[i]);
    device->LightEnable(i, TRUE);
  }
  device->SetRenderState(D3DRENDERSTATE_AMBIENT, 0xFF202020);
}

// One frame as the show draws it: the calls of the skybox, the face groups and the fade overlay.
static void drawFrame(Scene& scene, int frame) {
  IDirect3DDevice7* device = scene.device;
  scene.context->Clear(D3DCLEAR_ZBUFFER);
  device->BeginScene();

  void* data = nullptr;
  scene.skybox->Lock(DDLOCK_DISCARDCONTENTS, &data, nullptr);
  ColouredVertex* sky = static_cast<ColouredVertex*>(data);
  for (int face = 0; face < 6; ++face)
    for (int i = 0; i < 4; ++i) {
      float s = 500;
      float a = (i & 1) ? s : -s, b = (i & 2) ? -s : s;
      float position[3] = {a, b, a};
      position[face % 3] = face < 3 ? -s : s;
      sky[face * 4 + i] = {position[0], position[1], position[2], 0, 0xFFFFFFFF, 0, float(i & 1), float(i >> 1)};
    }
  scene.skybox->Unlock();
  setCamera(device);
  D3DMATRIX identity = {};
  for (int i = 0; i < 4; ++i) identity.m[i][i] = 1;
  device->SetTransform(D3DTRANSFORMSTATE_WORLD, &identity);
  device->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, FALSE);
  device->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
  for (DWORD face = 0; face < 6; ++face) {
    device->SetTexture(0, scene.textures[face % 4]);
    device->DrawPrimitiveVB(D3DPT_TRIANGLESTRIP, scene.skybox, face * 4, 4, 0);
    device->SetTexture(0, nullptr);
  }
  device->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CCW);
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, TRUE);
  device->SetRenderState(D3DRENDERSTATE_LIGHTING, TRUE);
  setCamera(device);
  setLights(device);

  // Face groups in a 20 × 10 wall; odd groups add a detail texture, every fourth group is translucent.
  for (int group = 0; group < kGroups; ++group) {
    D3DMATRIX world = identity;
    world.m[3][0] = float(group % 20) - 9.5f + 0.05f * std::sin(frame * 0.1f + group);
    world.m[3][1] = float(group / 20) - 4.5f;
    world.m[3][2] = 12;
    device->SetTransform(D3DTRANSFORMSTATE_WORLD, &world);
    scene.objects->Lock(DDLOCK_DISCARDCONTENTS, &data, nullptr);
    std::memcpy(data, scene.grid.data(), scene.grid.size() * sizeof(LitVertex));
    scene.objects->Unlock();

    bool detail = group % 2 == 1, translucent = group % 4 == 3;
    device->SetTexture(0, scene.textures[group % 3]);
    if (detail) {
      device->SetTexture(1, scene.textures[3]);
      device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_BLENDFACTORALPHA);
      device->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
      device->SetRenderState(D3DRENDERSTATE_TEXTUREFACTOR, 0x7F7F7F7F);
    }
    D3DMATERIAL7 material = {};
    float shade = detail ? 0.9f : 0.6f;
    material.dcvDiffuse = {shade, shade, 0.8f, translucent ? 0.5f : 1.0f};
    material.dcvAmbient = {shade, shade, 0.8f, translucent ? 0.5f : 1.0f};
    material.dcvEmissive = {0.1f, 0.1f, 0.1f, 0.1f};
    if (translucent) {
      device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
      device->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, FALSE);
      device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
      device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
      device->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
      device->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
    }
    device->SetMaterial(&material);
    device->DrawIndexedPrimitiveVB(D3DPT_TRIANGLELIST, scene.objects, 0, DWORD(scene.grid.size()), scene.indices.data(),
                                   DWORD(scene.indices.size()), 0);
    device->SetTexture(0, nullptr);
    if (translucent) {
      device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, FALSE);
      device->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, TRUE);
    }
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
  }

  device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
  D3DCOLOR level = 0x80808080;
  ScreenVertex fade[4] = {{0, 0, 0, 1, level, 0, 0, 0},
                          {640, 0, 0, 1, level, 0, 1, 0},
                          {0, 480, 0, 1, level, 0, 0, 1},
                          {640, 480, 0, 1, level, 0, 1, 1}};
  device->SetTexture(0, scene.textures[0]);
  device->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, FALSE);
  device->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
  device->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
  device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, fade, 4, 0);
  device->SetRenderState(D3DRENDERSTATE_LIGHTING, TRUE);
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, TRUE);
  device->SetTexture(0, nullptr);
  device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, FALSE);
  device->EndScene();
}

struct Figures {
  double fps;
  double cpu_microseconds_per_draw;
  double state_calls_per_frame;
  ThreadCpu per_frame;
};

// Frames drawn, presented and waited for (the read-back waits for the picture to be finished): a
// capture figure.
static Figures measure(Scene& scene, int frames, bool shadowing) {
  setGlStateShadowing(scene.device, shadowing);
  std::vector<uint8_t> picture;
  for (int i = 0; i < 5; ++i) drawFrame(scene, i);
  readGlRenderTarget(scene.context, &picture, nullptr, nullptr);
  GlDeviceCounters before = glDeviceCounters(scene.device);
  ThreadCpu threads_before = threadCpu();
  double wall = 0, cpu = 0;
  for (int i = 0; i < frames; ++i) {
    double wall_start = wallSeconds();
    double cpu_start = threadSeconds();
    drawFrame(scene, i);
    cpu += threadSeconds() - cpu_start;
    scene.context->UpdateFrame(0);
    readGlRenderTarget(scene.context, &picture, nullptr, nullptr);
    wall += wallSeconds() - wall_start;
  }
  GlDeviceCounters after = glDeviceCounters(scene.device);
  ThreadCpu threads = cpuBetween(threads_before, threadCpu());
  double draws = double(after.draws - before.draws);
  return {frames / wall,
          cpu / draws * 1e6,
          double(after.state_calls - before.state_calls) / frames,
          {threads.main_ms / frames, threads.llvmpipe_ms / frames, threads.other_ms / frames}};
}

int main(int argc, char** argv) {
  int frames = 100, width = 640, height = 480, cells = 8, msaa = 0, aniso = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
      frames = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%dx%d", &width, &height) != 2) width = 0;
    } else if (std::strcmp(argv[i], "--cells") == 0 && i + 1 < argc) {
      cells = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--msaa") == 0 && i + 1 < argc) {
      msaa = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--aniso") == 0 && i + 1 < argc) {
      aniso = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: bench_gl_device [--frames N] [--size WxH] [--cells N] [--msaa N] [--aniso N]\n");
      return 2;
    }
  }
  if (frames <= 0 || width <= 0 || height <= 0 || cells <= 0 || cells > 100) {
    std::fprintf(stderr, "bench_gl_device: bad arguments\n");
    return 2;
  }
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  platform_settings.headless = true;
  platform_settings.render_width = width;
  platform_settings.render_height = height;
  platform_settings.msaa_samples = msaa;
  platform_settings.anisotropy = aniso;
  HWND window = openHeadlessWindow(640, 480);
  Scene scene = {};
  D3DXInitialize();
  if (!window || FAILED(D3DXCreateContextEx(D3DX_HWLEVEL_RASTER, D3DX_CONTEXT_FULLSCREEN, window, nullptr, 24, 0, 32,
                                            0, 2, 640, 480, D3DX_DEFAULT, &scene.context))) {
    std::fprintf(stderr, "bench_gl_device: no GL context\n");
    return 1;
  }
  scene.device = scene.context->GetD3DDevice();
  IDirect3D7* direct3d = scene.context->GetD3D();
  D3DVERTEXBUFFERDESC objects = {16, D3DVBCAPS_SYSTEMMEMORY, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2, 50000};
  D3DVERTEXBUFFERDESC skybox = {16, D3DVBCAPS_SYSTEMMEMORY, D3DFVF_LVERTEX, 192};
  direct3d->CreateVertexBuffer(&objects, &scene.objects, 0);
  direct3d->CreateVertexBuffer(&skybox, &scene.skybox, 0);
  for (int i = 0; i < 4; ++i) scene.textures[i] = makeTexture(256, uint8_t(i));
  // The show's base state.
  scene.device->SetRenderState(D3DRENDERSTATE_DITHERENABLE, TRUE);
  for (DWORD stage = 0; stage < 2; ++stage) {
    scene.device->SetTextureStageState(stage, D3DTSS_MAGFILTER, D3DTFG_LINEAR);
    scene.device->SetTextureStageState(stage, D3DTSS_MINFILTER, D3DTFN_LINEAR);
    scene.device->SetTextureStageState(stage, D3DTSS_MIPFILTER, D3DTFP_POINT);
  }

  makeGrid(&scene, cells);
  std::printf("GL device, %d × %d, msaa %d, anisotropy %d: %d face groups of %zu triangles (+ skybox, fade quad), "
              "%d frames each\n",
              width, height, msaa, aniso, kGroups, scene.indices.size() / 3, frames);
  Figures shadowed = measure(scene, frames, true);
  Figures unshadowed = measure(scene, frames, false);
  std::printf("%-20s %10s %22s %22s %28s\n", "", "frames/s", "CPU µs per draw call", "GL state calls/frame",
              "CPU ms/frame main, llvmpipe");
  for (const Figures* figures : {&shadowed, &unshadowed})
    std::printf("%-20s %10.1f %22.2f %22.1f %20.2f, %6.2f\n",
                figures == &shadowed ? "state shadow on" : "state shadow off", figures->fps,
                figures->cpu_microseconds_per_draw, figures->state_calls_per_frame, figures->per_frame.main_ms,
                figures->per_frame.llvmpipe_ms);
  std::printf(
      "(CPU time: the main thread's time in the frame's device calls, divided by its %d draw calls; it\n"
      " includes llvmpipe's vertex processing, which runs on that thread.)\n",
      kGroups + 7);
  return 0;
}
