// Loading scene files from a pack: records, id links, textures, traces, and the rejection of files
// that would otherwise be read out of bounds.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/test_hooks.h"
#include "platform/devices.h"
#include "jpeg_writer.h"
#include "pack_writer.h"
#include "scene/scene.h"
#include "scene_writer.h"
#include "shell/shell.h"
#include "storage/storage.h"
#include "test_support.h"

namespace {

std::vector<std::pair<std::string, std::string>> traces;
std::vector<std::string> missing_pictures;

void recordTrace(const char* text, const char* caption) { traces.push_back({text, caption}); }

int answerMessageBox(const char* text, const char* caption, UINT) {
  if (std::strcmp(caption, "Picture not found:") == 0) missing_pictures.push_back(text);
  return IDOK;
}

std::vector<uint8_t> picture() {
  std::vector<uint8_t> rgb(8 * 8 * 3, 200);
  return encodeJpeg(rgb.data(), 8, 8, 90);
}

class SceneLoad : public testing::Test {
 protected:
  RecordingDevice recording;
  std::vector<Scene*> loaded;

  void SetUp() override {
    packReset();
    traces.clear();
    missing_pictures.clear();
    recording.recording = false;
    device = &recording;
    setMessageBoxResponder(answerMessageBox);
  }
  void TearDown() override {
    for (Scene* scene : loaded) freeScene(scene);
    debug_trace_hook = nullptr;
    setMessageBoxResponder(nullptr);
    device = nullptr;
    packReset();
  }

  // Mounts a pack holding the file as "scene.vyl" beside the pictures named, and loads it.
  Scene* load(const std::vector<uint8_t>& file, const std::vector<std::string>& pictures = {}) {
    std::vector<PackItem> items = {{"scene.vyl", file}};
    for (const std::string& name : pictures) items.push_back({name, picture()});
    std::string path = scratchFolder() + "/test.dat";
    EXPECT_TRUE(writePack(path, items, PackMethod::stored, nullptr));
    packReset();
    EXPECT_EQ(1, packMount(path.c_str(), 0));
    Scene* scene = loadScene("scene.vyl", 50);
    if (scene) loaded.push_back(scene);
    return scene;
  }
};

ObjectRecord triangleObject(int32_t id, int32_t material_id) {
  ObjectRecord object;
  object.id = id;
  object.name = "triangle";
  object.vertices = {{0, 0, 0, 0.5f, 0.25f, 0, 0, 1}, {1, 0, 0, 1, 0, 0, 0, 1}, {0, 1, 0, 0, 1, 0, 0, 1}};
  object.face_groups = {{material_id, {{0, 1, 2}}}};
  return object;
}

TEST_F(SceneLoad, RecordsArriveAsWrittenWithVNegatedAndTheUnusedFieldsSkipped) {
  SceneDescription description;
  description.frame_count = 3;
  description.ambient[0] = 0.25f;
  ObjectRecord object = triangleObject(10, 7);
  object.name = std::string(31, 'n');
  object.transform.position[1] = 2.0f;
  object.transform.unused[0] = 99.0f;
  object.transform.rotation[0] = 0.5f;
  description.objects.push_back(object);
  ObjectRecord empty;  // no vertices: never drawn, gets neither material nor octree
  empty.id = 11;
  empty.face_groups = {{7, {}}};
  description.objects.push_back(empty);
  CameraRecord camera;
  camera.id = 20;
  camera.field_of_view = 60;
  camera.near_distance = 2;
  camera.far_distance = 500;
  camera.transform.position[2] = -5;
  description.cameras.push_back(camera);
  LightRecord light;
  light.id = 30;
  light.kind = 1;
  light.attenuated = 1;
  light.range = 12;
  light.outer_cone_angle = 50;
  light.colour[2] = 0.5f;
  description.lights.push_back(light);
  MaterialRecord material;
  material.id = 7;
  material.emissive = 0.125f;
  material.two_sided = 1;
  material.environment_blend = 0.25f;
  material.unused_68 = 5;
  material.detail_blend = 0.75f;
  material.opacity = 0.5f;
  material.blend_mode = 1;
  material.specular[2] = 0.3f;
  description.materials.push_back(material);
  description.controllers.push_back({20, {{{1, 2, 3}, {0, 0, 0, 1}}, {{4, 5, 6}, {0, 1, 0, 0}}, {}}});

  std::vector<uint8_t> file = writeScene(description);
  ASSERT_EQ(sceneFileSize(description), file.size());
  // Bytes after a name's terminator never reach the name.
  std::memcpy(&file[40 + 84 + 3 * 32 + 20 + 12], "ab\0garbage", 10);
  Scene* scene = load(file);
  ASSERT_NE(nullptr, scene) << scene_load_error;

  EXPECT_EQ(3, scene->frame_count);
  EXPECT_EQ(0.25f, scene->ambient[0]);
  EXPECT_EQ(0, scene->current_camera);
  EXPECT_EQ(nullptr, scene->skybox);
  const SceneObject& loaded = scene->objects[0];
  EXPECT_EQ(std::string(31, 'n'), loaded.name);
  EXPECT_EQ(2.0f, loaded.transform.position[1]);
  EXPECT_EQ(0.5f, loaded.transform.rotation[0]);
  EXPECT_EQ(1.0f, loaded.transform.rotation[3]);
  EXPECT_EQ(0.5f, loaded.vertices[0].u);
  EXPECT_EQ(-0.25f, loaded.vertices[0].v);
  EXPECT_EQ(1.0f, loaded.vertices[0].nz);
  EXPECT_EQ(&scene->materials[0], loaded.face_groups[0].material);
  ASSERT_NE(nullptr, loaded.face_groups[0].octree);
  EXPECT_EQ(nullptr, loaded.face_groups[0].index_list);
  EXPECT_STREQ("ab", scene->objects[1].name);
  EXPECT_EQ(nullptr, scene->objects[1].face_groups[0].octree);
  EXPECT_EQ(nullptr, scene->objects[1].face_groups[0].material);

  EXPECT_EQ(60.0f, scene->cameras[0].field_of_view);
  EXPECT_EQ(500.0f, scene->cameras[0].far_distance);
  EXPECT_EQ(-5.0f, scene->cameras[0].transform.position[2]);
  EXPECT_EQ(1, scene->lights[0].kind);
  EXPECT_EQ(12.0f, scene->lights[0].range);
  EXPECT_EQ(50.0f, scene->lights[0].outer_cone_angle);
  EXPECT_EQ(0.5f, scene->lights[0].colour[2]);
  const SceneMaterial& m = scene->materials[0];
  EXPECT_EQ(0.125f, m.emissive);
  EXPECT_EQ(0.25f, m.environment_blend);
  EXPECT_EQ(0.75f, m.detail_blend);
  EXPECT_EQ(0.5f, m.opacity);
  EXPECT_EQ(1, m.blend_mode);
  EXPECT_EQ(0.3f, m.specular[2]);
  EXPECT_EQ(nullptr, m.textures[1]);
  ASSERT_EQ(3, scene->controllers[0].key_count);
  EXPECT_EQ(&scene->cameras[0].transform, scene->controllers[0].target);
  EXPECT_EQ(6.0f, scene->controllers[0].keys[1].position[2]);
  EXPECT_EQ(1.0f, scene->controllers[0].keys[1].rotation[1]);
}

TEST_F(SceneLoad, AnEmptySceneKeepsItsFrameCountAndAmbientColour) {
  SceneDescription description;
  description.frame_count = 250;
  description.ambient[2] = 0.75f;
  Scene* scene = load(writeScene(description));
  ASSERT_NE(nullptr, scene);
  EXPECT_EQ(250, scene->frame_count);
  EXPECT_EQ(0.75f, scene->ambient[2]);
  EXPECT_EQ(0, scene->object_count + scene->camera_count + scene->light_count + scene->controller_count);
}

TEST_F(SceneLoad, IdsLinkToTheFirstMatchAmongTheRecordsReadSoFar) {
  SceneDescription description;
  description.objects.push_back(triangleObject(1, 99));  // no material 99: the group is not drawn
  description.cameras.push_back(CameraRecord{});
  description.cameras[0].id = 2;
  LightRecord light;
  light.id = 1;  // shares the object's id
  light.target_id = 4;  // a later light: not read yet
  description.lights.push_back(light);
  light.id = 4;
  light.target_id = 1;  // the object, not the light with the same id
  description.lights.push_back(light);
  light.id = 5;
  light.target_id = 4;  // an earlier light
  description.lights.push_back(light);
  light.id = 6;
  light.target_id = 77;  // nothing
  description.lights.push_back(light);
  description.controllers.push_back({4, {KeyRecord{}}});   // lights are all read by now
  description.controllers.push_back({77, {KeyRecord{}}});  // skipped every frame
  Scene* scene = load(writeScene(description));
  ASSERT_NE(nullptr, scene) << scene_load_error;
  EXPECT_EQ(nullptr, scene->lights[0].target);
  EXPECT_EQ(&scene->objects[0].transform, scene->lights[1].target);
  EXPECT_EQ(&scene->lights[1].transform, scene->lights[2].target);
  EXPECT_EQ(nullptr, scene->lights[3].target);
  EXPECT_EQ(&scene->lights[1].transform, scene->controllers[0].target);
  EXPECT_EQ(nullptr, scene->controllers[1].target);
  EXPECT_EQ(&scene->objects[0].transform, findTransform(scene, 1));
  EXPECT_EQ(&scene->cameras[0].transform, findTransform(scene, 2));
  EXPECT_EQ(nullptr, findTransform(scene, 3));
  EXPECT_EQ(nullptr, scene->objects[0].face_groups[0].material);
  EXPECT_NE(nullptr, scene->objects[0].face_groups[0].octree);
}

TEST_F(SceneLoad, EveryTextureRecordRequestsItsPictureInFileOrderBehindTheTraces) {
  SceneDescription description;
  description.objects.push_back(triangleObject(1, 7));
  description.cameras.push_back(CameraRecord{});
  MaterialRecord material;
  material.id = 7;
  material.texture_ids[1] = 100;
  material.texture_ids[2] = 102;
  material.texture_ids[3] = 555;  // no such texture
  description.materials.push_back(material);
  description.textures = {{100, "wall.jpg"}, {101, "wall.jpg"}, {102, "nowhere.jpg"}};
  debug_trace_hook = recordTrace;
  Scene* scene = load(writeScene(description), {"wall.jpg"});
  ASSERT_NE(nullptr, scene) << scene_load_error;

  const char* step = "DEMO loadScene DEBUG";
  const char* texture = "DEMO loadScene load texture DEBUG";
  std::vector<std::pair<std::string, std::string>> expected = {
      {"scene.vyl", step},   {"objects", step},     {"cameras", step},       {"lights", step},
      {"materials", step},   {"textures", step},    {"wall.jpg", texture},   {"wall.jpg", texture},
      {"nowhere.jpg", texture}, {"controllers", step}, {"materials..", step}, {"objects..", step}};
  std::vector<std::pair<std::string, std::string>> seen;
  for (const auto& trace : traces)
    if (trace.second == step || trace.second == texture) seen.push_back(trace);
  EXPECT_EQ(expected, seen);

  // The same picture named twice is decoded twice into two textures; a missing one leaves 0.
  EXPECT_NE(nullptr, scene->textures[0].texture);
  EXPECT_NE(nullptr, scene->textures[1].texture);
  EXPECT_NE(scene->textures[0].texture, scene->textures[1].texture);
  EXPECT_EQ(nullptr, scene->textures[2].texture);
  EXPECT_EQ(std::vector<std::string>{"nowhere.jpg"}, missing_pictures);
  const SceneMaterial& m = scene->materials[0];
  EXPECT_EQ(&scene->textures[0], m.textures[1]);
  EXPECT_EQ(&scene->textures[2], m.textures[2]);
  EXPECT_EQ(nullptr, m.textures[3]);
  EXPECT_EQ(nullptr, m.textures[0]);
}

// Files the format cannot hold soundly: each is rejected with a reason, none is read out of bounds.
// A damaged resource is not a missing one, and the reason says which.
TEST_F(SceneLoad, ADamagedSceneIsNotReportedAsMissing) {
  SceneDescription sound;
  sound.objects.push_back(triangleObject(1, 7));
  std::vector<uint8_t> pack = makePack({{"scene.vyl", writeScene(sound)}}, PackMethod::stored);
  pack[28 + 5] ^= 0x40;  // inside the first stored block, which follows the 28-byte header
  std::string path = scratchFolder() + "/damaged.dat";
  writeFile(path, pack);
  ASSERT_EQ(1, packMount(path.c_str(), 0));
  EXPECT_EQ(nullptr, loadScene("scene.vyl", 50));
  EXPECT_STREQ(scene_load_error, "the scene resource is damaged (checksum or decoding failed)");
  EXPECT_EQ(nullptr, loadScene("absent.vyl", 50));
  EXPECT_STREQ(scene_load_error, "the scene resource is missing");
}

TEST_F(SceneLoad, UnsoundFilesAreRejectedWithAReason) {
  EXPECT_EQ(nullptr, loadScene("absent.vyl", 50));
  EXPECT_NE(nullptr, scene_load_error);

  SceneDescription sound;
  sound.frame_count = 2;
  sound.objects.push_back(triangleObject(1, 7));
  sound.cameras.push_back(CameraRecord{});
  sound.lights.push_back(LightRecord{});
  sound.materials.push_back(MaterialRecord{});
  sound.textures.push_back({3, "absent.jpg"});
  sound.controllers.push_back({1, {KeyRecord{}, KeyRecord{}}});
  std::vector<uint8_t> whole = writeScene(sound);

  struct Case {
    const char* what;
    std::vector<uint8_t> file;
  };
  std::vector<Case> cases;
  auto patched = [&](size_t offset, int32_t value) {
    std::vector<uint8_t> file = whole;
    std::memcpy(&file[offset], &value, 4);
    return file;
  };
  const size_t object = 40, group = 40 + 84 + 3 * 32, face = group + 8;
  cases.push_back({"negative object count", patched(0, -1)});
  cases.push_back({"negative frame count", patched(20, -5)});
  cases.push_back({"object count beyond the file", patched(0, 0x7FFFFFFF)});
  cases.push_back({"controller count beyond the file", patched(24, 1000)});
  cases.push_back({"negative vertex count", patched(object + 8, -3)});
  cases.push_back({"vertex count beyond the file", patched(object + 8, 1 << 26)});
  cases.push_back({"negative group count", patched(object + 4, -1)});
  cases.push_back({"face count beyond the file", patched(group, 0x10000000)});
  cases.push_back({"face index past the vertices", patched(face + 8, 3)});
  cases.push_back({"negative face index", patched(face + 4, -1)});
  cases.push_back({"face below its group's first vertex", patched(face, 2)});
  cases.push_back({"negative key count", patched(whole.size() - 2 * 28 - 4, -2)});
  for (size_t length = 0; length < whole.size(); length += 7) {
    cases.push_back({"truncated", std::vector<uint8_t>(whole.begin(), whole.begin() + length)});
  }

  SceneDescription huge;
  ObjectRecord big;
  big.vertices.resize(50001);
  big.face_groups = {{0, {{0, 1, 2}}}};
  huge.objects.push_back(big);
  cases.push_back({"more than 50000 vertices", writeScene(huge)});

  for (const Case& bad : cases) {
    EXPECT_EQ(nullptr, load(bad.file)) << bad.what;
    EXPECT_NE(nullptr, scene_load_error) << bad.what;
  }

  // The unpatched file loads; fewer keys than frames, even none, is accepted (the animation holds
  // the last key and skips a track without keys).
  Scene* scene = load(whole);
  ASSERT_NE(nullptr, scene) << scene_load_error;
  SceneDescription short_track = sound;
  short_track.frame_count = 100;
  ASSERT_NE(nullptr, load(writeScene(short_track))) << scene_load_error;
  short_track.controllers[0].keys.clear();
  scene = load(writeScene(short_track));
  ASSERT_NE(nullptr, scene) << scene_load_error;
  EXPECT_EQ(0, scene->controllers[0].key_count);
  // An object of exactly 50000 vertices is within the table.
  huge.objects[0].vertices.resize(50000);
  ASSERT_NE(nullptr, load(writeScene(huge))) << scene_load_error;
}

TEST_F(SceneLoad, TheOctreeOfALoadedGroupHoldsEveryFaceOnce) {
  SceneDescription description;
  ObjectRecord grid;
  const int edge = 20;
  for (int j = 0; j < edge; ++j)
    for (int i = 0; i < edge; ++i) grid.vertices.push_back({float(i), float(j), float((i * j) % 3)});
  FaceGroupRecord group;
  for (int j = 0; j + 1 < edge; ++j)
    for (int i = 0; i + 1 < edge; ++i) group.faces.push_back({j * edge + i, j * edge + i + 1, (j + 1) * edge + i});
  grid.face_groups = {group};
  description.objects.push_back(grid);
  Scene* scene = load(writeScene(description));
  ASSERT_NE(nullptr, scene) << scene_load_error;
  const OctreeNode* root = scene->objects[0].face_groups[0].octree;
  EXPECT_EQ(0.0f, root->box_min[0]);
  EXPECT_EQ(19.0f, root->box_max[1]);
  std::vector<const OctreeNode*> pending = {root};
  int faces = 0;
  while (!pending.empty()) {
    const OctreeNode* node = pending.back();
    pending.pop_back();
    faces += node->face_count;
    for (const OctreeNode* child : node->children)
      if (child) pending.push_back(child);
  }
  EXPECT_EQ(19 * 19, faces);
  EXPECT_GT(octreeStatistics(root).node_count, 1);
}

}  // namespace
