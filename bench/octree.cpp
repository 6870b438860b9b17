// Octree build and culling on a terrain of about 100,000 faces in four groups of 12,769 vertices,
// beside a brute-force cull that tests every face's three corners against the six planes and writes
// the same vertices. The view keeps all, half or a tenth of the terrain (planes x < limit).
#include <cmath>
#include <cstdlib>
#include <vector>

#include <benchmark/benchmark.h>

#include "render/math.h"
#include "scene/scene.h"

static const int kTileEdge = 113;  // vertices per tile edge: 2 * 112 * 112 = 25,088 faces a tile
static const int kTiles = 4;

struct Tile {
  std::vector<MeshVertex> vertices;
  std::vector<Face> faces;
  FaceGroup group = {};
};

static std::vector<Tile>& terrain() {
  static std::vector<Tile> tiles;
  if (!tiles.empty()) return tiles;
  tiles.resize(kTiles);
  for (int t = 0; t < kTiles; ++t) {
    Tile& tile = tiles[t];
    float x0 = float(t % 2), y0 = float(t / 2);
    for (int j = 0; j < kTileEdge; ++j) {
      for (int i = 0; i < kTileEdge; ++i) {
        float x = x0 + float(i) / (kTileEdge - 1), y = y0 + float(j) / (kTileEdge - 1);
        float z = 0.1f * std::sin(x * 7.0f) * std::cos(y * 5.0f);
        tile.vertices.push_back({x, y, z, x, -y, 0, 0, 1});
      }
    }
    for (int j = 0; j + 1 < kTileEdge; ++j) {
      for (int i = 0; i + 1 < kTileEdge; ++i) {
        int32_t v = j * kTileEdge + i;
        tile.faces.push_back({v, v + 1, v + kTileEdge});
        tile.faces.push_back({v + 1, v + kTileEdge + 1, v + kTileEdge});
      }
    }
    tile.group.faces = tile.faces.data();
    tile.group.face_count = int32_t(tile.faces.size());
    tile.group.remap_base = 0;
    buildOctree(&tile.group, tile.vertices.data(), 50);
  }
  return tiles;
}

// Open on every side but x < limit (the terrain spans x 0..2).
static void setView(float limit) {
  for (auto& plane : clip_planes) {
    plane[0] = plane[1] = plane[2] = 0;
    plane[3] = -1;
  }
  clip_planes[0][0] = 1;
  clip_planes[0][3] = -limit;
  clip_planes[1][0] = -1;  // x > -1
  clip_planes[1][3] = -1;
}

static float viewLimit(int which) { return which == 0 ? 3.0f : which == 1 ? 1.0f : 0.2f; }

static std::vector<RenderVertex>& buffer() {
  static std::vector<RenderVertex> vertices(kVertexRemapSize);
  return vertices;
}

static void beginGroup(const Tile& tile) {
  emitted_vertex_count = 0;
  std::fill(vertex_remap, vertex_remap + tile.vertices.size(), 0xFFFF);
}

// The brute force's own emission: each corner of a visible face through the remap table, written as the
// culling writes the vertices of an untextured group.
static void emitCorners(Tile& tile, const Face& face) {
  for (int32_t index : {face.a, face.b, face.c}) {
    uint16_t& slot = vertex_remap[index];
    if (slot == 0xFFFF) {
      const MeshVertex& v = tile.vertices[size_t(index)];
      buffer()[size_t(emitted_vertex_count)] = {v.x, v.y, v.z, v.nx, v.ny, v.nz, v.u, v.v, 0, 0};
      slot = uint16_t(emitted_vertex_count++);
    }
    tile.group.index_list[tile.group.index_count++] = slot;
  }
}

static void BM_BuildOctree(benchmark::State& state) {
  std::vector<Tile>& tiles = terrain();
  for (auto _ : state) {
    for (Tile& tile : tiles) {
      FaceGroup group = tile.group;
      buildOctree(&group, tile.vertices.data(), 50);
      benchmark::DoNotOptimize(group.octree);
      state.PauseTiming();
      freeOctree(group.octree);
      state.ResumeTiming();
    }
  }
  OctreeStatistics statistics = octreeStatistics(tiles[0].group.octree);
  state.counters["nodes_per_group"] = statistics.node_count;
  state.counters["depth"] = statistics.depth;
}

static void BM_CullOctree(benchmark::State& state) {
  std::vector<Tile>& tiles = terrain();
  setView(viewLimit(int(state.range(0))));
  Matrix identity;
  matrixIdentity(&identity);
  int64_t faces = 0;
  for (auto _ : state) {
    faces = 0;
    for (Tile& tile : tiles) {
      beginGroup(tile);
      cullFaceGroup(&tile.group, tile.vertices.data(), kBase, buffer().data(), &identity);
      faces += tile.group.index_count / 3;
    }
    benchmark::ClobberMemory();
  }
  state.counters["faces_drawn"] = double(faces);
}

static void BM_CullBruteForce(benchmark::State& state) {
  std::vector<Tile>& tiles = terrain();
  setView(viewLimit(int(state.range(0))));
  int64_t faces = 0;
  for (auto _ : state) {
    faces = 0;
    for (Tile& tile : tiles) {
      beginGroup(tile);
      if (!tile.group.index_list) tile.group.index_list = static_cast<uint16_t*>(std::malloc(tile.faces.size() * 6));
      tile.group.index_count = 0;
      for (const Face& face : tile.faces) {
        const MeshVertex* corners[3] = {&tile.vertices[face.a], &tile.vertices[face.b], &tile.vertices[face.c]};
        bool outside = false;
        for (int p = 0; p < 6 && !outside; ++p) {
          const float* plane = clip_planes[p];
          int behind = 0;
          for (const MeshVertex* v : corners)
            if (!(plane[0] * v->x + plane[1] * v->y + plane[2] * v->z + plane[3] < 0.0f)) ++behind;
          outside = behind == 3;
        }
        if (!outside) emitCorners(tile, face);
      }
      faces += tile.group.index_count / 3;
    }
    benchmark::ClobberMemory();
  }
  state.counters["faces_drawn"] = double(faces);
}

BENCHMARK(BM_BuildOctree)->Unit(benchmark::kMillisecond);
// Argument: 0 the view holds all the terrain, 1 half of it, 2 a tenth.
BENCHMARK(BM_CullOctree)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CullBruteForce)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
