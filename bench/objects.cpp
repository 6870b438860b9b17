// What each object of the show's scenes costs the rasteriser, so a content change can be judged by
// the same figures: over the whole timeline, per object, the triangles it submits after the octree
// culling, how many of them face the camera, the screen area they cover, how much of that area passes
// the depth test when it is drawn, and how much of it is still seen when the frame is done.
//
//   bench_objects [--pack FILE] [--every N] [--size WxH]
//
// Draws every Nth frame of the 25 fps timeline (default 5) on the null device through the show's own
// frame code; a measuring device takes each indexed draw, projects its triangles with the device's
// transforms, clips them to the view and rasterises them into a depth buffer of its own at the given
// size (default 640x480), one sample per pixel centre. The figures are estimates of what a GPU would
// do, not read back from one:
//   triangles   submitted per frame of the object's scene (index_count / 3 of its draws)
//   front       of those, the ones not culled (facing the camera, or any for two-sided materials)
//               with some area on screen
//   area        the pixels those front triangles cover, summed (overlaps counted each time)
//   blocks      the 4 x 4 pixel blocks those triangles touch, counted per triangle: a tile rasteriser
//               such as llvmpipe shades whole blocks, so 16 x blocks over area is its waste
//   shaded      the pixels of that area that pass the depth test at the time they are drawn: the
//               fragment work left after early depth testing, which the draw order decides
//   seen        the pixels the object owns when the frame is done (opaque objects only)
//   px/tri      area per front triangle: far below 1 means the mesh is finer than the screen
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "headless.h"
#include "timeline_run.h"
#include "platform/devices.h"
#include "platform/test_hooks.h"
#include "render/render.h"
#include "shell/shell.h"
#include "storage/storage.h"

struct ClipVertex {
  float x, y, z, w;
};

struct ObjectFigures {
  double triangles = 0, front = 0, area = 0, blocks = 0, shaded = 0, seen = 0;
};

struct SceneFigures {
  Scene* scene = nullptr;
  const char* name = "";
  int frames = 0;
  std::vector<ObjectFigures> objects;
};

// The device the frames are drawn on: the null device's state shadow, plus a rasteriser of its own
// for the indexed draws (the objects). The skybox and the overlay are not counted.
class MeasuringDevice : public RecordingDevice {
 public:
  int width = 640, height = 480;
  std::vector<float> depth;
  std::vector<int32_t> owner;  // object index + 1 of the last depth write, 0 none
  std::vector<SceneFigures>* scenes = nullptr;

  void startFrame() {
    depth.assign(size_t(width) * height, 1.0f);
    owner.assign(size_t(width) * height, 0);
  }

  HRESULT DrawIndexedPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* buffer, DWORD start_vertex,
                                 DWORD vertex_count, WORD* indices, DWORD index_count, DWORD flags) override {
    HRESULT result =
        RecordingDevice::DrawIndexedPrimitiveVB(type, buffer, start_vertex, vertex_count, indices, index_count, flags);
    if (FAILED(result) || type != D3DPT_TRIANGLELIST) return result;
    ObjectFigures* figures = nullptr;
    int object_index = -1;
    findOwner(indices, &figures, &object_index);
    if (!figures) return result;
    auto* memory = static_cast<MemoryVertexBuffer*>(buffer);
    const RenderVertex* vertices = reinterpret_cast<const RenderVertex*>(memory->bytes.data()) + start_vertex;

    Matrix world, view, projection, transform;
    std::memcpy(world.m, state.world.m, sizeof world.m);
    std::memcpy(view.m, state.view.m, sizeof view.m);
    std::memcpy(projection.m, state.projection.m, sizeof projection.m);
    matrixMultiply(&transform, &world, &view);
    matrixMultiply(&transform, &transform, &projection);
    bool two_sided = state.render[D3DRENDERSTATE_CULLMODE] == D3DCULL_NONE;
    bool writes_depth = state.render[D3DRENDERSTATE_ZWRITEENABLE] != FALSE;

    figures->triangles += index_count / 3;
    for (DWORD i = 0; i + 2 < index_count; i += 3) {
      ClipVertex corners[3];
      for (int k = 0; k < 3; ++k) {
        const RenderVertex& v = vertices[indices[i + k]];
        float in[4] = {v.x, v.y, v.z, 1.0f}, out[4];
        transformVector4(out, in, &transform);
        corners[k] = {out[0], out[1], out[2], out[3]};
      }
      rasterise(corners, two_sided, writes_depth, object_index + 1, figures);
    }
    return result;
  }

 private:
  // The object whose face group owns this index list (each group has its own).
  void findOwner(const WORD* indices, ObjectFigures** figures, int* object_index) {
    for (SceneFigures& scene_figures : *scenes) {
      Scene* scene = scene_figures.scene;
      for (int32_t i = 0; i < scene->object_count; ++i) {
        const SceneObject& object = scene->objects[i];
        for (int32_t g = 0; g < object.face_group_count; ++g) {
          if (object.face_groups[g].index_list != indices) continue;
          *figures = &scene_figures.objects[size_t(i)];
          *object_index = i;
          return;
        }
      }
    }
  }

  // Clips the triangle to the view (Direct3D's 0 <= z, |x|, |y| <= w), projects it to pixels and
  // fills pixel centres by edge functions, depth z/w interpolated across the screen.
  void rasterise(const ClipVertex corners[3], bool two_sided, bool writes_depth, int32_t id,
                 ObjectFigures* figures) {
    ClipVertex polygon[9], scratch[9];
    int count = 3;
    for (int k = 0; k < 3; ++k) polygon[k] = corners[k];
    for (int plane = 0; plane < 5 && count > 0; ++plane) {
      auto distance = [plane](const ClipVertex& v) {
        switch (plane) {
          case 0: return v.z;
          case 1: return v.w - v.x;
          case 2: return v.w + v.x;
          case 3: return v.w - v.y;
          default: return v.w + v.y;
        }
      };
      int kept = 0;
      for (int k = 0; k < count; ++k) {
        const ClipVertex& a = polygon[k];
        const ClipVertex& b = polygon[(k + 1) % count];
        float da = distance(a), db = distance(b);
        if (da >= 0) scratch[kept++] = a;
        if ((da >= 0) != (db >= 0)) {
          float t = da / (da - db);
          scratch[kept++] = {a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), a.z + t * (b.z - a.z),
                             a.w + t * (b.w - a.w)};
        }
      }
      count = kept;
      for (int k = 0; k < count; ++k) polygon[k] = scratch[k];
    }
    if (count < 3) return;

    float sx[9], sy[9], sz[9];
    for (int k = 0; k < count; ++k) {
      float w = polygon[k].w > 1e-6f ? polygon[k].w : 1e-6f;
      sx[k] = (polygon[k].x / w + 1.0f) * 0.5f * width;
      sy[k] = (1.0f - polygon[k].y / w) * 0.5f * height;
      sz[k] = polygon[k].z / w;
    }
    // Twice the signed area, pixels with y down: positive is clockwise on screen, Direct3D's front.
    float doubled = 0;
    for (int k = 0; k < count; ++k) {
      int n = (k + 1) % count;
      doubled += sx[k] * sy[n] - sx[n] * sy[k];
    }
    if (doubled == 0 || (doubled < 0 && !two_sided)) return;
    figures->front += 1;
    figures->area += 0.5 * (doubled < 0 ? -doubled : doubled);
    for (int k = 1; k + 1 < count; ++k) {
      int a = 0, b = k, c = k + 1;
      if (doubled < 0) std::swap(b, c);
      fillTriangle(sx[a], sy[a], sz[a], sx[b], sy[b], sz[b], sx[c], sy[c], sz[c], writes_depth, id, figures);
    }
  }

  // Walks the screen's 4 x 4 blocks under the triangle, as a tile rasteriser does: a block with any
  // sample covered is shaded whole, so small and thin triangles cost far more than their area.
  void fillTriangle(float x0, float y0, float z0, float x1, float y1, float z1, float x2, float y2, float z2,
                    bool writes_depth, int32_t id, ObjectFigures* figures) {
    float area = (x1 - x0) * (y2 - y0) - (x2 - x0) * (y1 - y0);
    if (area <= 0) return;
    int left = std::max(0, int(std::floor(std::min({x0, x1, x2}))));
    int right = std::min(width - 1, int(std::ceil(std::max({x0, x1, x2}))));
    int top = std::max(0, int(std::floor(std::min({y0, y1, y2}))));
    int bottom = std::min(height - 1, int(std::ceil(std::max({y0, y1, y2}))));
    float inverse = 1.0f / area;
    for (int block_y = top & ~3; block_y <= bottom; block_y += 4) {
      for (int block_x = left & ~3; block_x <= right; block_x += 4) {
        bool touched = false;
        for (int y = std::max(block_y, top); y < std::min(block_y + 4, bottom + 1); ++y) {
          float py = y + 0.5f;
          for (int x = std::max(block_x, left); x < std::min(block_x + 4, right + 1); ++x) {
            float px = x + 0.5f;
            // Barycentric weights; samples on a shared edge count for both triangles (an estimate).
            float w0 = (x2 - x1) * (py - y1) - (y2 - y1) * (px - x1);
            float w1 = (x0 - x2) * (py - y2) - (y0 - y2) * (px - x2);
            float w2 = (x1 - x0) * (py - y0) - (y1 - y0) * (px - x0);
            if (w0 < 0 || w1 < 0 || w2 < 0) continue;
            touched = true;
            float z = (w0 * z0 + w1 * z1 + w2 * z2) * inverse;
            size_t at = size_t(y) * width + x;
            if (!(z < depth[at])) continue;
            figures->shaded += 1;
            if (writes_depth) {
              depth[at] = z;
              owner[at] = id;
            }
          }
        }
        if (touched) figures->blocks += 1;
      }
    }
  }
};

// Every pass of the timeline, as bench_show draws it.
static void runTimeline(MeasuringDevice* measuring, std::vector<SceneFigures>* scenes, int every) {
  overlay_hook = nullptr;
  startTimelineOnVirtualClock(25);
  do {
    int frame = timelineFrame(GetTickCount());
    measuring->startFrame();
    Scene* drawn = current_scene;
    drawSceneFrame(drawn, frame);
    for (SceneFigures& figures : *scenes) {
      if (figures.scene != drawn) continue;
      ++figures.frames;
      for (int32_t owner : measuring->owner)
        if (owner > 0) figures.objects[size_t(owner - 1)].seen += 1;
    }
    for (int skip = 1; skip < every; ++skip) advanceVirtualClock();
  } while (!exit_requested);
}

static void printFigures(const SceneFigures& figures) {
  std::printf("scene %s: %d frames drawn\n", figures.name, figures.frames);
  std::printf("  %-3s %-18s %9s %9s %9s %9s %9s %9s %7s\n", "#", "object", "triangles", "front", "area px",
              "blocks", "shaded px", "seen px", "px/tri");
  ObjectFigures total;
  double frames = figures.frames > 0 ? figures.frames : 1;
  for (size_t i = 0; i < figures.objects.size(); ++i) {
    const ObjectFigures& o = figures.objects[i];
    total.triangles += o.triangles;
    total.front += o.front;
    total.area += o.area;
    total.blocks += o.blocks;
    total.shaded += o.shaded;
    total.seen += o.seen;
    std::printf("  %-3zu %-18s %9.0f %9.0f %9.0f %9.0f %9.0f %9.0f %7.2f\n", i, figures.scene->objects[i].name,
                o.triangles / frames, o.front / frames, o.area / frames, o.blocks / frames, o.shaded / frames,
                o.seen / frames, o.front > 0 ? o.area / o.front : 0.0);
  }
  std::printf("  %-3s %-18s %9.0f %9.0f %9.0f %9.0f %9.0f %9.0f %7.2f\n", "", "all", total.triangles / frames,
              total.front / frames, total.area / frames, total.blocks / frames, total.shaded / frames,
              total.seen / frames, total.front > 0 ? total.area / total.front : 0.0);
}

int main(int argc, char** argv) {
  std::string pack = std::string(NARVU_BENCH_BUILD_DIR) + "/narvu.dat";
  int every = 5, width = 640, height = 480;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--pack") && i + 1 < argc) {
      pack = argv[++i];
    } else if (!std::strcmp(argv[i], "--every") && i + 1 < argc && (every = std::atoi(argv[++i])) > 0) {
    } else if (!std::strcmp(argv[i], "--size") && i + 1 < argc &&
               std::sscanf(argv[++i], "%dx%d", &width, &height) == 2 && width > 0 && height > 0) {
    } else {
      std::fprintf(stderr, "usage: bench_objects [--pack FILE] [--every N] [--size WxH]\n");
      return 1;
    }
  }
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  platform_settings.headless = true;
  if (!packMount(pack.c_str(), 0)) {
    std::fprintf(stderr, "bench_objects: cannot mount %s (build the show first)\n", pack.c_str());
    return 1;
  }
  D3DXInitialize();
  HWND window = openHeadlessWindow(640, 480);
  default_device_index = D3DX_HWLEVEL_NULL;
  if (selectDevice(false, window) != 0) {
    std::fprintf(stderr, "bench_objects: no device\n");
    return 1;
  }
  loadScenes();
  // The measuring device takes the null device's place with the same base state.
  MeasuringDevice* measuring = new MeasuringDevice;
  measuring->recording = false;
  measuring->width = width;
  measuring->height = height;
  device = measuring;
  setUpDevice();

  std::vector<SceneFigures> scenes(2);
  scenes[0] = {first_scene, "mv.vyl", 0, std::vector<ObjectFigures>(size_t(first_scene->object_count))};
  scenes[1] = {second_scene, "credanim.vyl", 0, std::vector<ObjectFigures>(size_t(second_scene->object_count))};
  measuring->scenes = &scenes;
  auto start = std::chrono::steady_clock::now();
  runTimeline(measuring, &scenes, every);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::printf("per object, averaged over the frames of its scene (every %d. frame of the 25 fps timeline, "
              "%dx%d samples)\n",
              every, width, height);
  for (const SceneFigures& figures : scenes) printFigures(figures);
  std::printf("(%.1f s)\n", seconds);
  return 0;
}
