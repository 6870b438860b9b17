// The show's content as the generator builds it in memory, before it is written as scene files,
// pictures and a module. Plain records; positions in scene units with z up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Vec3 {
  float x, y, z;
};

Vec3 vec3(float x, float y, float z);
Vec3 add(Vec3 a, Vec3 b);
Vec3 sub(Vec3 a, Vec3 b);
Vec3 scale(Vec3 a, float s);
float dot(Vec3 a, Vec3 b);
Vec3 cross(Vec3 a, Vec3 b);
float length(Vec3 a);
Vec3 normalised(Vec3 a);
Vec3 lerp(Vec3 a, Vec3 b, float t);
// Catmull-Rom through p1..p2 with neighbours p0 and p3, t in 0..1.
Vec3 catmullRom(Vec3 p0, Vec3 p1, Vec3 p2, Vec3 p3, float t);

struct Quat {
  float x, y, z, w;
};
Quat quatAxisAngle(Vec3 axis, float radians);
Quat quatMultiply(Quat a, Quat b);  // a then b
// The orientation whose own axes (rows of the renderer's rotation matrix) are the three vectors.
Quat quatFromAxes(Vec3 axis_x, Vec3 axis_y, Vec3 axis_z);
// A camera at `eye` looking at `target`: it looks along its own -y with its own z up, so its own
// x must be up x forward to stay a rotation. `roll` turns it about the line of sight.
Quat cameraLookAt(Vec3 eye, Vec3 target, float roll);
// Applies the rotation to a vector the way the renderer does (row vector times the matrix).
Vec3 rotate(Quat q, Vec3 v);

// v as the renderer holds it (the scene file stores it negated).
struct ContentVertex {
  float x, y, z, u, v, nx, ny, nz;
};

struct ContentFace {
  int32_t a, b, c;
};

struct ContentGroup {
  int32_t material_id;
  std::vector<ContentFace> faces;
};

struct ContentObject {
  int32_t id;
  std::string name;
  Vec3 position;
  Quat rotation;
  std::vector<ContentVertex> vertices;
  std::vector<ContentGroup> groups;
};

struct ContentCamera {
  int32_t id;
  std::string name;
  float field_of_view, near_distance, far_distance;
  Vec3 position;
  Quat rotation;
};

struct ContentLight {
  int32_t id;
  std::string name;
  int32_t target_id;  // 0: none
  int32_t kind;       // 0 point, 1 spot, 2 directional
  float colour[3];
  float intensity;
  int32_t attenuated;
  float range, inner_cone, outer_cone;
  Vec3 position;
  Quat rotation;
};

struct ContentMaterial {
  int32_t id;
  int32_t texture_ids[4];  // slot 1 base, 2 detail, 3 environment; 0 none
  float ambient[3], diffuse[3], specular[3];
  float emissive;
  int32_t two_sided;
  float environment_blend, detail_blend, opacity;
  int32_t blend_mode;  // 1 additive
};

struct ContentTexture {
  int32_t id;
  std::string name;
};

struct ContentKey {
  Vec3 position;
  Quat rotation;
};

struct ContentController {
  int32_t target_id;
  std::vector<ContentKey> keys;
};

struct ContentScene {
  int32_t frame_count;
  float ambient[3];
  std::vector<ContentObject> objects;
  std::vector<ContentCamera> cameras;
  std::vector<ContentLight> lights;
  std::vector<ContentMaterial> materials;
  std::vector<ContentTexture> textures;
  std::vector<ContentController> controllers;
};

// An RGB picture, rows top to bottom, 3 bytes a pixel.
struct RgbImage {
  int width, height;
  std::vector<uint8_t> rgb;
};

// The same with a fourth byte per pixel: alpha, 0 transparent to 255 opaque.
struct RgbaImage {
  int width, height;
  std::vector<uint8_t> rgba;
};

// One named resource of the pack.
struct ContentResource {
  std::string name;
  std::vector<uint8_t> bytes;
};
