// Scenes: the records of a baked animation (meshes, cameras, lights, materials, textures and
// per-frame animation tracks), the scene file reader, and the octree that culls mesh faces.
//
// loadScene builds a Scene whole at start-up; afterwards the renderer changes only the per-draw fields
// of face groups and, through the controllers, the Transforms. Scenes are never released.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct Matrix;      // render/math.h
struct Skybox;      // render/render.h
struct OctreeNode;
struct SceneMaterial;

// Placement of an object, camera or light; what controllers animate and light targets point at.
struct Transform {
  float position[3];
  float rotation[4];  // quaternion x, y, z, w, used as stored (not normalised)
};

// 32 bytes. v holds the file's value negated.
struct MeshVertex {
  float x, y, z;
  float u, v;
  float nx, ny, nz;
};

// Three indices into the owning object's vertices, in drawing order.
struct Face {
  int32_t a, b, c;
};

// The faces of one object that share a material, drawn as one indexed triangle list.
struct FaceGroup {
  int32_t face_count;
  Face* faces;
  int32_t material_id;
  SceneMaterial* material;  // null: the group is not drawn
  uint16_t* index_list;     // built for every draw by cullFaceGroup; allocated on the first draw
  int32_t index_count;
  int32_t remap_base;       // minus the first vertex index of the group's first face
  OctreeNode* octree;
};

struct SceneObject {
  int32_t id;
  Transform transform;
  int32_t vertex_count;
  int32_t face_group_count;
  char name[32];
  MeshVertex* vertices;
  FaceGroup* face_groups;
};

struct SceneCamera {
  int32_t id;
  Transform transform;
  char name[32];
  float field_of_view;  // degrees
  float near_distance;
  float far_distance;   // positive
};

struct SceneLight {
  int32_t id;
  Transform transform;
  char name[32];
  int32_t target_id;
  Transform* target;    // null when no record has target_id (among those read before the light)
  int32_t kind;         // 0 point, 1 spot, 2 directional
  float colour[3];
  float intensity;
  int32_t attenuated;
  float range;
  float inner_cone_angle;  // degrees
  float outer_cone_angle;  // degrees
};

struct SceneTexture {
  int32_t id;
  char file_name[32];
  IDirectDrawSurface7* texture;  // 0 when the picture is missing or failed to load
};

struct SceneMaterial {
  int32_t id;
  int32_t texture_ids[4];
  SceneTexture* textures[4];  // slot 1 base, 2 detail, 3 environment; slot 0 not drawn
  float ambient[3];
  float diffuse[3];
  float specular[3];
  float emissive;
  int32_t two_sided;
  float environment_blend;
  float detail_blend;
  float opacity;      // below 1.0: translucent pass
  int32_t blend_mode; // 1: additive
};

// 28 bytes: the pose of one frame.
struct AnimationKey {
  float position[3];
  float rotation[4];
};

struct Controller {
  int32_t target_id;
  int32_t key_count;
  Transform* target;  // null: skipped every frame
  AnimationKey* keys; // key i belongs to frame i
};

struct Scene {
  int32_t object_count;
  int32_t material_count;
  int32_t texture_count;
  int32_t camera_count;
  int32_t frame_count;
  int32_t controller_count;
  int32_t light_count;
  int32_t current_camera;
  float ambient[3];
  Skybox* skybox;
  SceneObject* objects;
  SceneCamera* cameras;
  SceneLight* lights;
  SceneMaterial* materials;
  SceneTexture* textures;
  Controller* controllers;
};

// Lookups by id, first match in stored order; null when none.
Transform* findTransform(Scene* scene, int32_t id);  // objects, then cameras, then lights
SceneTexture* findTexture(Scene* scene, int32_t id);
SceneMaterial* findMaterial(Scene* scene, int32_t id);

// Reads the resource `name` through a memory file into a new Scene, loading its textures and building
// every face group's octree. Null when the resource is missing or does not hold a sound scene; then
// scene_load_error says why.
Scene* loadScene(const char* name, int max_faces_per_node);
extern const char* scene_load_error;
// Releases a scene with everything it owns, textures included. The show never does; tools, tests
// and the fuzzer, which load many scenes in one process, do.
void freeScene(Scene* scene);

// ---- Octree index and culling ---------------------------------------------------------------------
struct OctreeNode {
  OctreeNode* children[8];  // octant k: bit 0 x, bit 1 y, bit 2 z set = upper half
  float box_min[3];
  float box_max[3];
  Face* faces;              // the faces this node holds itself
  int32_t face_count;
};

// 40 bytes, FVF 0x212: what object_vertex_buffer holds.
struct RenderVertex {
  float x, y, z;
  float nx, ny, nz;
  float u0, v0;
  float u1, v1;
};

// The material's textures decide how a face group is drawn (render/mesh_drawing.cpp) and which second
// texture-coordinate pair the culling writes for it: the detail texture repeats the first pair four
// times over, the environment map takes its pair from the normal turned into view space. The detail
// texture wins over the environment map when a material has both.
enum TexGenMode {
  kUntextured = 0,
  kEnvironment = 1,
  kBase = 2,
  kBaseEnvironment = 3,
  kDetail = 4,
  kBaseDetail = 5,
};

constexpr int kVertexRemapSize = 50000;
// The drawing state of the one face group being drawn; reset by drawObject before every group.
extern uint16_t vertex_remap[kVertexRemapSize];  // mesh vertex + remap_base -> buffer slot; 0xFFFF none
extern int32_t emitted_vertex_count;             // RenderVertex records written for this group
extern float clip_planes[6][4];                  // near, far, bottom, top, right, left, object space

// Splits stop at this depth (the root is depth 0): faces that never separate, such as faces whose
// corners all coincide, would otherwise be divided without end.
constexpr int kOctreeMaxDepth = 24;

void buildOctree(FaceGroup* group, const MeshVertex* vertices, int max_faces_per_node);
// Fills the group's index list and writes the vertices of its visible faces from slot
// emitted_vertex_count on; `tex_gen_mode` chooses the second texture coordinates.
void cullFaceGroup(FaceGroup* group, const MeshVertex* vertices, TexGenMode tex_gen_mode, RenderVertex* buffer,
                   const Matrix* world_view);
// Releases a tree built by buildOctree (the show never does; failed loads, tools and tests do).
void freeOctree(OctreeNode* node);

struct OctreeStatistics {
  int node_count;
  int leaf_count;
  int depth;         // levels below the root; 0 for a single node
  int largest_node;  // most faces held by one node
};
OctreeStatistics octreeStatistics(const OctreeNode* root);
