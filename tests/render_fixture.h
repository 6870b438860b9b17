// What the renderer's tests share: the recording device and the two memory vertex buffers installed as
// the show's rendering objects, a context whose depth clear lands in the device's log, and small
// scenes built in memory (a camera at the origin looking along its own -y, objects 10 units ahead).
#pragma once

#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/devices.h"
#include "render/render.h"
#include "shell/shell.h"

// A context without a picture; Clear is logged with the device's calls, so one frame's whole order
// can be read from one log.
class LoggingContext : public ID3DXContext {
 public:
  explicit LoggingContext(RecordingDevice* recorder) : recorder(recorder) {}
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  IDirect3D7* GetD3D() override { return nullptr; }
  IDirect3DDevice7* GetD3DDevice() override { return recorder; }
  HRESULT UpdateFrame(DWORD) override { return S_OK; }
  HRESULT Clear(DWORD flags) override {
    recorder->calls.push_back("Clear " + std::to_string(flags));
    return S_OK;
  }
  RecordingDevice* recorder;
};

// The recording device, also keeping the vertices of the last DrawPrimitive (the overlay's quad).
class QuadKeepingDevice : public RecordingDevice {
 public:
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD vertex_count,
                        DWORD flags) override {
    const uint8_t* bytes = static_cast<const uint8_t*>(vertices);
    last_vertices.assign(bytes, bytes + fvfVertexSize(fvf) * vertex_count);
    return RecordingDevice::DrawPrimitive(type, fvf, vertices, vertex_count, flags);
  }
  std::vector<uint8_t> last_vertices;
};

// Scene records with storage that stays put while the test adds to it.
struct SceneBuilder {
  Scene scene = {};
  std::vector<SceneObject> objects;  // reserved: pointers handed out stay valid
  std::deque<std::vector<MeshVertex>> vertex_lists;
  std::deque<std::vector<Face>> face_lists;
  std::deque<std::vector<FaceGroup>> group_lists;
  std::deque<SceneMaterial> materials;
  std::deque<SceneTexture> textures;
  std::vector<SceneCamera> cameras;
  std::vector<SceneLight> lights;
  std::vector<Controller> controllers;
  std::deque<std::vector<AnimationKey>> keys;
  std::deque<TextureSurface> surfaces;

  SceneBuilder() {
    objects.reserve(16);
    lights.reserve(8);
    controllers.reserve(16);
    SceneCamera camera = {};
    camera.transform.rotation[3] = 1.0f;
    camera.field_of_view = 45.0f;
    camera.near_distance = 1.0f;
    camera.far_distance = 1000.0f;
    cameras.push_back(camera);
  }
  SceneTexture* texture() {
    surfaces.emplace_back();
    textures.push_back({int32_t(textures.size()), "t.jpg", &surfaces.back()});
    return &textures.back();
  }
  SceneMaterial* material(float opacity = 1.0f) {
    SceneMaterial m = {};
    m.diffuse[0] = m.diffuse[1] = m.diffuse[2] = 0.8f;
    m.opacity = opacity;
    materials.push_back(m);
    return &materials.back();
  }
  // A square of two faces across the view at distance 10 (plus `offset` in world space), one group
  // per material.
  SceneObject* square(std::vector<SceneMaterial*> group_materials, float offset_x = 0, float offset_y = 0) {
    vertex_lists.push_back({{-1, 0, -1, 0, 0, 0, 1, 0}, {1, 0, -1, 1, 0, 0, 1, 0},
                            {-1, 0, 1, 0, -1, 0, 1, 0}, {1, 0, 1, 1, -1, 0, 1, 0}});
    face_lists.push_back({{0, 2, 1}, {1, 2, 3}});  // clockwise on screen: front faces
    group_lists.emplace_back();
    for (SceneMaterial* m : group_materials) {
      FaceGroup group = {};
      group.face_count = 2;
      group.faces = face_lists.back().data();
      group.material = m;
      buildOctree(&group, vertex_lists.back().data(), 50);
      group_lists.back().push_back(group);
    }
    SceneObject o = {};
    o.transform = {{offset_x, -10.0f + offset_y, 0}, {0, 0, 0, 1}};
    o.vertex_count = 4;
    o.vertices = vertex_lists.back().data();
    o.face_group_count = int32_t(group_materials.size());
    o.face_groups = group_lists.back().data();
    objects.push_back(o);
    return &objects.back();
  }
  Controller* controller(Transform* target, int key_count) {
    keys.emplace_back(size_t(key_count));
    for (int k = 0; k < key_count; ++k) keys.back()[size_t(k)] = {{float(k), 0, 0}, {0, 0, 0, 1}};
    controllers.push_back({0, key_count, target, keys.back().data()});
    return &controllers.back();
  }
  // Scene fields pointing at the storage; call after the last addition.
  Scene* finish() {
    scene.object_count = int32_t(objects.size());
    scene.objects = objects.data();
    scene.camera_count = int32_t(cameras.size());
    scene.cameras = cameras.data();
    scene.light_count = int32_t(lights.size());
    scene.lights = lights.data();
    scene.controller_count = int32_t(controllers.size());
    scene.controllers = controllers.data();
    return &scene;
  }
};

class RenderTest : public testing::Test {
 protected:
  void SetUp() override {
    recorder = new QuadKeepingDevice;
    device = recorder;
    logging_context = new LoggingContext(recorder);
    context = logging_context;
    object_vertex_buffer = objects_buffer = new MemoryVertexBuffer(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2, 50000);
    skybox_vertex_buffer = skybox_buffer = new MemoryVertexBuffer(D3DFVF_LVERTEX, 192);
    overlay_hook = nullptr;
  }
  void TearDown() override {
    recorder->Release();
    objects_buffer->Release();
    skybox_buffer->Release();
    delete logging_context;
    device = nullptr;
    context = nullptr;
    object_vertex_buffer = skybox_vertex_buffer = nullptr;
    overlay_hook = nullptr;
  }
  // The log from the first line equal to `from` on (the whole log when absent).
  std::vector<std::string> callsFrom(const std::string& from) const {
    auto& calls = recorder->calls;
    size_t start = 0;
    while (start < calls.size() && calls[start] != from) ++start;
    if (start == calls.size()) start = 0;
    return std::vector<std::string>(calls.begin() + long(start), calls.end());
  }

  QuadKeepingDevice* recorder = nullptr;
  LoggingContext* logging_context = nullptr;
  MemoryVertexBuffer* objects_buffer = nullptr;
  MemoryVertexBuffer* skybox_buffer = nullptr;
  SceneBuilder built;
};
