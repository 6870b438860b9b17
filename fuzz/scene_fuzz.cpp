// libFuzzer target: the input is a scene file, served from a pack image as the show serves it, and
// loaded with its textures (none present: every picture is missing) and octrees. A loaded scene is
// also culled once through every face group, so the octrees of whatever the reader accepts are
// walked as well.
// fuzz-link: narvu_shell narvu_storage narvu_tools
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "render/render.h"
#include "scene/scene.h"

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
  useRecordingDevice();
  if (!mountFuzzedEntry("scene.vyl", data, size)) return 0;
  Scene* scene = loadScene("scene.vyl", 50);
  if (scene) {
    cullEveryGroup(scene);
    freeScene(scene);
  }
  packReset();
  return 0;
}
