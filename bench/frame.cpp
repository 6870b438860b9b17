// CPU time of one pass of the show's frame loop (controllers, skybox, camera, lights, octree culling,
// vertex emission, state and draw calls, overlay) on a scene of about 59,000 faces: six wavy walls of
// 9,800 faces each around a camera that turns once every 250 frames, so part of the geometry is in
// view, part crosses the view's edges and part lies behind.
//
// BM_FrameNullDevice draws on the null device (a recording device that keeps its state shadow but
// logs nothing): the renderer's own cost. BM_FrameGlDevice draws and presents at 640 × 480 on the GL
// device (headless through SDL's offscreen driver) when one can be had, each frame flushed as a display
// would take it (live) or finished as a capture reads it back (capture). Headless presentation shows
// nothing and llvmpipe rasterises only what is flushed, so without either the loop would time frames
// that are rasterised after it. CPU time per frame is split into the main thread's and llvmpipe's.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "headless.h"
#include "platform/test_hooks.h"
#include "render/render.h"
#include "scene_builder.h"
#include "shell/shell.h"
#include "thread_cpu.h"

static const int kWalls = 6;
static const int kGrid = 71;  // vertices per side: 70 × 70 quads, 9,800 faces per wall
static const int kFrames = 250;

// The scene and what the benchmark reads back of it.
struct BenchScene {
  SceneBuilder built;
  Scene* scene = nullptr;
  int32_t face_count = 0;
};

static void zQuaternion(float angle, float out[4]) {
  out[0] = out[1] = 0.0f;
  out[2] = std::sin(angle * 0.5f);
  out[3] = std::cos(angle * 0.5f);
}

// A wall of kGrid × kGrid vertices, gently waved, in the wall's own x-z plane.
static void wallGrid(std::vector<MeshVertex>* grid, std::vector<Face>* quads) {
  for (int row = 0; row < kGrid; ++row)
    for (int column = 0; column < kGrid; ++column) {
      float x = (column - kGrid / 2) * 0.8f, z = (row - kGrid / 2) * 0.8f;
      float y = std::sin(x * 0.3f) * std::cos(z * 0.3f) * 2.0f;
      grid->push_back({x, y, z, column / 8.0f, -row / 8.0f, 0.0f, 1.0f, 0.0f});
    }
  for (int row = 0; row + 1 < kGrid; ++row)
    for (int column = 0; column + 1 < kGrid; ++column) {
      int32_t v = row * kGrid + column;
      quads->push_back({v, v + 1, v + kGrid});
      quads->push_back({v + 1, v + kGrid + 1, v + kGrid});
    }
}

// Base + detail, base + environment, and a translucent untextured one, on the given surfaces.
static std::vector<SceneMaterial*> benchMaterials(SceneBuilder& built, IDirectDrawSurface7* const surfaces[3]) {
  SceneTexture* slots[3];
  for (int t = 0; t < 3; ++t) slots[t] = built.texture(surfaces[t]);
  std::vector<SceneMaterial*> materials;
  for (int i = 0; i < 3; ++i) {
    SceneMaterial* m = built.material();
    for (int c = 0; c < 3; ++c) {
      m->ambient[c] = 0.2f;
      m->diffuse[c] = 0.7f;
    }
    materials.push_back(m);
  }
  materials[0]->textures[1] = slots[0];
  materials[0]->textures[2] = slots[1];
  materials[0]->detail_blend = 0.3f;
  materials[1]->textures[1] = slots[0];
  materials[1]->textures[3] = slots[2];
  materials[1]->environment_blend = 0.5f;
  materials[2]->opacity = 0.6f;
  materials[2]->two_sided = 1;
  return materials;
}

// `surfaces` fill the texture slots (stand-ins on the null device, textures on the GL device).
static BenchScene* buildScene(IDirectDrawSurface7* const surfaces[3]) {
  BenchScene* b = new BenchScene;
  SceneBuilder& built = b->built;
  std::vector<SceneMaterial*> materials = benchMaterials(built, surfaces);
  const float pi = 3.14159265f;
  std::vector<AnimationKey> camera_keys;
  for (int f = 0; f < kFrames; ++f) {
    AnimationKey key = {};
    zQuaternion(2.0f * pi * float(f) / kFrames, key.rotation);
    camera_keys.push_back(key);
  }
  built.controller(&built.cameras[0].transform, camera_keys);  // the camera turns once round
  for (int w = 0; w < kWalls; ++w) {
    std::vector<MeshVertex> grid;
    std::vector<Face> quads;
    wallGrid(&grid, &quads);
    // Two groups per wall, the lower and upper halves of the rows, with different materials.
    int32_t half = int32_t(quads.size() / 2);
    std::vector<FaceGroupSpan> spans = {{materials[size_t(w % 2)], 0, half},
                                        {materials[size_t(w % 3 == 2 ? 2 : (w + 1) % 2)], half, half}};
    b->face_count += int32_t(quads.size());
    // Sixty units out along the wall's own -y, facing the centre.
    Transform placement = {};
    float angle = 2.0f * pi * float(w) / kWalls;
    zQuaternion(angle, placement.rotation);
    placement.position[0] = 60.0f * std::sin(angle);
    placement.position[1] = -60.0f * std::cos(angle);
    SceneObject* wall = built.mesh(std::move(grid), std::move(quads), spans, placement);
    // Every wall has a track of its own, held still, as baked scenes do.
    AnimationKey still = {};
    std::copy(placement.position, placement.position + 3, still.position);
    std::copy(placement.rotation, placement.rotation + 4, still.rotation);
    built.controller(&wall->transform, std::vector<AnimationKey>(kFrames, still));
  }
  built.cameras[0].field_of_view = 60.0f;
  built.cameras[0].far_distance = 500.0f;
  SceneLight light = {};
  light.colour[0] = light.colour[1] = light.colour[2] = 1.0f;
  light.intensity = 1.0f;
  light.transform.position[2] = 20.0f;
  light.transform.rotation[3] = 1.0f;
  built.lights.push_back(light);
  for (int k = 0; k < 6; ++k) built.skybox.faces[k] = surfaces[k % 3];

  Scene* s = built.finish();
  s->frame_count = kFrames;
  s->ambient[0] = s->ambient[1] = s->ambient[2] = 0.1f;
  s->skybox = &built.skybox;
  b->scene = s;
  return b;
}

// The show's rendering objects on the device of `device_class`; false when it cannot be had.
static bool openDevice(DWORD device_class, HWND window) {
  D3DXInitialize();
  if (FAILED(D3DXCreateContextEx(device_class, 0, window, nullptr, 24, 0, 32, 0, 2, 640, 480, 0, &context)))
    return false;
  device = context->GetD3DDevice();
  direct3d = context->GetD3D();
  setUpDevice();
  return device && object_vertex_buffer && skybox_vertex_buffer;
}

static void closeDevice() {
  object_vertex_buffer->Release();
  skybox_vertex_buffer->Release();
  device->Release();
  direct3d->Release();
  context->Release();
  object_vertex_buffer = skybox_vertex_buffer = nullptr;
  device = nullptr;
  direct3d = nullptr;
  context = nullptr;
  D3DXUninitialize();
}

// A fade half-way up over every frame, as the scene-end fades lie over the scenes.
static void fadeOverEveryFrame(IDirectDrawSurface7* logo) {
  fade_texture = logo;
  fade_half_length = 75;
  fade_start_ms = int32_t(GetTickCount() - 1500);
  overlay_hook = fadeOverlay;
}

enum class FrameEnd { none, flush, finish };

static void runFrames(benchmark::State& state, BenchScene* b, FrameEnd end) {
  int frame = 0;
  int64_t indices = 0;
  ThreadCpu start = threadCpu();
  for (auto _ : state) {
    fade_start_ms = int32_t(GetTickCount() - 1500);
    drawSceneFrame(b->scene, frame);
    context->UpdateFrame(0);
    if (end != FrameEnd::none) endGlFrame(context, end == FrameEnd::finish);
    frame = (frame + 1) % kFrames;
    for (const SceneObject& wall : b->built.objects)
      for (int32_t g = 0; g < wall.face_group_count; ++g) indices += wall.face_groups[g].index_count;
  }
  if (end != FrameEnd::none) endGlFrame(context, true);
  ThreadCpu cpu = cpuBetween(start, threadCpu());
  double frames = double(state.iterations());
  state.counters["faces"] = double(b->face_count);
  state.counters["drawn_faces_per_frame"] = double(indices) / 3.0 / frames;
  state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
  state.counters["main_cpu_ms"] = cpu.main_ms / frames;
  if (end != FrameEnd::none) state.counters["llvmpipe_cpu_ms"] = cpu.llvmpipe_ms / frames;
}

static void BM_FrameNullDevice(benchmark::State& state) {
  if (!openDevice(D3DX_HWLEVEL_NULL, nullptr)) {
    state.SkipWithError("no null device");
    return;
  }
  // Stand-in texture handles: the null device only names them.
  static TextureSurface surfaces[3];
  IDirectDrawSurface7* handles[3] = {&surfaces[0], &surfaces[1], &surfaces[2]};
  BenchScene* b = buildScene(handles);
  fadeOverEveryFrame(handles[0]);
  runFrames(state, b, FrameEnd::none);
  closeDevice();
}
BENCHMARK(BM_FrameNullDevice)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// One-colour 256 × 256 textures with their mip chains, as the show's pictures come.
static TextureSurface* solidShowTexture(uint8_t r, uint8_t g, uint8_t b) { return solidTexture(r, g, b, 256, true); }

// state.range(0): 0 flushes every frame (live), 1 finishes it (capture).
static void BM_FrameGlDevice(benchmark::State& state) {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  platform_settings.headless = true;
  platform_settings.windowed = true;
  HWND window = openHeadlessWindow(640, 480);
  if (!window || !openDevice(D3DX_HWLEVEL_RASTER, window)) {
    state.SkipWithError("no GL device");
    return;
  }
  IDirectDrawSurface7* handles[3] = {solidShowTexture(200, 120, 60), solidShowTexture(90, 90, 90),
                                     solidShowTexture(60, 140, 220)};
  BenchScene* b = buildScene(handles);
  fadeOverEveryFrame(handles[0]);
  state.SetLabel(state.range(0) ? "finished (capture)" : "flushed (live)");
  runFrames(state, b, state.range(0) ? FrameEnd::finish : FrameEnd::flush);
  closeDevice();
}
BENCHMARK(BM_FrameGlDevice)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5.0);

BENCHMARK_MAIN();
