// Scenes built in memory for the tests and benchmarks that draw: scene records whose storage stays put
// while more is added, with a camera at the origin looking along its own -y.
#pragma once

#include <deque>
#include <vector>

#include "platform/platform.h"
#include "render/render.h"
#include "scene/scene.h"

// One face group of a mesh: `face_count` faces from `first_face` on, drawn with `material`.
struct FaceGroupSpan {
  SceneMaterial* material;
  int32_t first_face;
  int32_t face_count;
};

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
  Skybox skybox = {};

  SceneBuilder() {
    objects.reserve(64);
    lights.reserve(8);
    controllers.reserve(64);
    SceneCamera camera = {};
    camera.transform.rotation[3] = 1.0f;
    camera.field_of_view = 45.0f;
    camera.near_distance = 1.0f;
    camera.far_distance = 1000.0f;
    cameras.push_back(camera);
  }
  // A texture slot holding `surface`, or an empty texture of its own.
  SceneTexture* texture(IDirectDrawSurface7* surface = nullptr) {
    if (!surface) {
      surfaces.emplace_back();
      surface = &surfaces.back();
    }
    textures.push_back({int32_t(textures.size()), "t.jpg", surface});
    return &textures.back();
  }
  SceneMaterial* material(float opacity = 1.0f) {
    SceneMaterial m = {};
    m.diffuse[0] = m.diffuse[1] = m.diffuse[2] = 0.8f;
    m.opacity = opacity;
    materials.push_back(m);
    return &materials.back();
  }
  // An object of the given vertices and faces at `placement`, one face group (with its octree) per span.
  SceneObject* mesh(std::vector<MeshVertex> vertices, std::vector<Face> faces, const std::vector<FaceGroupSpan>& spans,
                    const Transform& placement) {
    vertex_lists.push_back(std::move(vertices));
    face_lists.push_back(std::move(faces));
    group_lists.emplace_back();
    for (const FaceGroupSpan& span : spans) {
      FaceGroup group = {};
      group.face_count = span.face_count;
      group.faces = face_lists.back().data() + span.first_face;
      group.material = span.material;
      buildOctree(&group, vertex_lists.back().data(), 50);
      group_lists.back().push_back(group);
    }
    SceneObject o = {};
    o.id = int32_t(objects.size());
    o.transform = placement;
    o.vertex_count = int32_t(vertex_lists.back().size());
    o.vertices = vertex_lists.back().data();
    o.face_group_count = int32_t(spans.size());
    o.face_groups = group_lists.back().data();
    objects.push_back(o);
    return &objects.back();
  }
  // A square of two faces across the view at distance 10 (plus `offset` in world space), one group
  // of both faces per material.
  SceneObject* square(const std::vector<SceneMaterial*>& group_materials, float offset_x = 0, float offset_y = 0) {
    std::vector<FaceGroupSpan> spans;
    for (SceneMaterial* m : group_materials) spans.push_back({m, 0, 2});
    return mesh({{-1, 0, -1, 0, 0, 0, 1, 0}, {1, 0, -1, 1, 0, 0, 1, 0}, {-1, 0, 1, 0, -1, 0, 1, 0}, {1, 0, 1, 1, -1, 0, 1, 0}},
                {{0, 2, 1}, {1, 2, 3}},  // clockwise on screen: front faces
                spans, {{offset_x, -10.0f + offset_y, 0}, {0, 0, 0, 1}});
  }
  // A track of the given poses for `target`.
  Controller* controller(Transform* target, std::vector<AnimationKey> poses) {
    keys.push_back(std::move(poses));
    controllers.push_back({0, int32_t(keys.back().size()), target, keys.back().data()});
    return &controllers.back();
  }
  // A track that moves `target` one unit along x per frame.
  Controller* controller(Transform* target, int key_count) {
    std::vector<AnimationKey> poses(static_cast<size_t>(key_count));
    for (int k = 0; k < key_count; ++k) poses[size_t(k)] = {{float(k), 0, 0}, {0, 0, 0, 1}};
    return controller(target, std::move(poses));
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
