// narvu-scene: describes scene files, either inside a pack or as a file of their own.
//
//   narvu-scene info PACK_OR_FILE [NAME]
//
// Loads the scene as the show does (textures included, on a recording device, so no display is
// needed) and prints its counts, frame count, per-object vertex, face and group counts, bounding
// boxes, octree shapes, and what each material uses.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "pack_writer.h"
#include "scene/scene.h"
#include "platform/devices.h"
#include "platform/test_hooks.h"
#include "shell/shell.h"
#include "storage/storage.h"

static const char kUsage[] =
    "usage: narvu-scene info PACK_OR_FILE [NAME]\n"
    "\n"
    "Describes a scene: counts, frame count, per object its vertices, faces, face groups, bounding box\n"
    "and octree, and what every material uses (texture slots, translucency, additive, two-sided).\n"
    "\n"
    "PACK_OR_FILE  a pack file (then NAME is the scene resource in it; without NAME every resource\n"
    "              ending in .vyl is described) or a scene file of its own (its textures are then\n"
    "              missing and reported as such).\n"
    "Options: -h, --help  this text.\n"
    "Exit code 0 when every scene was described, 1 when one could not be, 2 for a mistake in the\n"
    "arguments.\n";

static int missing_pictures = 0;

static int reportMessageBox(const char* text, const char* caption, UINT) {
  std::fprintf(stderr, "narvu-scene: %s %s\n", caption, text);
  if (std::strcmp(caption, "Picture not found:") == 0) ++missing_pictures;
  return IDOK;
}

static std::string textureName(const SceneTexture* texture) {
  if (!texture) return "-";
  return std::string("\"") + texture->file_name + "\"" + (texture->texture ? "" : " (not loaded)");
}

static void describeScene(Scene* scene, const char* name) {
  std::printf("scene %s\n", name);
  std::printf("  frames %d (%.2f s), ambient %g %g %g\n", scene->frame_count, scene->frame_count / 25.0,
              scene->ambient[0], scene->ambient[1], scene->ambient[2]);
  std::printf("  objects %d, cameras %d, lights %d, materials %d, textures %d, controllers %d\n",
              scene->object_count, scene->camera_count, scene->light_count, scene->material_count,
              scene->texture_count, scene->controller_count);
  long total_vertices = 0, total_faces = 0;
  for (int32_t i = 0; i < scene->object_count; ++i) {
    const SceneObject& object = scene->objects[i];
    long faces = 0;
    for (int32_t g = 0; g < object.face_group_count; ++g) faces += object.face_groups[g].face_count;
    total_vertices += object.vertex_count;
    total_faces += faces;
    std::printf("object %d \"%s\" id %d: %d vertices, %ld faces, %d groups", i, object.name, object.id,
                object.vertex_count, faces, object.face_group_count);
    if (object.vertex_count > 0) {
      float low[3], high[3];
      for (int axis = 0; axis < 3; ++axis) low[axis] = high[axis] = (&object.vertices[0].x)[axis];
      for (int32_t v = 0; v < object.vertex_count; ++v) {
        for (int axis = 0; axis < 3; ++axis) {
          float c = (&object.vertices[v].x)[axis];
          if (c < low[axis]) low[axis] = c;
          if (c > high[axis]) high[axis] = c;
        }
      }
      std::printf(", box (%g %g %g)-(%g %g %g)\n", low[0], low[1], low[2], high[0], high[1], high[2]);
    } else {
      std::printf(", never drawn (no vertices)\n");
    }
    for (int32_t g = 0; g < object.face_group_count; ++g) {
      const FaceGroup& group = object.face_groups[g];
      std::printf("  group %d: %d faces, material id %d%s", g, group.face_count, group.material_id,
                  group.material ? "" : " (none: not drawn)");
      if (group.octree) {
        OctreeStatistics statistics = octreeStatistics(group.octree);
        std::printf(", octree %d nodes (%d leaves), depth %d, largest node %d faces", statistics.node_count,
                    statistics.leaf_count, statistics.depth, statistics.largest_node);
      }
      std::printf("\n");
    }
  }
  std::printf("  total %ld vertices, %ld faces\n", total_vertices, total_faces);
  for (int32_t i = 0; i < scene->camera_count; ++i) {
    const SceneCamera& camera = scene->cameras[i];
    std::printf("camera %d \"%s\" id %d: field of view %g, near %g, far %g%s\n", i, camera.name, camera.id,
                camera.field_of_view, camera.near_distance, camera.far_distance,
                i == scene->current_camera ? " (viewed through)" : "");
  }
  static const char* const kKinds[] = {"point", "spot", "directional"};
  for (int32_t i = 0; i < scene->light_count; ++i) {
    const SceneLight& light = scene->lights[i];
    const char* kind = light.kind >= 0 && light.kind < 3 ? kKinds[light.kind] : "unknown kind";
    std::printf("light %d \"%s\" id %d: %s, colour %g %g %g x %g, %s, target id %d%s\n", i, light.name,
                light.id, kind, light.colour[0], light.colour[1], light.colour[2], light.intensity,
                light.attenuated ? "attenuated" : "no attenuation", light.target_id,
                light.target ? "" : " (none)");
  }
  for (int32_t i = 0; i < scene->material_count; ++i) {
    const SceneMaterial& material = scene->materials[i];
    std::printf("material %d id %d: base %s, detail %s, environment %s", i, material.id,
                textureName(material.textures[1]).c_str(), textureName(material.textures[2]).c_str(),
                textureName(material.textures[3]).c_str());
    if (material.opacity < 1.0f) {
      std::printf(", translucent (opacity %g, %s)", material.opacity,
                  material.blend_mode == 1 ? "additive" : "alpha blended");
    } else {
      std::printf(", opaque");
    }
    if (material.two_sided) std::printf(", two-sided");
    std::printf("\n");
  }
  for (int32_t i = 0; i < scene->texture_count; ++i) {
    const SceneTexture& texture = scene->textures[i];
    std::printf("texture %d id %d: \"%s\"%s\n", i, texture.id, texture.file_name,
                texture.texture ? "" : " (not loaded)");
  }
  int untargeted = 0, short_tracks = 0;
  for (int32_t i = 0; i < scene->controller_count; ++i) {
    const Controller& controller = scene->controllers[i];
    if (!controller.target) ++untargeted;
    if (controller.key_count < scene->frame_count) ++short_tracks;
  }
  std::printf("controllers: %d, %d without target, %d shorter than the scene (they hold their last key)\n",
              scene->controller_count, untargeted, short_tracks);
}

static bool endsWithVyl(const char* name) {
  size_t length = std::strlen(name);
  return length >= 4 && strcasecmp(name + length - 4, ".vyl") == 0;
}

// A scene file of its own is served through a pack of one entry in a scratch file.
static std::string packOfOneFile(const char* path, const std::string& entry_name) {
  FILE* file = std::fopen(path, "rb");
  if (!file) return "";
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  std::fclose(file);
  char scratch[] = "/tmp/narvu-scene-XXXXXX";
  int descriptor = mkstemp(scratch);
  if (descriptor < 0) return "";
  close(descriptor);
  std::vector<PackItem> items = {{entry_name, bytes}};
  if (!writePack(scratch, items, PackMethod::stored, nullptr)) {
    unlink(scratch);
    return "";
  }
  return scratch;
}

int main(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc < 3 || argc > 4 || std::strcmp(argv[1], "info") != 0) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const char* path = argv[2];
  const char* wanted = argc == 4 ? argv[3] : nullptr;
  if (access(path, R_OK) != 0) {
    std::fprintf(stderr, "narvu-scene: cannot read %s\n", path);
    return 1;
  }

  setMessageBoxResponder(reportMessageBox);
  RecordingDevice recording;
  recording.recording = false;
  device = &recording;

  std::vector<std::string> names;
  std::string scratch;
  if (packMount(path, 0)) {
    if (wanted) {
      names.push_back(wanted);
    } else {
      for (PackEntry* entry = pack_entries; entry; entry = entry->next) {
        if (endsWithVyl(entry->name)) names.insert(names.begin(), entry->name);
      }
      if (names.empty()) {
        std::fprintf(stderr, "narvu-scene: %s holds no resource ending in .vyl; name one\n", path);
        return 1;
      }
    }
  } else {
    const char* base = std::strrchr(path, '/');
    std::string name = wanted ? wanted : (base ? base + 1 : path);
    scratch = packOfOneFile(path, name);
    if (scratch.empty() || !packMount(scratch.c_str(), 0)) {
      std::fprintf(stderr, "narvu-scene: cannot serve %s as a scene resource\n", path);
      if (!scratch.empty()) unlink(scratch.c_str());
      return 1;
    }
    names.push_back(name);
  }

  int status = 0;
  for (const std::string& name : names) {
    if (!packExists(name.c_str())) {
      std::fprintf(stderr, "narvu-scene: %s holds no resource \"%s\"\n", path, name.c_str());
      status = 1;
      continue;
    }
    Scene* scene = loadScene(name.c_str(), 50);
    if (!scene) {
      std::fprintf(stderr, "narvu-scene: %s: not a sound scene: %s\n", name.c_str(), scene_load_error);
      status = 1;
      continue;
    }
    describeScene(scene, name.c_str());
  }
  if (missing_pictures > 0) std::printf("%d texture pictures missing\n", missing_pictures);
  if (!scratch.empty()) unlink(scratch.c_str());
  device = nullptr;
  return status;
}
