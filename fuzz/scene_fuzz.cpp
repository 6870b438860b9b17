// libFuzzer target: the input is a scene file, served from a pack image as the show serves it, and
// loaded with its textures (none present: every picture is missing) and octrees. A loaded scene is
// also culled once through every face group, so the octrees of whatever the reader accepts are
// walked as well.
// fuzz-link: narvu_shell narvu_storage narvu_tools
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/test_hooks.h"
#include "platform/devices.h"
#include "pack_writer.h"
#include "render/render.h"
#include "scene/scene.h"
#include "shell/shell.h"
#include "storage/storage.h"

static int quietMessageBox(const char*, const char*, UINT) { return IDOK; }

static std::string packPath() {
  static std::string path = "/tmp/narvu-scene-fuzz-" + std::to_string(getpid()) + ".dat";
  return path;
}

static void cullEveryGroup(Scene* scene) {
  static std::vector<RenderVertex> buffer(kVertexRemapSize);
  Matrix identity;
  matrixIdentity(&identity);
  for (auto& plane : clip_planes) {
    plane[0] = plane[1] = plane[2] = 0;
    plane[3] = -1;
  }
  for (int32_t i = 0; i < scene->object_count; ++i) {
    SceneObject& object = scene->objects[i];
    if (object.vertex_count < 1) continue;
    for (int32_t g = 0; g < object.face_group_count; ++g) {
      FaceGroup& group = object.face_groups[g];
      group.remap_base = group.face_count > 0 ? -group.faces[0].a : 0;
      emitted_vertex_count = 0;
      for (int32_t v = 0; v < object.vertex_count; ++v) vertex_remap[v] = 0xFFFF;
      cullFaceGroup(&group, object.vertices, kBaseEnvironment, buffer.data(), &identity);
    }
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static RecordingDevice* recording = [] {
    RecordingDevice* created = new RecordingDevice;
    created->recording = false;
    device = created;
    setMessageBoxResponder(quietMessageBox);
    return created;
  }();
  (void)recording;

  std::vector<PackItem> items = {{"scene.vyl", std::vector<uint8_t>(data, data + size)}};
  if (!writePack(packPath(), items, PackMethod::stored, nullptr)) return 0;
  packReset();
  if (!packMount(packPath().c_str(), 0)) return 0;
  Scene* scene = loadScene("scene.vyl", 50);
  if (scene) {
    cullEveryGroup(scene);
    freeScene(scene);
  }
  packReset();
  return 0;
}
