// Writes scene files: an in-memory description mirroring the file's records goes in, the exact
// little-endian byte layout that loadScene reads comes out. Used by tests, benchmarks and the
// content generator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Position and rotation as the file's 40-byte transform block holds them; the three unused floats
// between them are written as `unused`.
struct TransformBlock {
  float position[3] = {0, 0, 0};
  float unused[3] = {0, 0, 0};
  float rotation[4] = {0, 0, 0, 1};  // quaternion x, y, z, w
};

// One vertex as the file stores it: v is the file's value (loadScene negates it).
struct VertexRecord {
  float x = 0, y = 0, z = 0;
  float u = 0, v = 0;
  float nx = 0, ny = 0, nz = 1;
};

struct FaceRecord {
  int32_t a = 0, b = 0, c = 0;
};

struct FaceGroupRecord {
  int32_t material_id = 0;
  std::vector<FaceRecord> faces;
};

struct ObjectRecord {
  int32_t id = 0;
  std::string name;  // at most 31 characters are written; longer names are cut
  TransformBlock transform;
  std::vector<VertexRecord> vertices;
  std::vector<FaceGroupRecord> face_groups;
};

struct CameraRecord {
  int32_t id = 0;
  int32_t target_id = -1;
  float field_of_view = 45.0f;  // degrees
  float near_distance = 1.0f;
  float far_distance = 1000.0f;
  std::string name;
  TransformBlock transform;
};

struct LightRecord {
  int32_t id = 0;
  int32_t target_id = -1;
  int32_t kind = 0;  // 0 point, 1 spot, 2 directional
  float colour[3] = {1, 1, 1};
  float intensity = 1.0f;
  int32_t attenuated = 0;
  float range = 100.0f;
  float inner_cone_angle = 20.0f;
  float outer_cone_angle = 40.0f;
  std::string name;
  TransformBlock transform;
};

struct MaterialRecord {
  int32_t id = 0;
  int32_t texture_ids[4] = {-1, -1, -1, -1};  // slot 1 base, 2 detail, 3 environment
  float ambient[3] = {0.2f, 0.2f, 0.2f};
  float diffuse[3] = {0.8f, 0.8f, 0.8f};
  float specular[3] = {0, 0, 0};
  float emissive = 0;
  int32_t two_sided = 0;
  float environment_blend = 0;
  float unused_68 = 0;
  float detail_blend = 0;
  float unused_76[2] = {0, 0};
  float opacity = 1.0f;
  int32_t blend_mode = 0;  // 1 additive
};

struct TextureRecord {
  int32_t id = 0;
  std::string name;  // resource name of the picture in the pack
};

struct KeyRecord {
  float position[3] = {0, 0, 0};
  float rotation[4] = {0, 0, 0, 1};
};

struct ControllerRecord {
  int32_t target_id = 0;
  std::vector<KeyRecord> keys;  // key i belongs to frame i
};

struct SceneDescription {
  int32_t frame_count = 0;
  float ambient[3] = {0, 0, 0};
  std::vector<ObjectRecord> objects;
  std::vector<CameraRecord> cameras;
  std::vector<LightRecord> lights;
  std::vector<MaterialRecord> materials;
  std::vector<TextureRecord> textures;
  std::vector<ControllerRecord> controllers;
};

// The scene file: header (counts taken from the vectors), then objects, cameras, lights, materials,
// textures and controllers, each in vector order.
std::vector<uint8_t> writeScene(const SceneDescription& scene);

// Size in bytes that writeScene produces for `scene`, without building it.
size_t sceneFileSize(const SceneDescription& scene);

// Low-level pieces, for tests that build deliberately broken files.
void appendInt32(std::vector<uint8_t>& out, int32_t value);
void appendFloat(std::vector<uint8_t>& out, float value);
void appendName(std::vector<uint8_t>& out, const std::string& name);  // 32-byte zero-padded field
