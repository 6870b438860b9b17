// What both scenes share: texture names, material and controller builders, paths, and the conversion
// to the scene file.
#include <cstdio>

#include "geometry.h"
#include "scene_writer.h"
#include "scenes.h"

const char* const kSceneTextureNames[] = {"rock.jpg",  "detail.jpg", "metal.jpg", "envmap.jpg", "stone.jpg",
                                          "glow.jpg",  "tiles.jpg",  "beam.jpg",  "crystal.jpg"};
const int kSceneTextureCount = sizeof(kSceneTextureNames) / sizeof(kSceneTextureNames[0]);

ContentMaterial makeMaterial(int32_t id, int32_t base, int32_t detail, int32_t environment, Vec3 diffuse) {
  ContentMaterial m{};
  m.id = id;
  m.texture_ids[0] = 0;
  m.texture_ids[1] = base;
  m.texture_ids[2] = detail;
  m.texture_ids[3] = environment;
  m.diffuse[0] = diffuse.x;
  m.diffuse[1] = diffuse.y;
  m.diffuse[2] = diffuse.z;
  for (int k = 0; k < 3; ++k) m.ambient[k] = m.diffuse[k];
  m.opacity = 1.0f;
  m.environment_blend = 0.5f;
  m.detail_blend = 0.5f;
  return m;
}

ContentController makeController(int32_t target_id, int frame_count,
                                 const std::function<ContentKey(int frame)>& pose) {
  ContentController controller{target_id, {}};
  controller.keys.reserve(frame_count);
  for (int f = 0; f < frame_count; ++f) controller.keys.push_back(pose(f));
  return controller;
}

Vec3 pathAt(const std::vector<PathKey>& keys, float frame) {
  if (frame <= keys.front().frame) return keys.front().point;
  if (frame >= keys.back().frame) return keys.back().point;
  size_t i = 0;
  while (i + 2 < keys.size() && frame >= keys[i + 1].frame) ++i;
  const PathKey& k1 = keys[i];
  const PathKey& k2 = keys[i + 1];
  Vec3 p0 = i > 0 ? keys[i - 1].point : sub(scale(k1.point, 2), k2.point);
  Vec3 p3 = i + 2 < keys.size() ? keys[i + 2].point : sub(scale(k2.point, 2), k1.point);
  float t = (frame - k1.frame) / static_cast<float>(k2.frame - k1.frame);
  return catmullRom(p0, k1.point, k2.point, p3, t);
}

static TransformBlock transformBlock(Vec3 position, Quat rotation) {
  TransformBlock block;
  block.position[0] = position.x;
  block.position[1] = position.y;
  block.position[2] = position.z;
  block.rotation[0] = rotation.x;
  block.rotation[1] = rotation.y;
  block.rotation[2] = rotation.z;
  block.rotation[3] = rotation.w;
  return block;
}

std::vector<uint8_t> sceneFileBytes(const ContentScene& content) {
  SceneDescription scene;
  scene.frame_count = content.frame_count;
  for (int k = 0; k < 3; ++k) scene.ambient[k] = content.ambient[k];
  for (const ContentObject& source : content.objects) {
    ContentObject object = source;
    if (!finishObject(&object)) return {};
    ObjectRecord record;
    record.id = object.id;
    record.name = object.name;
    record.transform = transformBlock(object.position, object.rotation);
    record.vertices.reserve(object.vertices.size());
    for (const ContentVertex& v : object.vertices) {
      VertexRecord out;
      out.x = v.x;
      out.y = v.y;
      out.z = v.z;
      out.u = v.u;
      out.v = -v.v;  // the reader negates it back
      out.nx = v.nx;
      out.ny = v.ny;
      out.nz = v.nz;
      record.vertices.push_back(out);
    }
    for (const ContentGroup& group : object.groups) {
      if (group.faces.empty()) continue;
      FaceGroupRecord out;
      out.material_id = group.material_id;
      for (const ContentFace& f : group.faces) out.faces.push_back(FaceRecord{f.a, f.b, f.c});
      record.face_groups.push_back(std::move(out));
    }
    scene.objects.push_back(std::move(record));
  }
  for (const ContentCamera& camera : content.cameras) {
    CameraRecord record;
    record.id = camera.id;
    record.field_of_view = camera.field_of_view;
    record.near_distance = camera.near_distance;
    record.far_distance = camera.far_distance;
    record.name = camera.name;
    record.transform = transformBlock(camera.position, camera.rotation);
    scene.cameras.push_back(record);
  }
  for (const ContentLight& light : content.lights) {
    LightRecord record;
    record.id = light.id;
    record.target_id = light.target_id;
    record.kind = light.kind;
    for (int k = 0; k < 3; ++k) record.colour[k] = light.colour[k];
    record.intensity = light.intensity;
    record.attenuated = light.attenuated;
    record.range = light.range;
    record.inner_cone_angle = light.inner_cone;
    record.outer_cone_angle = light.outer_cone;
    record.name = light.name;
    record.transform = transformBlock(light.position, light.rotation);
    scene.lights.push_back(record);
  }
  for (const ContentMaterial& m : content.materials) {
    MaterialRecord record;
    record.id = m.id;
    for (int k = 0; k < 4; ++k) record.texture_ids[k] = m.texture_ids[k] > 0 ? m.texture_ids[k] : -1;
    for (int k = 0; k < 3; ++k) {
      record.ambient[k] = m.ambient[k];
      record.diffuse[k] = m.diffuse[k];
      record.specular[k] = m.specular[k];
    }
    record.emissive = m.emissive;
    record.two_sided = m.two_sided;
    record.environment_blend = m.environment_blend;
    record.detail_blend = m.detail_blend;
    record.opacity = m.opacity;
    record.blend_mode = m.blend_mode;
    scene.materials.push_back(record);
  }
  for (const ContentTexture& t : content.textures) scene.textures.push_back(TextureRecord{t.id, t.name});
  for (const ContentController& c : content.controllers) {
    if (static_cast<int>(c.keys.size()) < content.frame_count) return {};
    ControllerRecord record;
    record.target_id = c.target_id;
    for (const ContentKey& k : c.keys) {
      KeyRecord key;
      key.position[0] = k.position.x;
      key.position[1] = k.position.y;
      key.position[2] = k.position.z;
      key.rotation[0] = k.rotation.x;
      key.rotation[1] = k.rotation.y;
      key.rotation[2] = k.rotation.z;
      key.rotation[3] = k.rotation.w;
      record.keys.push_back(key);
    }
    scene.controllers.push_back(std::move(record));
  }
  return writeScene(scene);
}
