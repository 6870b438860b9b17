// The octree over a face group: where the build leaves each face, and what culling writes.
#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "render/math.h"
#include "scene/scene.h"

namespace {

// A face group over its own vertices, with a vertex buffer to cull into.
struct Mesh {
  std::vector<MeshVertex> vertices;
  std::vector<Face> faces;
  FaceGroup group = {};
  std::vector<RenderVertex> buffer = std::vector<RenderVertex>(kVertexRemapSize);

  ~Mesh() {
    freeOctree(group.octree);
    std::free(group.index_list);
  }

  // A face of three fresh vertices; its number rides in the first texture coordinate u of each corner.
  void addFace(std::initializer_list<float> corners) {
    std::vector<float> c(corners);
    int32_t first = static_cast<int32_t>(vertices.size());
    float number = static_cast<float>(faces.size());
    for (int i = 0; i < 3; ++i) vertices.push_back({c[3 * i], c[3 * i + 1], c[3 * i + 2], number, 0, 0, 0, 1});
    faces.push_back({first, first + 1, first + 2});
  }

  void build(int threshold) {
    group.faces = faces.data();
    group.face_count = static_cast<int32_t>(faces.size());
    buildOctree(&group, vertices.data(), threshold);
  }

  // What drawObject does around every call.
  void cull(TexGenMode mode = kUntextured, const Matrix* world_view = nullptr) {
    group.remap_base = faces.empty() ? 0 : -faces[0].a;
    emitted_vertex_count = 0;
    std::fill(vertex_remap, vertex_remap + vertices.size(), 0xFFFF);
    Matrix identity;
    matrixIdentity(&identity);
    cullFaceGroup(&group, vertices.data(), mode, buffer.data(), world_view ? world_view : &identity);
  }

  // Face numbers in emitted order, read back through the index list.
  std::vector<int> emittedFaces() const {
    std::vector<int> numbers;
    for (int32_t i = 0; i < group.index_count; i += 3) numbers.push_back(int(buffer[group.index_list[i]].u0));
    return numbers;
  }
};

void setPlanes(const float planes[6][4]) { std::copy(&planes[0][0], &planes[0][0] + 24, &clip_planes[0][0]); }

// Planes every point is inside of (distance -1 everywhere).
void openView() {
  for (auto& plane : clip_planes) {
    plane[0] = plane[1] = plane[2] = 0;
    plane[3] = -1;
  }
}

TEST(OctreeBuild, FacesGoToTheLowestOctantThatHoldsThemWholeAndStraddlersStayInTheParent) {
  Mesh mesh;
  mesh.addFace({0, 0, 0, 2, 2, 2, 0, 2, 0});  // spans the root box: stays in the root
  // All three corners on the x centre plane (x = 1), lower in y and z: octants 0 and 1 both hold it.
  mesh.addFace({1, 0, 0, 1, 0.5f, 0, 1, 0, 0.5f});
  mesh.addFace({1.5f, 1.5f, 1.5f, 1.9f, 1.5f, 1.5f, 1.5f, 1.9f, 1.9f});  // octant 7
  mesh.build(1);
  const OctreeNode* root = mesh.group.octree;
  ASSERT_EQ(1, root->face_count);
  EXPECT_EQ(0, root->faces[0].a);
  ASSERT_NE(nullptr, root->children[0]);
  EXPECT_EQ(nullptr, root->children[1]);
  EXPECT_EQ(1, root->children[0]->face_count);
  EXPECT_EQ(3, root->children[0]->faces[0].a);
  ASSERT_NE(nullptr, root->children[7]);
  // A child's box is its octant of the parent's box, not shrunk to its faces.
  EXPECT_FLOAT_EQ(1.0f, root->children[7]->box_min[0]);
  EXPECT_FLOAT_EQ(2.0f, root->children[7]->box_max[2]);
  EXPECT_FLOAT_EQ(0.0f, root->children[0]->box_min[1]);
  EXPECT_FLOAT_EQ(1.0f, root->children[0]->box_max[1]);
}

TEST(OctreeBuild, SplitsOnlyAboveTheThresholdAndKeepsFacesThatNeverSeparate) {
  auto grid = [](Mesh& mesh, int count) {
    for (int i = 0; i < count; ++i) {
      float x = float(i % 8), y = float(i / 8);
      mesh.addFace({x, y, 0, x + 0.5f, y, 0, x, y + 0.5f, 0});
    }
  };
  Mesh fifty, fifty_one;
  grid(fifty, 50);
  grid(fifty_one, 51);
  fifty.build(50);
  fifty_one.build(50);
  EXPECT_EQ(1, octreeStatistics(fifty.group.octree).node_count);
  EXPECT_EQ(50, fifty.group.octree->face_count);
  EXPECT_GT(octreeStatistics(fifty_one.group.octree).node_count, 1);

  // Every face straddles the centre: the node keeps all of them and gets no children.
  Mesh straddling;
  for (int i = 0; i < 60; ++i) straddling.addFace({0, 0, float(i) / 60, 2, 2, float(i) / 60, 0, 2, 1});
  straddling.build(50);
  EXPECT_EQ(60, straddling.group.octree->face_count);
  EXPECT_EQ(1, octreeStatistics(straddling.group.octree).node_count);

  // Faces whose corners all coincide never separate; the split stops at the depth limit and every
  // face is still drawn.
  Mesh coincident;
  for (int i = 0; i < 60; ++i) coincident.addFace({1, 1, 1, 1, 1, 1, 1, 1, 1});
  coincident.addFace({0, 0, 0, 0, 0, 0, 0, 0, 0});
  coincident.build(50);
  EXPECT_LE(octreeStatistics(coincident.group.octree).depth, kOctreeMaxDepth);
  openView();
  coincident.cull();
  EXPECT_EQ(61 * 3, coincident.group.index_count);
}

TEST(OctreeBuild, AnEmptyGroupKeepsAnInvertedRootAndDrawsNothing) {
  Mesh mesh;
  mesh.build(50);
  const OctreeNode* root = mesh.group.octree;
  ASSERT_NE(nullptr, root);
  for (int axis = 0; axis < 3; ++axis) {
    EXPECT_EQ(3.4028235e38f, root->box_min[axis]);
    EXPECT_EQ(-3.4028235e38f, root->box_max[axis]);
  }
  openView();
  mesh.cull();
  EXPECT_EQ(0, mesh.group.index_count);
  EXPECT_EQ(0, emitted_vertex_count);
}

TEST(OctreeCull, AWhollyInsideRootYieldsEveryFaceDepthFirstInOctantOrder) {
  Mesh mesh;
  mesh.addFace({1.8f, 1.8f, 1.8f, 1.9f, 1.8f, 1.8f, 1.8f, 1.9f, 1.8f});  // 0: octant 7
  mesh.addFace({0, 0, 0, 2, 2, 2, 0, 2, 0});                             // 1: root
  mesh.addFace({0.1f, 0.1f, 0.1f, 0.2f, 0.1f, 0.1f, 0.1f, 0.2f, 0.1f});  // 2: octant 0, then its 0
  mesh.addFace({1.8f, 0.1f, 0.1f, 1.9f, 0.1f, 0.1f, 1.8f, 0.2f, 0.1f});  // 3: octant 1
  mesh.addFace({0.8f, 0.8f, 0.8f, 0.9f, 0.8f, 0.8f, 0.8f, 0.9f, 0.8f});  // 4: octant 0, then its 7
  mesh.build(1);
  openView();
  mesh.cull();
  EXPECT_EQ((std::vector<int>{1, 2, 4, 3, 0}), mesh.emittedFaces());
  EXPECT_EQ(15, emitted_vertex_count);
}

TEST(OctreeCull, BoxesOutsideOrTouchingAPlaneFromOutsideAreDropped) {
  Mesh mesh;
  mesh.addFace({0, 0, 0, 1, 1, 1, 0, 1, 0});
  mesh.build(50);
  openView();
  // Inside means x < 0: the box [0, 1] touches the volume with one face and lies outside it.
  clip_planes[2][0] = 1;
  clip_planes[2][3] = 0;
  mesh.cull();
  EXPECT_EQ(0, mesh.group.index_count);
  EXPECT_EQ(0, emitted_vertex_count);
  // Moved a hair, the box crosses the plane and its faces are taken whole.
  clip_planes[2][3] = -0.001f;
  mesh.cull();
  EXPECT_EQ(3, mesh.group.index_count);
}

TEST(OctreeCull, SharedVerticesAreWrittenOnceAndSlotsCountFromTheGroupsFirstVertex) {
  Mesh mesh;
  // Vertices 0..2 belong to another group; this group's faces start at vertex 3.
  mesh.addFace({9, 9, 9, 9, 9, 9, 9, 9, 9});
  for (int i = 3; i < 7; ++i) mesh.vertices.push_back({float(i & 1), float(i & 2), 0, float(i), 0, 0, 0, 1});
  mesh.faces = {{3, 4, 5}, {5, 4, 6}};
  mesh.build(50);
  openView();
  mesh.cull();
  ASSERT_EQ(6, mesh.group.index_count);
  EXPECT_EQ(4, emitted_vertex_count);
  std::vector<uint16_t> indices(mesh.group.index_list, mesh.group.index_list + 6);
  EXPECT_EQ((std::vector<uint16_t>{0, 1, 2, 2, 1, 3}), indices);
  EXPECT_EQ(0, vertex_remap[0]);  // vertex 3
  EXPECT_EQ(3, vertex_remap[3]);  // vertex 6
  EXPECT_FLOAT_EQ(6.0f, mesh.buffer[3].u0);
}

TEST(OctreeCull, SecondTextureCoordinatesFollowTheMode) {
  Mesh mesh;
  mesh.vertices = {{0, 0, 0, 0.25f, -0.5f, 0, 0, 1}, {1, 0, 0, 1, 1, 1, 0, 0}, {0, 1, 0, 0, 0, 0, 0, 0}};
  mesh.faces = {{0, 1, 2}};
  mesh.build(50);
  openView();
  for (TexGenMode mode : {kDetail, kBaseDetail}) {
    mesh.cull(mode);
    EXPECT_FLOAT_EQ(1.0f, mesh.buffer[0].u1);
    EXPECT_FLOAT_EQ(-2.0f, mesh.buffer[0].v1);
    EXPECT_FLOAT_EQ(0.25f, mesh.buffer[0].u0);
    EXPECT_FLOAT_EQ(-0.5f, mesh.buffer[0].v0);
  }
  for (TexGenMode mode : {kEnvironment, kBaseEnvironment}) {
    mesh.cull(mode);
    EXPECT_FLOAT_EQ(0.5f, mesh.buffer[0].u1);  // faces the camera along the view direction
    EXPECT_FLOAT_EQ(0.5f, mesh.buffer[0].v1);
    EXPECT_FLOAT_EQ(0.0f, mesh.buffer[1].u1);  // (1, 0, 0)
    EXPECT_FLOAT_EQ(0.5f, mesh.buffer[1].v1);
    EXPECT_FLOAT_EQ(0.5f, mesh.buffer[2].u1);  // no normal: the zero vector
    EXPECT_FLOAT_EQ(0.5f, mesh.buffer[2].v1);
    // The normal is turned into view space first: a quarter turn about z sends x to y.
    Matrix turn = {{{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 1, 0}, {5, 6, 7, 1}}};
    mesh.cull(mode, &turn);
    EXPECT_FLOAT_EQ(0.5f, mesh.buffer[1].u1);
    EXPECT_FLOAT_EQ(0.0f, mesh.buffer[1].v1);
  }
  for (TexGenMode mode : {kUntextured, kBase}) {
    mesh.buffer[0].u1 = mesh.buffer[0].v1 = 42.0f;
    mesh.cull(mode);
    EXPECT_EQ(42.0f, mesh.buffer[0].u1);
    EXPECT_EQ(42.0f, mesh.buffer[0].v1);
  }
}

TEST(OctreeCull, AFaceWithoutARemapSlotIsDroppedRatherThanWrittenOutsideTheTable) {
  Mesh mesh;
  mesh.addFace({0, 0, 0, 1, 0, 0, 0, 1, 0});
  mesh.addFace({0, 0, 1, 1, 0, 1, 0, 1, 1});
  std::swap(mesh.faces[0], mesh.faces[1]);  // the first face now starts at vertex 3
  mesh.build(50);
  openView();
  mesh.cull();
  EXPECT_EQ((std::vector<int>{1}), mesh.emittedFaces());
  EXPECT_EQ(3, emitted_vertex_count);
}

// Random meshes against random planes: a face with a corner strictly inside all six is drawn, no
// face is drawn twice, and every index refers to a written vertex holding that corner.
TEST(OctreeCull, EveryFaceWithACornerInsideTheViewIsEmittedFromWrittenVertices) {
  std::mt19937 random(12345);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  int required = 0, dropped = 0;  // the planes must both keep and drop faces for the test to mean much
  for (int round = 0; round < 200; ++round) {
    Mesh mesh;
    int vertex_count = 3 + int(random() % 400);
    float spread = round % 3 == 0 ? 0.05f : 1.0f;  // some meshes crowd into a small region
    for (int i = 0; i < vertex_count; ++i) {
      mesh.vertices.push_back({unit(random) * spread, unit(random), unit(random), float(i), 0, 0, 0, 1});
    }
    int face_count = int(random() % 600);
    int first = int(random() % (vertex_count - 2));
    for (int f = 0; f < face_count; ++f) {
      auto pick = [&] { return first + int(random() % (vertex_count - first)); };
      mesh.faces.push_back({f == 0 ? first : pick(), pick(), pick()});
    }
    mesh.build(1 + int(random() % 60));

    float planes[6][4];
    for (auto& plane : planes) {
      for (int i = 0; i < 3; ++i) plane[i] = unit(random);
      plane[3] = unit(random) * 0.8f - 0.4f;
    }
    setPlanes(planes);
    mesh.cull(TexGenMode(round % 6));

    auto inside = [&](const MeshVertex& v) {
      for (auto& p : planes)
        if (!(p[0] * v.x + p[1] * v.y + p[2] * v.z + p[3] < 0)) return false;
      return true;
    };
    std::multiset<std::vector<int32_t>> drawn;
    ASSERT_EQ(0, mesh.group.index_count % 3);
    for (int32_t i = 0; i < mesh.group.index_count; i += 3) {
      std::vector<int32_t> corners;
      for (int k = 0; k < 3; ++k) {
        uint16_t slot = mesh.group.index_list[i + k];
        ASSERT_LT(slot, emitted_vertex_count);
        const RenderVertex& written = mesh.buffer[slot];
        const MeshVertex& source = mesh.vertices[int(written.u0)];
        ASSERT_EQ(source.x, written.x);
        ASSERT_EQ(source.z, written.z);
        corners.push_back(int(written.u0));
      }
      drawn.insert(corners);
    }
    std::multiset<std::vector<int32_t>> all;
    for (const Face& face : mesh.faces) {
      std::vector<int32_t> corners = {face.a, face.b, face.c};
      all.insert(corners);
      if (inside(mesh.vertices[face.a]) || inside(mesh.vertices[face.b]) || inside(mesh.vertices[face.c])) {
        ASSERT_GE(drawn.count(corners), all.count(corners)) << "round " << round;
        ++required;
      }
    }
    for (const auto& corners : drawn) ASSERT_LE(drawn.count(corners), all.count(corners));
    std::set<int32_t> used(mesh.group.index_list, mesh.group.index_list + mesh.group.index_count);
    ASSERT_EQ(int32_t(used.size()), emitted_vertex_count);  // each written vertex is used, once
    dropped += mesh.group.face_count - mesh.group.index_count / 3;
  }
  EXPECT_GT(required, 1000);
  EXPECT_GT(dropped, 1000);
}

}  // namespace
