#include "scene_writer.h"

#include <cstring>

#include "platform/little_endian.h"

void appendInt32(std::vector<uint8_t>& out, int32_t value) { appendLittleEndian(&out, uint32_t(value), 4); }

void appendFloat(std::vector<uint8_t>& out, float value) {
  int32_t bits;
  std::memcpy(&bits, &value, 4);
  appendInt32(out, bits);
}

void appendName(std::vector<uint8_t>& out, const std::string& name) {
  size_t length = name.size() < 31 ? name.size() : 31;
  for (size_t i = 0; i < 32; ++i) out.push_back(i < length ? static_cast<uint8_t>(name[i]) : 0);
}

static void appendTransform(std::vector<uint8_t>& out, const TransformBlock& transform) {
  for (float f : transform.position) appendFloat(out, f);
  for (float f : transform.unused) appendFloat(out, f);
  for (float f : transform.rotation) appendFloat(out, f);
}

size_t sceneFileSize(const SceneDescription& scene) {
  size_t size = 40;
  for (const ObjectRecord& object : scene.objects) {
    size += 84 + 32 * object.vertices.size();
    for (const FaceGroupRecord& group : object.face_groups) size += 8 + 12 * group.faces.size();
  }
  size += 92 * scene.cameras.size() + 116 * scene.lights.size() + 92 * scene.materials.size() +
          36 * scene.textures.size();
  for (const ControllerRecord& controller : scene.controllers) size += 8 + 28 * controller.keys.size();
  return size;
}

std::vector<uint8_t> writeScene(const SceneDescription& scene) {
  std::vector<uint8_t> out;
  out.reserve(sceneFileSize(scene));
  appendInt32(out, static_cast<int32_t>(scene.objects.size()));
  appendInt32(out, static_cast<int32_t>(scene.materials.size()));
  appendInt32(out, static_cast<int32_t>(scene.textures.size()));
  appendInt32(out, static_cast<int32_t>(scene.cameras.size()));
  appendInt32(out, static_cast<int32_t>(scene.lights.size()));
  appendInt32(out, scene.frame_count);
  appendInt32(out, static_cast<int32_t>(scene.controllers.size()));
  for (float f : scene.ambient) appendFloat(out, f);

  for (const ObjectRecord& object : scene.objects) {
    appendInt32(out, object.id);
    appendInt32(out, static_cast<int32_t>(object.face_groups.size()));
    appendInt32(out, static_cast<int32_t>(object.vertices.size()));
    appendName(out, object.name);
    appendTransform(out, object.transform);
    for (const VertexRecord& vertex : object.vertices) {
      for (float f : {vertex.x, vertex.y, vertex.z, vertex.u, vertex.v, vertex.nx, vertex.ny, vertex.nz})
        appendFloat(out, f);
    }
    for (const FaceGroupRecord& group : object.face_groups) {
      appendInt32(out, static_cast<int32_t>(group.faces.size()));
      appendInt32(out, group.material_id);
      for (const FaceRecord& face : group.faces) {
        appendInt32(out, face.a);
        appendInt32(out, face.b);
        appendInt32(out, face.c);
      }
    }
  }
  for (const CameraRecord& camera : scene.cameras) {
    appendInt32(out, camera.id);
    appendInt32(out, camera.target_id);
    appendFloat(out, camera.field_of_view);
    appendFloat(out, camera.near_distance);
    appendFloat(out, camera.far_distance);
    appendName(out, camera.name);
    appendTransform(out, camera.transform);
  }
  for (const LightRecord& light : scene.lights) {
    appendInt32(out, light.id);
    appendInt32(out, light.target_id);
    appendInt32(out, light.kind);
    for (float f : light.colour) appendFloat(out, f);
    appendFloat(out, light.intensity);
    appendInt32(out, light.attenuated);
    appendFloat(out, light.range);
    appendFloat(out, light.inner_cone_angle);
    appendFloat(out, light.outer_cone_angle);
    appendName(out, light.name);
    appendTransform(out, light.transform);
  }
  for (const MaterialRecord& material : scene.materials) {
    appendInt32(out, material.id);
    for (int32_t id : material.texture_ids) appendInt32(out, id);
    for (float f : material.ambient) appendFloat(out, f);
    for (float f : material.diffuse) appendFloat(out, f);
    for (float f : material.specular) appendFloat(out, f);
    appendFloat(out, material.emissive);
    appendInt32(out, material.two_sided);
    appendFloat(out, material.environment_blend);
    appendFloat(out, material.unused_68);
    appendFloat(out, material.detail_blend);
    for (float f : material.unused_76) appendFloat(out, f);
    appendFloat(out, material.opacity);
    appendInt32(out, material.blend_mode);
  }
  for (const TextureRecord& texture : scene.textures) {
    appendInt32(out, texture.id);
    appendName(out, texture.name);
  }
  for (const ControllerRecord& controller : scene.controllers) {
    appendInt32(out, controller.target_id);
    appendInt32(out, static_cast<int32_t>(controller.keys.size()));
    for (const KeyRecord& key : controller.keys) {
      for (float f : key.position) appendFloat(out, f);
      for (float f : key.rotation) appendFloat(out, f);
    }
  }
  return out;
}
