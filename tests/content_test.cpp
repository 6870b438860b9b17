// The show's own content as the generator makes it: every resource the show asks for is in the pack
// and decodes, both scenes load and keep the rules the renderer relies on, the materials use every
// drawing mode and both blends, the tune lasts as long as the show, and two runs give the same bytes.
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <libopenmpt/libopenmpt.h>

#include "content.h"
#include "font.h"
#include "geometry.h"
#include "music.h"
#include "pictures.h"
#include "render_fixture.h"
#include "scene/scene.h"
#include "shell/shell.h"
#include "storage/storage.h"
#include "test_support.h"

namespace {


std::string generator() { return std::string(NARVU_BUILD_DIR) + "/tools/content/narvu-content"; }

// Runs the generator into `folder`/narvu.dat; the pack's bytes, empty on failure.
std::vector<unsigned char> generate(const std::string& folder) {
  ChildResult result = runChild({generator(), folder + "/narvu.dat"}, folder, {}, 120);
  EXPECT_EQ(0, result.exit_code) << result.output;
  return result.exit_code == 0 ? readFile(folder + "/narvu.dat") : std::vector<unsigned char>();
}

// The pack the build made (what the show ships), else one generation shared by this program's tests.
const std::string& packPath() {
  static std::string path;
  if (path.empty()) {
    std::string built = std::string(NARVU_BUILD_DIR) + "/narvu.dat";
    if (!readFile(built).empty()) {
      path = built;
    } else {
      std::string folder = scratchFolder();
      if (!generate(folder).empty()) path = folder + "/narvu.dat";
    }
  }
  return path;
}

// The generator as a command-line tool: asking it for help, or giving it an option it does not know,
// writes no pack (a pack named "--help" was the old answer).
TEST(ContentTool, HelpAndUnknownOptionsPrintTheUsageAndWriteNothing) {
  std::string folder = scratchFolder();
  for (const char* word : {"--help", "-h"}) {
    ChildResult r = runChild({generator(), word}, folder);
    EXPECT_EQ(r.exit_code, 0) << word;
    EXPECT_NE(r.output.find("usage: narvu-content OUT.dat"), std::string::npos) << r.output;
  }
  ChildResult unknown = runChild({generator(), "--frobnicate"}, folder);
  EXPECT_EQ(unknown.exit_code, 2);
  EXPECT_NE(unknown.output.find("narvu-content: unknown option '--frobnicate'"), std::string::npos) << unknown.output;
  std::vector<std::string> written;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().filename() != "child-output.txt") written.push_back(entry.path().filename().string());
  EXPECT_TRUE(written.empty()) << written.front();
}

// The installed show's icon is its start logo brought down to size: the mean colour stays the logo's
// at every size, also at 48, which does not divide the logo's 512; the corners are rounded off through
// alpha. The tool writes each size where an icon theme keeps it, as a PNG of that size.
TEST(ContentTool, TheIconIsTheStartLogoAtEverySizeWithRoundedCorners) {
  RgbImage logo = makeStartLogo();
  double logo_mean[3] = {0, 0, 0};
  for (size_t i = 0; i < logo.rgb.size(); ++i) logo_mean[i % 3] += logo.rgb[i];
  for (int size : {16, 48, 256}) {
    RgbaImage icon = makeIcon(size);
    ASSERT_EQ(icon.width, size);
    ASSERT_EQ(icon.rgba.size(), size_t(size) * size * 4);
    double mean[3] = {0, 0, 0};
    for (size_t i = 0; i < icon.rgba.size(); ++i)
      if (i % 4 < 3) mean[i % 4] += icon.rgba[i];
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(mean[c] / (size * size), logo_mean[c] / (logo.width * logo.height), 0.5) << size << " " << c;
    auto alpha = [&](int x, int y) { return icon.rgba[(size_t(y) * size + x) * 4 + 3]; };
    // A corner pixel is mostly outside (at 16 the rounding's radius is only 2 pixels), and transparent
    // from 48 on.
    for (int corner : {0, size - 1}) {
      for (int value : {int(alpha(corner, corner)), int(alpha(size - 1 - corner, corner))}) {
        EXPECT_LT(value, 128) << size;
        if (size >= 48) {
          EXPECT_EQ(value, 0) << size;
        }
      }
    }
    EXPECT_EQ(alpha(size / 2, 0), 255) << size;  // the edges are straight between the corners
    EXPECT_EQ(alpha(size / 2, size / 2), 255) << size;
  }

  std::string folder = scratchFolder();
  ChildResult r = runChild({generator(), "--icons", folder + "/icons"}, folder, {}, 120);
  ASSERT_EQ(r.exit_code, 0) << r.output;
  for (int size : {16, 32, 48, 64, 128, 256}) {
    std::string name = std::to_string(size) + "x" + std::to_string(size);
    Image png = readPng(folder + "/icons/" + name + "/apps/narvu.png");
    EXPECT_EQ(png.width * 100000 + png.height, size * 100000 + size) << name;
  }
}

TEST(ContentTool, DumpMakesItsFolder) {
  std::string folder = scratchFolder();
  ChildResult r = runChild({generator(), "--dump", "new/deeper"}, folder, {}, 120);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_FALSE(readFile(folder + "/new/deeper/music.xm").empty());
}

// A build with nothing changed has nothing to do for the show: the appended executable is not made
// again (it was, on every build, while a show started from it might be playing). Asked of the build
// tool as a dry run, so nothing is built here.
TEST(ContentTool, AnUpToDateBuildDoesNotAppendThePackAgain) {
  std::string folder = scratchFolder();
  ChildResult r = runChild({"/bin/sh", "-c", "cmake --build " + std::string(NARVU_BUILD_DIR) + " --target narvu -- -n"},
                           folder, {}, 120);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.output.find("narvu-pack append"), std::string::npos) << r.output;
}

int texGenMode(const SceneMaterial* m) {
  bool base = m->textures[1] != nullptr, detail = m->textures[2] != nullptr, environment = m->textures[3] != nullptr;
  if (detail) return base ? 5 : 4;
  if (environment) return base ? 3 : 1;
  return base ? 2 : 0;
}

class Content : public RenderTest {
 protected:
  void SetUp() override {
    RenderTest::SetUp();
    recorder->recording = false;
    packReset();
    ASSERT_FALSE(packPath().empty());
    ASSERT_EQ(1, packMount(packPath().c_str(), 0));
  }
  void TearDown() override {
    packReset();
    RenderTest::TearDown();
  }
};

TEST_F(Content, PackHoldsEveryResourceTheShowAsksForAndEachDecodes) {
  ASSERT_EQ(11, kShowResourceCount);
  for (int k = 0; k < kShowResourceCount; ++k) EXPECT_EQ(1, packExists(kShowResourceNames[k])) << kShowResourceNames[k];
  int entries = 0;
  for (PackEntry* entry = pack_entries; entry; entry = entry->next, ++entries) {
    uint8_t* bytes = packRead(entry->name);
    EXPECT_NE(nullptr, bytes) << entry->name;
    std::free(bytes);
  }
  EXPECT_GE(entries, 11 + 6);
  // Every texture a scene names is in the pack and decodes into a texture.
  for (const char* scene_name : {"mv.vyl", "credanim.vyl"}) {
    Scene* scene = loadScene(scene_name, 50);
    ASSERT_NE(nullptr, scene) << scene_name << ": " << scene_load_error;
    EXPECT_GT(scene->texture_count, 0);
    for (int t = 0; t < scene->texture_count; ++t) {
      EXPECT_EQ(1, packExists(scene->textures[t].file_name)) << scene->textures[t].file_name;
      EXPECT_NE(nullptr, scene->textures[t].texture) << scene->textures[t].file_name;
    }
  }
}

TEST_F(Content, ScenesLoadWithTheirLengthsAndKeepTheDrawingRules) {
  const struct {
    const char* name;
    int frames;
  } kScenes[] = {{"mv.vyl", 1500}, {"credanim.vyl", 750}};
  int faces = 0;
  for (const auto& expected : kScenes) {
    SCOPED_TRACE(expected.name);
    Scene* scene = loadScene(expected.name, 50);
    ASSERT_NE(nullptr, scene) << scene_load_error;
    EXPECT_EQ(expected.frames, scene->frame_count);
    EXPECT_GE(scene->camera_count, 1);
    EXPECT_GE(scene->light_count, 1);
    EXPECT_LE(scene->light_count, 8);
    for (int c = 0; c < scene->controller_count; ++c) {
      EXPECT_NE(nullptr, scene->controllers[c].target);
      EXPECT_GE(scene->controllers[c].key_count, scene->frame_count);
    }
    std::set<int> light_kinds;
    for (int l = 0; l < scene->light_count; ++l) light_kinds.insert(scene->lights[l].kind);
    EXPECT_EQ(3u, light_kinds.size()) << "point, spot and directional lights";
    for (int o = 0; o < scene->object_count; ++o) {
      const SceneObject& object = scene->objects[o];
      SCOPED_TRACE(object.name);
      EXPECT_LE(object.vertex_count, 50000);
      for (int g = 0; g < object.face_group_count; ++g) {
        const FaceGroup& group = object.face_groups[g];
        EXPECT_NE(nullptr, group.material);
        ASSERT_GT(group.face_count, 0);
        int32_t first = group.faces[0].a;
        for (int f = 0; f < group.face_count; ++f) {
          for (int32_t index : {group.faces[f].a, group.faces[f].b, group.faces[f].c}) {
            ASSERT_GE(index, first) << "face " << f << " reaches below the group's first vertex";
            ASSERT_LT(index, object.vertex_count) << "face " << f;
          }
        }
        faces += group.face_count;
      }
    }
  }
  EXPECT_GT(faces, 20000);
}

TEST_F(Content, MaterialsUseEveryDrawingModeAndBothBlends) {
  std::set<int> modes;
  bool alpha = false, additive = false, two_sided = false, big_object = false;
  for (const char* scene_name : {"mv.vyl", "credanim.vyl"}) {
    Scene* scene = loadScene(scene_name, 50);
    ASSERT_NE(nullptr, scene) << scene_load_error;
    for (int o = 0; o < scene->object_count; ++o) {
      // One mesh large enough that its indices use the top of the 16-bit range.
      if (scene->objects[o].vertex_count > 16384) big_object = true;
      for (int g = 0; g < scene->objects[o].face_group_count; ++g) {
        const SceneMaterial* m = scene->objects[o].face_groups[g].material;
        if (!m) continue;
        modes.insert(texGenMode(m));
        if (m->opacity < 1.0f) (m->blend_mode == 1 ? additive : alpha) = true;
        if (m->two_sided) two_sided = true;
      }
    }
  }
  EXPECT_EQ((std::set<int>{0, 1, 2, 3, 4, 5}), modes);
  EXPECT_TRUE(alpha);
  EXPECT_TRUE(additive);
  EXPECT_TRUE(two_sided);
  EXPECT_TRUE(big_object);
}

// Opaque objects are drawn in file order, so the ground of each scene (the largest opaque object)
// comes last among them: the depth test then spares it the pixels nearer objects cover.
TEST_F(Content, TheLargestOpaqueObjectIsDrawnLastAmongTheOpaqueOnes) {
  for (const char* scene_name : {"mv.vyl", "credanim.vyl"}) {
    SCOPED_TRACE(scene_name);
    Scene* scene = loadScene(scene_name, 50);
    ASSERT_NE(nullptr, scene) << scene_load_error;
    int last_opaque = -1, largest = -1;
    float largest_extent = 0;
    for (int o = 0; o < scene->object_count; ++o) {
      const SceneObject& object = scene->objects[o];
      bool opaque = false;
      for (int g = 0; g < object.face_group_count; ++g) {
        const SceneMaterial* m = object.face_groups[g].material;
        if (m && m->opacity >= 1.0f) opaque = true;
      }
      if (!opaque || object.vertex_count == 0) continue;
      last_opaque = o;
      float low[2] = {object.vertices[0].x, object.vertices[0].y}, high[2] = {low[0], low[1]};
      for (int v = 0; v < object.vertex_count; ++v) {
        low[0] = std::min(low[0], object.vertices[v].x);
        low[1] = std::min(low[1], object.vertices[v].y);
        high[0] = std::max(high[0], object.vertices[v].x);
        high[1] = std::max(high[1], object.vertices[v].y);
      }
      float extent = (high[0] - low[0]) * (high[1] - low[1]);
      if (extent > largest_extent) {
        largest_extent = extent;
        largest = o;
      }
    }
    ASSERT_GE(largest, 0);
    EXPECT_EQ(last_opaque, largest) << scene->objects[largest].name << " is drawn before "
                                    << scene->objects[last_opaque].name;
  }
}

// The fades blend over the picture only once a translucent group has set the stage-0 alpha, so both
// scenes draw one from their first frame on (and the first scene from frame 450, where it resumes).
TEST_F(Content, ATranslucentGroupIsDrawnFromTheFirstFrame) {
  for (const auto& start : {std::make_pair("mv.vyl", 0), std::make_pair("mv.vyl", 450),
                            std::make_pair("credanim.vyl", 0)}) {
    Scene* scene = loadScene(start.first, 50);
    ASSERT_NE(nullptr, scene) << scene_load_error;
    recorder->calls.clear();
    recorder->recording = true;
    drawSceneFrame(scene, start.second);
    recorder->recording = false;
    bool translucent = false;
    for (const std::string& call : recorder->calls) {
      if (call == "SetTextureStageState 0 ALPHAOP SELECTARG1") translucent = true;
    }
    EXPECT_TRUE(translucent) << start.first << " frame " << start.second;
  }
}

TEST_F(Content, TheTuneLastsAsLongAsTheShow) {
  int size = packSize("music.xm");
  uint8_t* bytes = packRead("music.xm");
  ASSERT_NE(nullptr, bytes);
  openmpt_module* module =
      openmpt_module_create_from_memory2(bytes, size, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  std::free(bytes);
  ASSERT_NE(nullptr, module);
  double seconds = openmpt_module_get_duration_seconds(module);
  EXPECT_GE(seconds, 105.0);
  EXPECT_LE(seconds, 115.0);
  EXPECT_GE(openmpt_module_get_num_channels(module), 8);
  EXPECT_GE(openmpt_module_get_num_instruments(module), 6);
  // Not silence: some of the first ten seconds is loud.
  std::vector<int16_t> pcm(48000 * 2);
  int16_t peak = 0;
  for (int block = 0; block < 10; ++block) {
    size_t frames = openmpt_module_read_interleaved_stereo(module, 48000, 48000, pcm.data());
    for (size_t i = 0; i < frames * 2; ++i) peak = std::max<int16_t>(peak, static_cast<int16_t>(std::abs(pcm[i])));
  }
  EXPECT_GT(peak, 4000);
  openmpt_module_destroy(module);
}

TEST(ContentGenerator, TwoRunsGiveTheSameBytes) {
  std::string folder = scratchFolder();
  std::string first = folder + "/first", second = folder + "/second";
  ASSERT_EQ(0, mkdir(first.c_str(), 0755));
  ASSERT_EQ(0, mkdir(second.c_str(), 0755));
  std::vector<unsigned char> a = generate(first), b = generate(second);
  ASSERT_FALSE(a.empty());
  EXPECT_TRUE(a == b);
}

TEST(ContentGenerator, RefusesAFaultyTuneWithItsLine) {
  std::string folder = scratchFolder();
  writeFile(folder + "/bad.txt", std::vector<unsigned char>{'b', 'p', 'm', ' ', '1', '2', '5', '\n', 'w', 'a', 't', '\n'});
  ChildResult result = runChild({generator(), folder + "/out.dat", folder + "/bad.txt"}, folder);
  EXPECT_EQ(1, result.exit_code);
  EXPECT_NE(std::string::npos, result.output.find("line 2")) << result.output;
}

// Back faces are culled: a face whose corners turn the wrong way round disappears, so every face of a
// one-sided group must wind towards the side its normals point to.
TEST_F(Content, OneSidedFacesWindTowardsTheirNormals) {
  for (const char* scene_name : {"mv.vyl", "credanim.vyl"}) {
    Scene* scene = loadScene(scene_name, 50);
    ASSERT_NE(nullptr, scene) << scene_load_error;
    for (int o = 0; o < scene->object_count; ++o) {
      const SceneObject& object = scene->objects[o];
      int checked = 0, wrong = 0;
      for (int g = 0; g < object.face_group_count; ++g) {
        const FaceGroup& group = object.face_groups[g];
        if (!group.material || group.material->two_sided) continue;
        for (int f = 0; f < group.face_count; ++f) {
          const MeshVertex& a = object.vertices[group.faces[f].a];
          const MeshVertex& b = object.vertices[group.faces[f].b];
          const MeshVertex& c = object.vertices[group.faces[f].c];
          Vec3 winding = cross(Vec3{b.x - a.x, b.y - a.y, b.z - a.z}, Vec3{c.x - a.x, c.y - a.y, c.z - a.z});
          if (length(winding) < 1e-6f) continue;
          Vec3 normal{a.nx + b.nx + c.nx, a.ny + b.ny + c.ny, a.nz + b.nz + c.nz};
          ++checked;
          if (dot(winding, normal) <= 0) ++wrong;
        }
      }
      EXPECT_LE(wrong, checked / 200) << scene_name << " " << object.name << ": " << wrong << " of " << checked;
      // Solids (everything but the ground sheets) enclose their volume: wound inside out, the
      // signed volume about their centre turns negative and the camera sees their inner walls.
      std::string name = object.name;
      if (checked == 0 || name == "valley" || name == "plaza" || name == "floor") continue;
      Vec3 centre{0, 0, 0};
      for (int v = 0; v < object.vertex_count; ++v) {
        centre = add(centre, Vec3{object.vertices[v].x, object.vertices[v].y, object.vertices[v].z});
      }
      centre = scale(centre, 1.0f / object.vertex_count);
      double volume = 0;
      for (int g = 0; g < object.face_group_count; ++g) {
        const FaceGroup& group = object.face_groups[g];
        for (int f = 0; f < group.face_count; ++f) {
          const MeshVertex& a = object.vertices[group.faces[f].a];
          const MeshVertex& b = object.vertices[group.faces[f].b];
          const MeshVertex& c = object.vertices[group.faces[f].c];
          Vec3 pa = sub(Vec3{a.x, a.y, a.z}, centre), pb = sub(Vec3{b.x, b.y, b.z}, centre);
          Vec3 pc = sub(Vec3{c.x, c.y, c.z}, centre);
          volume += dot(pa, cross(pb, pc));
        }
      }
      EXPECT_GT(volume, 0.0) << scene_name << " " << name << " is inside out";
    }
  }
}

// Quaternions are used as stored: one off unit length scales the view or the mesh. The camera must
// also glide: a jump between two frames is a cut nobody planned.
TEST_F(Content, AnimationKeysAreRotationsAndTheCamerasGlide) {
  for (const char* scene_name : {"mv.vyl", "credanim.vyl"}) {
    Scene* scene = loadScene(scene_name, 50);
    ASSERT_NE(nullptr, scene) << scene_load_error;
    for (int c = 0; c < scene->controller_count; ++c) {
      const Controller& controller = scene->controllers[c];
      bool camera = controller.target == &scene->cameras[0].transform;
      float largest_step = 0;
      for (int k = 0; k < controller.key_count; ++k) {
        const AnimationKey& key = controller.keys[k];
        float norm = key.rotation[0] * key.rotation[0] + key.rotation[1] * key.rotation[1] +
                     key.rotation[2] * key.rotation[2] + key.rotation[3] * key.rotation[3];
        ASSERT_NEAR(1.0f, norm, 1e-3f) << scene_name << " controller " << c << " key " << k;
        if (k > 0) {
          const AnimationKey& before = controller.keys[k - 1];
          Vec3 step{key.position[0] - before.position[0], key.position[1] - before.position[1],
                    key.position[2] - before.position[2]};
          largest_step = std::max(largest_step, length(step));
        }
      }
      if (camera) {
        EXPECT_LT(largest_step, 4.0f) << scene_name;
      }
    }
  }
}

// Scene textures repeat across their meshes: the last column must lead into the first as smoothly as
// any column into the next, or every repeat shows a seam.
TEST(ContentPieces, RepeatingTexturesHaveNoSeams) {
  for (const char* name : {"rock.jpg", "detail.jpg", "metal.jpg", "stone.jpg", "tiles.jpg", "crystal.jpg"}) {
    RgbImage image = makeSceneTexture(name);
    ASSERT_EQ(256, image.width) << name;
    auto difference = [&](int x0, int y0, int x1, int y1) {
      double sum = 0;
      for (int channel = 0; channel < 3; ++channel) {
        sum += std::abs(image.rgb[(y0 * 256 + x0) * 3 + channel] - image.rgb[(y1 * 256 + x1) * 3 + channel]);
      }
      return sum;
    };
    double across_seam = 0, inside = 0;
    for (int k = 0; k < 256; ++k) {
      across_seam += difference(255, k, 0, k) + difference(k, 255, k, 0);
      inside += difference(127, k, 128, k) + difference(k, 127, k, 128);
    }
    EXPECT_LT(across_seam, inside * 2.5 + 256) << name;
  }
}

// The skybox pictures are drawn on the cube the renderer builds: each corner texel of each face must
// show the direction of the corner it is drawn at, or the sky tears along the cube's edges.
TEST_F(Content, SkyboxFacesShowTheDirectionsTheRendererDrawsThemAt) {
  Scene* scene = loadScene("mv.vyl", 50);
  ASSERT_NE(nullptr, scene) << scene_load_error;
  Skybox skybox = {};
  scene->skybox = &skybox;
  drawSkybox(scene);
  scene->skybox = nullptr;
  const float lo = 0.001953125f, hi = 0.998046875f;
  for (int face = 0; face < 6; ++face) {
    for (int corner = 0; corner < 4; ++corner) {
      const uint8_t* vertex = skybox_buffer->bytes.data() + (face * 4 + corner) * 32;
      float position[3], tu, tv;
      std::memcpy(position, vertex, 12);
      std::memcpy(&tu, vertex + 24, 4);
      std::memcpy(&tv, vertex + 28, 4);
      ASSERT_TRUE(tu == lo || tu == hi);
      ASSERT_TRUE(tv == lo || tv == hi);
      Vec3 shown = normalised(skyboxDirection(face, tu == lo ? 0 : 255, tv == lo ? 0 : 255));
      Vec3 drawn = normalised(Vec3{position[0], position[1], position[2]});
      EXPECT_GT(dot(shown, drawn), 0.9999f) << "face " << face << " corner " << corner;
    }
  }
}

// The camera looks along its own -y with its own z up; the orientation the generator gives a camera
// must put the target straight ahead and the world's up above, through the renderer's own matrix.
TEST(ContentPieces, CameraLookAtFacesTheTargetUpright) {
  const Vec3 eyes[] = {{0, 100, 10}, {-330, -310, 150}, {50, -20, 5}};
  const Vec3 targets[] = {{0, 0, 0}, {0, 0, 40}, {-40, 30, 60}};
  for (int k = 0; k < 3; ++k) {
    Quat q = cameraLookAt(eyes[k], targets[k], 0);
    float quaternion[4] = {q.x, q.y, q.z, q.w};
    Matrix m;
    matrixRotationQuaternion(&m, quaternion);
    Vec3 own_y{m.m[1][0], m.m[1][1], m.m[1][2]}, own_z{m.m[2][0], m.m[2][1], m.m[2][2]};
    Vec3 own_x{m.m[0][0], m.m[0][1], m.m[0][2]};
    Vec3 forward = normalised(sub(targets[k], eyes[k]));
    EXPECT_GT(dot(scale(own_y, -1), forward), 0.9999f);
    EXPECT_GT(own_z.z, 0.0f);
    EXPECT_NEAR(0.0f, own_x.z, 1e-5f) << "no roll";
    EXPECT_GT(dot(cross(own_x, own_y), own_z), 0.999f) << "a rotation, not a reflection";
  }
}

TEST(ContentPieces, TuneTextCompilesNotesRepeatsAndTransposition) {
  const char* text =
      "speed 5\nbpm 140\nchannels lead bass\n"
      "instrument lead 40 envelope 0:64 10:0\n"
      "instrument bass 50\n"
      "track t\n  C#5 .*2 off x:20\n"
      "pattern p 8\n  lead lead t\n  bass bass t -12\n"
      "order p p\n";
  Tune tune;
  std::string error;
  ASSERT_TRUE(parseTune(text, &tune, &error)) << error;
  EXPECT_EQ(5, tune.speed);
  EXPECT_EQ(140, tune.bpm);
  ASSERT_EQ(2, tune.channels);
  ASSERT_EQ(1u, tune.patterns.size());
  EXPECT_EQ((std::vector<int>{0, 0}), tune.order);
  const TunePattern& p = tune.patterns[0];
  auto cell = [&](int row, int channel) { return p.cells[row * 2 + channel]; };
  EXPECT_EQ(5 * 12 + 1 + 1, cell(0, 0).note) << "C#5, a sharp, not a comment";
  EXPECT_EQ(1, cell(0, 0).instrument);
  EXPECT_EQ(0, cell(1, 0).note);
  EXPECT_EQ(97, cell(3, 0).note);
  EXPECT_EQ(61, cell(4, 0).note);
  EXPECT_EQ(20, cell(4, 0).volume);
  EXPECT_EQ(cell(0, 0).note, cell(5, 0).note) << "a short track repeats";
  EXPECT_EQ(cell(0, 0).note - 12, cell(0, 1).note);
  EXPECT_EQ(2, cell(0, 1).instrument);
  EXPECT_EQ(97, cell(3, 1).note) << "key off is not transposed";
  ASSERT_EQ(2u, tune.instruments[0].envelope.size());
  EXPECT_FALSE(tune.instruments[1].sample.empty());
  EXPECT_DOUBLE_EQ(16 * 5 * 2.5 / 140, tuneSeconds(tune));

  const char* faults[][2] = {
      {"channels a b\ninstrument lead 40\npattern p 4\n  a lead nothing\n", "line 4"},
      {"channels a b\ninstrument gong 40\n", "line 2"},
      {"channels a b\ninstrument lead 40\ntrack t\n  H-4\n", "line 4"},
      {"channels a b\ninstrument lead 40\ntrack t\n  C-4:70\n", "line 4"},
      {"channels a b\n", "no order"},
  };
  for (const auto& fault : faults) {
    EXPECT_FALSE(parseTune(fault[0], &tune, &error)) << fault[0];
    EXPECT_NE(std::string::npos, error.find(fault[1])) << error;
  }
}

TEST(ContentPieces, ShippedTuneFollowsTheTimeline) {
  std::vector<uint8_t> module;
  std::string error;
  std::vector<unsigned char> text = readFile(NARVU_TUNE_PATH);
  Tune tune;
  ASSERT_TRUE(parseTune(std::string(text.begin(), text.end()), &tune, &error)) << error;
  EXPECT_GE(tune.channels, 8);
  // The credits start at 60 s and the finale at 90 s: section changes fall on those times.
  double seconds = 0;
  std::set<int> boundaries;
  for (int p : tune.order) {
    boundaries.insert(static_cast<int>(seconds * 1000 + 0.5));
    seconds += tune.patterns[p].rows * tune.speed * 2.5 / tune.bpm;
  }
  EXPECT_TRUE(boundaries.count(60000));
  EXPECT_TRUE(boundaries.count(90000));
  EXPECT_NEAR(110.0, tuneSeconds(tune), 2.0);
  for (const TuneInstrument& instrument : tune.instruments) {
    EXPECT_FALSE(instrument.envelope.empty()) << instrument.name;
    if (instrument.loop_length > 0) {
      EXPECT_LE(instrument.loop_start + instrument.loop_length, static_cast<int>(instrument.sample.size()));
    }
  }
}

TEST(ContentPieces, GroupsStartAtTheirLowestVertexWithTheirWindingKept) {
  ContentObject object{1, "o", {0, 0, 0}, {0, 0, 0, 1}, {}, {}};
  for (int k = 0; k < 6; ++k) addVertex(&object, {float(k), 0, 0}, {0, 0, 1}, 0, 0);
  beginGroup(&object, 1);
  addFace(&object, 3, 4, 5);
  addFace(&object, 4, 2, 3);  // holds the group's lowest vertex, not first
  ASSERT_TRUE(finishObject(&object));
  const ContentFace& first = object.groups[0].faces[0];
  EXPECT_EQ(2, first.a);
  EXPECT_EQ(3, first.b) << "rotated, not mirrored";
  EXPECT_EQ(4, first.c);

  ContentObject big{2, "big", {0, 0, 0}, {0, 0, 0, 1}, {}, {}};
  beginGroup(&big, 1);
  for (int k = 0; k < 50001; ++k) addVertex(&big, {0, 0, 0}, {0, 0, 1}, 0, 0);
  EXPECT_FALSE(finishObject(&big));

  ContentObject stray{3, "stray", {0, 0, 0}, {0, 0, 0, 1}, {}, {}};
  beginGroup(&stray, 1);
  addVertex(&stray, {0, 0, 0}, {0, 0, 1}, 0, 0);
  addFace(&stray, 0, 0, 1);
  EXPECT_FALSE(finishObject(&stray));
}

// A character without a glyph would be a gap in the lettering.
TEST(ContentPieces, EveryLetterOfTheCreditsAndLogosHasAGlyph) {
  for (const char* text : {"VOMMIKAS TELJAKKO", "vUUr 2001", "code", "graphics", "music", "THE END"}) {
    for (const char* c = text; *c; ++c) {
      if (*c == ' ') continue;
      int set = 0;
      for (int row = 0; row < kGlyphHeight; ++row)
        for (int column = 0; column < kGlyphWidth; ++column) set += glyphPixel(*c, column, row);
      EXPECT_GE(set, 5) << "'" << *c << "' in " << text;
    }
  }
}

}  // namespace
