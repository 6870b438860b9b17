// The scene file reader: one flat sequence of fixed-size little-endian records, read front to back
// through a memory file, then linked by id, textured and indexed by octrees.
//
// The format carries no checksum or markers, so every count is tested against the bytes that are
// left before anything is allocated for it, and every index against the records it points into. A
// file that fails a test is rejected whole: loadScene returns null and scene_load_error names why.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "scene/octree_internal.h"
#include "scene/scene.h"
#include "storage/storage.h"
#include "texture/texture.h"

const char* scene_load_error = nullptr;

static const char kTraceCaption[] = "DEMO loadScene DEBUG";
static const char kTextureTraceCaption[] = "DEMO loadScene load texture DEBUG";

static const int kHeaderBytes = 40;
static const int kObjectHeadBytes = 44;
static const int kTransformBytes = 40;
static const int kVertexBytes = 32;
static const int kGroupHeadBytes = 8;
static const int kFaceBytes = 12;
static const int kCameraBytes = 52;
static const int kLightBytes = 76;
static const int kMaterialBytes = 92;
static const int kTextureBytes = 36;
static const int kControllerHeadBytes = 8;
static const int kKeyBytes = 28;

struct SceneFile {
  RamFile* stream;
  const char* error;  // first failure; later reads are refused
};

static int64_t bytesLeft(const SceneFile& file) {
  return static_cast<int64_t>(file.stream->size) - file.stream->position;
}

// One whole record or record part, or a failure when the file ends inside it.
static bool readRecord(SceneFile& file, void* destination, int64_t size) {
  if (file.error) return false;
  if (size < 0 || size > bytesLeft(file)) {
    file.error = "the file ends inside a record";
    return false;
  }
  if (size == 0) return true;
  if (ramfread(destination, static_cast<int>(size), 1, file.stream) != 1) {
    file.error = "the file ends inside a record";
    return false;
  }
  return true;
}

static bool fail(SceneFile& file, const char* reason) {
  if (!file.error) file.error = reason;
  return false;
}

// A count must be non-negative and its records, at `bytes_each` at least, must fit in what is left.
static bool checkCount(SceneFile& file, int32_t count, int64_t bytes_each, const char* negative_reason) {
  if (file.error) return false;
  if (count < 0) return fail(file, negative_reason);
  if (static_cast<int64_t>(count) * bytes_each > bytesLeft(file)) {
    return fail(file, "a count needs more bytes than the file holds");
  }
  return true;
}

static int32_t int32At(const uint8_t* bytes, int offset) {
  uint32_t value = static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
                   static_cast<uint32_t>(bytes[offset + 2]) << 16 |
                   static_cast<uint32_t>(bytes[offset + 3]) << 24;
  int32_t result;
  std::memcpy(&result, &value, 4);
  return result;
}

static float floatAt(const uint8_t* bytes, int offset) {
  int32_t bits = int32At(bytes, offset);
  float result;
  std::memcpy(&result, &bits, 4);
  return result;
}

// Up to the terminator, at most 31 characters; what follows the terminator never reaches the name.
static void nameAt(char destination[32], const uint8_t* bytes, int offset) {
  int length = 0;
  while (length < 31 && bytes[offset + length] != 0) {
    destination[length] = static_cast<char>(bytes[offset + length]);
    ++length;
  }
  std::memset(destination + length, 0, 32 - length);
}

static bool readTransform(SceneFile& file, Transform* transform) {
  uint8_t block[kTransformBytes];
  if (!readRecord(file, block, kTransformBytes)) return false;
  for (int i = 0; i < 3; ++i) transform->position[i] = floatAt(block, 4 * i);
  for (int i = 0; i < 4; ++i) transform->rotation[i] = floatAt(block, 24 + 4 * i);
  return true;
}

template <typename T>
static T* newArray(int32_t count) {
  return static_cast<T*>(std::calloc(count > 0 ? count : 1, sizeof(T)));
}

static bool readVertices(SceneFile& file, SceneObject* object, int32_t vertex_count) {
  if (!checkCount(file, vertex_count, kVertexBytes, "an object has a negative vertex count")) return false;
  // The vertex remap table and the shared vertex buffer hold this many vertices.
  if (vertex_count > kVertexRemapSize) return fail(file, "an object has more than 50000 vertices");
  object->vertex_count = vertex_count;
  object->vertices = newArray<MeshVertex>(vertex_count);
  for (int32_t i = 0; i < vertex_count; ++i) {
    uint8_t record[kVertexBytes];
    if (!readRecord(file, record, kVertexBytes)) return false;
    MeshVertex& vertex = object->vertices[i];
    vertex.x = floatAt(record, 0);
    vertex.y = floatAt(record, 4);
    vertex.z = floatAt(record, 8);
    vertex.u = floatAt(record, 12);
    vertex.v = -floatAt(record, 16);
    vertex.nx = floatAt(record, 20);
    vertex.ny = floatAt(record, 24);
    vertex.nz = floatAt(record, 28);
  }
  return true;
}

// A face's corners must lie in its object, and at or after its group's first corner, where the
// group's remap slots begin.
static bool checkFace(SceneFile& file, const Face& face, const Face& first, int32_t vertex_count) {
  for (int32_t index : {face.a, face.b, face.c}) {
    if (index < 0 || index >= vertex_count) return fail(file, "a face refers to a vertex outside its object");
    if (index < first.a) return fail(file, "a face refers to a vertex below its group's first vertex");
  }
  return true;
}

static bool readFaceGroup(SceneFile& file, FaceGroup* group, int32_t vertex_count) {
  uint8_t group_head[kGroupHeadBytes];
  if (!readRecord(file, group_head, kGroupHeadBytes)) return false;
  int32_t face_count = int32At(group_head, 0);
  group->material_id = int32At(group_head, 4);
  if (!checkCount(file, face_count, kFaceBytes, "a face group has a negative face count")) return false;
  group->face_count = face_count;
  group->faces = newArray<Face>(face_count);
  for (int32_t f = 0; f < face_count; ++f) {
    uint8_t record[kFaceBytes];
    if (!readRecord(file, record, kFaceBytes)) return false;
    Face& face = group->faces[f];
    face.a = int32At(record, 0);
    face.b = int32At(record, 4);
    face.c = int32At(record, 8);
    if (!checkFace(file, face, group->faces[0], vertex_count)) return false;
  }
  return true;
}

static bool readObject(SceneFile& file, SceneObject* object) {
  uint8_t head[kObjectHeadBytes];
  if (!readRecord(file, head, kObjectHeadBytes)) return false;
  object->id = int32At(head, 0);
  int32_t group_count = int32At(head, 4);
  int32_t vertex_count = int32At(head, 8);
  nameAt(object->name, head, 12);
  if (!readTransform(file, &object->transform)) return false;
  if (!readVertices(file, object, vertex_count)) return false;
  if (!checkCount(file, group_count, kGroupHeadBytes, "an object has a negative face group count")) return false;
  object->face_group_count = group_count;
  object->face_groups = newArray<FaceGroup>(group_count);
  for (int32_t g = 0; g < group_count; ++g) {
    if (!readFaceGroup(file, &object->face_groups[g], vertex_count)) return false;
  }
  return true;
}

static bool readCamera(SceneFile& file, SceneCamera* camera) {
  uint8_t record[kCameraBytes];
  if (!readRecord(file, record, kCameraBytes)) return false;
  camera->id = int32At(record, 0);
  camera->field_of_view = floatAt(record, 8);
  camera->near_distance = floatAt(record, 12);
  camera->far_distance = floatAt(record, 16);
  nameAt(camera->name, record, 20);
  return readTransform(file, &camera->transform);
}

static bool readLight(SceneFile& file, Scene* scene, int32_t index) {
  SceneLight* light = &scene->lights[index];
  uint8_t record[kLightBytes];
  if (!readRecord(file, record, kLightBytes)) return false;
  light->id = int32At(record, 0);
  light->target_id = int32At(record, 4);
  light->kind = int32At(record, 8);
  for (int i = 0; i < 3; ++i) light->colour[i] = floatAt(record, 12 + 4 * i);
  light->intensity = floatAt(record, 24);
  light->attenuated = int32At(record, 28);
  light->range = floatAt(record, 32);
  light->inner_cone_angle = floatAt(record, 36);
  light->outer_cone_angle = floatAt(record, 40);
  nameAt(light->name, record, 44);
  // Only the lights before this one are read: a light aimed at a later light has no target.
  int32_t all_lights = scene->light_count;
  scene->light_count = index;
  light->target = findTransform(scene, light->target_id);
  scene->light_count = all_lights;
  return readTransform(file, &light->transform);
}

static bool readMaterial(SceneFile& file, SceneMaterial* material) {
  uint8_t record[kMaterialBytes];
  if (!readRecord(file, record, kMaterialBytes)) return false;
  material->id = int32At(record, 0);
  for (int i = 0; i < 4; ++i) material->texture_ids[i] = int32At(record, 4 + 4 * i);
  for (int i = 0; i < 3; ++i) {
    material->ambient[i] = floatAt(record, 20 + 4 * i);
    material->diffuse[i] = floatAt(record, 32 + 4 * i);
    material->specular[i] = floatAt(record, 44 + 4 * i);
  }
  material->emissive = floatAt(record, 56);
  material->two_sided = int32At(record, 60);
  material->environment_blend = floatAt(record, 64);
  material->detail_blend = floatAt(record, 72);
  material->opacity = floatAt(record, 84);
  material->blend_mode = int32At(record, 88);
  return true;
}

static bool readController(SceneFile& file, Scene* scene, Controller* controller) {
  uint8_t head[kControllerHeadBytes];
  if (!readRecord(file, head, kControllerHeadBytes)) return false;
  controller->target_id = int32At(head, 0);
  int32_t key_count = int32At(head, 4);
  if (!checkCount(file, key_count, kKeyBytes, "a controller has a negative key count")) return false;
  // Fewer keys than frames is accepted: the animation holds the last key, and skips a track with
  // no key at all.
  controller->key_count = key_count;
  controller->keys = newArray<AnimationKey>(key_count);
  // All keys in one read, as the format lays them out back to back.
  uint8_t* bytes = static_cast<uint8_t*>(std::malloc(key_count > 0 ? key_count * kKeyBytes : 1));
  bool read = readRecord(file, bytes, static_cast<int64_t>(key_count) * kKeyBytes);
  for (int32_t k = 0; read && k < key_count; ++k) {
    AnimationKey& key = controller->keys[k];
    for (int i = 0; i < 3; ++i) key.position[i] = floatAt(bytes, k * kKeyBytes + 4 * i);
    for (int i = 0; i < 4; ++i) key.rotation[i] = floatAt(bytes, k * kKeyBytes + 12 + 4 * i);
  }
  std::free(bytes);
  if (!read) return false;
  controller->target = findTransform(scene, controller->target_id);
  return true;
}

// Also releases a scene that failed part way: whatever part of it exists. Textures hold the one
// reference their creation gave.
void freeScene(Scene* scene) {
  if (!scene) return;
  if (scene->objects) {
    for (int32_t i = 0; i < scene->object_count; ++i) {
      SceneObject& object = scene->objects[i];
      if (object.face_groups) {
        for (int32_t g = 0; g < object.face_group_count; ++g) {
          std::free(object.face_groups[g].faces);
          std::free(object.face_groups[g].index_list);
          freeOctree(object.face_groups[g].octree);
        }
      }
      std::free(object.vertices);
      std::free(object.face_groups);
    }
  }
  if (scene->textures) {
    for (int32_t i = 0; i < scene->texture_count; ++i) {
      if (scene->textures[i].texture) scene->textures[i].texture->Release();
    }
  }
  if (scene->controllers) {
    for (int32_t i = 0; i < scene->controller_count; ++i) std::free(scene->controllers[i].keys);
  }
  std::free(scene->objects);
  std::free(scene->cameras);
  std::free(scene->lights);
  std::free(scene->materials);
  std::free(scene->textures);
  std::free(scene->controllers);
  std::free(scene);
}

// The header's counts, tested against the bytes left before anything is allocated for them, and the
// scene's arrays. Counts are set as each array is created, so a failure part way releases only what
// exists.
static bool readHeader(SceneFile& file, Scene* scene) {
  uint8_t header[kHeaderBytes];
  if (bytesLeft(file) < kHeaderBytes) return fail(file, "the file is shorter than its header");
  if (!readRecord(file, header, kHeaderBytes)) return false;
  int32_t object_count = int32At(header, 0);
  int32_t material_count = int32At(header, 4);
  int32_t texture_count = int32At(header, 8);
  int32_t camera_count = int32At(header, 12);
  int32_t light_count = int32At(header, 16);
  int32_t frame_count = int32At(header, 20);
  int32_t controller_count = int32At(header, 24);
  for (int i = 0; i < 3; ++i) scene->ambient[i] = floatAt(header, 28 + 4 * i);
  scene->frame_count = frame_count;
  scene->current_camera = 0;
  scene->skybox = nullptr;

  if (object_count < 0 || material_count < 0 || texture_count < 0 || camera_count < 0 || light_count < 0 ||
      controller_count < 0) {
    return fail(file, "the header has a negative count");
  }
  if (frame_count < 0) return fail(file, "the header has a negative frame count");
  int64_t least = static_cast<int64_t>(object_count) * (kObjectHeadBytes + kTransformBytes) +
                  static_cast<int64_t>(camera_count) * (kCameraBytes + kTransformBytes) +
                  static_cast<int64_t>(light_count) * (kLightBytes + kTransformBytes) +
                  static_cast<int64_t>(material_count) * kMaterialBytes +
                  static_cast<int64_t>(texture_count) * kTextureBytes +
                  static_cast<int64_t>(controller_count) * kControllerHeadBytes;
  if (least > bytesLeft(file)) return fail(file, "the header's counts need more bytes than the file holds");

  scene->object_count = object_count;
  scene->objects = newArray<SceneObject>(object_count);
  scene->camera_count = camera_count;
  scene->cameras = newArray<SceneCamera>(camera_count);
  scene->light_count = light_count;
  scene->lights = newArray<SceneLight>(light_count);
  scene->material_count = material_count;
  scene->materials = newArray<SceneMaterial>(material_count);
  scene->texture_count = texture_count;
  scene->textures = newArray<SceneTexture>(texture_count);
  scene->controller_count = controller_count;
  scene->controllers = newArray<Controller>(controller_count);
  return true;
}

// A texture record names a picture, which is loaded at once: every record makes its own request,
// also for a picture an earlier record named.
static bool readTexture(SceneFile& file, SceneTexture* texture) {
  uint8_t record[kTextureBytes];
  if (!readRecord(file, record, kTextureBytes)) return false;
  texture->id = int32At(record, 0);
  nameAt(texture->file_name, record, 4);
  debugMessage(texture->file_name, kTextureTraceCaption);
  texture->texture = loadTexture(texture->file_name, 1);
  return true;
}

// The records, kind by kind, in the file's order.
static bool readRecords(SceneFile& file, Scene* scene) {
  debugMessage("objects", kTraceCaption);
  for (int32_t i = 0; i < scene->object_count; ++i)
    if (!readObject(file, &scene->objects[i])) return false;
  debugMessage("cameras", kTraceCaption);
  for (int32_t i = 0; i < scene->camera_count; ++i)
    if (!readCamera(file, &scene->cameras[i])) return false;
  debugMessage("lights", kTraceCaption);
  for (int32_t i = 0; i < scene->light_count; ++i)
    if (!readLight(file, scene, i)) return false;
  debugMessage("materials", kTraceCaption);
  for (int32_t i = 0; i < scene->material_count; ++i)
    if (!readMaterial(file, &scene->materials[i])) return false;
  debugMessage("textures", kTraceCaption);
  for (int32_t i = 0; i < scene->texture_count; ++i)
    if (!readTexture(file, &scene->textures[i])) return false;
  debugMessage("controllers", kTraceCaption);
  for (int32_t i = 0; i < scene->controller_count; ++i)
    if (!readController(file, scene, &scene->controllers[i])) return false;
  return true;
}

// Materials find their textures and face groups their materials by id; every drawable group gets
// its octree.
static void linkScene(Scene* scene, int max_faces_per_node) {
  debugMessage("materials..", kTraceCaption);
  for (int32_t i = 0; i < scene->material_count; ++i) {
    SceneMaterial* material = &scene->materials[i];
    for (int slot = 0; slot < 4; ++slot) material->textures[slot] = findTexture(scene, material->texture_ids[slot]);
  }
  debugMessage("objects..", kTraceCaption);
  for (int32_t i = 0; i < scene->object_count; ++i) {
    SceneObject* object = &scene->objects[i];
    if (object->vertex_count < 1) continue;  // never drawn
    for (int32_t g = 0; g < object->face_group_count; ++g) {
      FaceGroup* group = &object->face_groups[g];
      group->material = findMaterial(scene, group->material_id);
      buildOctree(group, object->vertices, max_faces_per_node);
    }
  }
}

static bool readScene(SceneFile& file, Scene* scene, int max_faces_per_node) {
  if (!readHeader(file, scene) || !readRecords(file, scene)) return false;
  linkScene(scene, max_faces_per_node);
  return true;
}

// A damaged scene is not a missing one: the person reading the message needs to know which.
static const char* unopenedReason(PackFailure failure) {
  switch (failure) {
    case PackFailure::missing: return "the scene resource is missing";
    case PackFailure::damaged: return "the scene resource is damaged (checksum or decoding failed)";
    case PackFailure::too_large: return "the scene resource is too large (2 GiB or more)";
    case PackFailure::out_of_memory: return "the scene resource is too large for the memory available";
    default: return "the scene resource cannot be read from the pack file";
  }
}

Scene* loadScene(const char* name, int max_faces_per_node) {
  scene_load_error = nullptr;
  debugMessage(name, kTraceCaption);
  RamFile* stream = ramfopen(name);
  if (!stream) {
    scene_load_error = unopenedReason(pack_failure);
    return nullptr;
  }
  Scene* scene = static_cast<Scene*>(std::calloc(1, sizeof(Scene)));
  SceneFile file = {stream, nullptr};
  bool loaded = readScene(file, scene, max_faces_per_node);
  ramfclose(stream);
  if (!loaded) {
    scene_load_error = file.error ? file.error : "the scene file is unreadable";
    freeScene(scene);
    return nullptr;
  }
  return scene;
}
