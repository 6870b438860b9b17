// Mesh objects on the recording device: texture stages per material, passes, blends, two-sided
// groups, culling against the view volume, and the carried-over states.
#include <cstring>

#include "platform/devices.h"
#include "render_fixture.h"

class MeshDrawingTest : public RenderTest {
 protected:
  // The calls a drawn group makes between its culling (the last view read) and its material.
  std::vector<std::string> textureCalls() const {
    auto& calls = recorder->calls;
    size_t material = 0;
    while (material < calls.size() && calls[material] != "SetMaterial") ++material;
    size_t start = material;
    while (start > 0 && calls[start - 1] != "GetTransform VIEW") --start;
    return std::vector<std::string>(calls.begin() + long(start), calls.begin() + long(material));
  }
  std::string name(SceneTexture* texture) { return recorder->objectName(texture->texture); }
};

TEST_F(MeshDrawingTest, MaterialSlotsChooseTheTextureStagesAndTheBlendFactor) {
  SceneTexture *base = built.texture(), *detail = built.texture(), *environment = built.texture();
  struct Case {
    SceneTexture *base, *detail, *environment;
    float environment_blend, detail_blend;
    std::vector<std::string> expected;
  };
  std::string e = "SetTexture 1 " + name(environment), d = "SetTexture 1 " + name(detail);
  std::string b = "SetTexture 0 " + name(base);
  std::string stage1[2] = {"SetTextureStageState 1 COLOROP BLENDFACTORALPHA", "SetTextureStageState 1 TEXCOORDINDEX 1"};
  std::vector<Case> cases = {
      {nullptr, nullptr, nullptr, 0.5f, 0.5f, {}},
      {nullptr, nullptr, environment, 0.0f, 1.0f, {e, stage1[0], stage1[1], "SetRenderState TEXTUREFACTOR 0x00000000"}},
      {base, nullptr, nullptr, 0.5f, 0.5f, {b}},
      {base, nullptr, environment, 0.5f, 1.0f, {b, e, stage1[0], stage1[1], "SetRenderState TEXTUREFACTOR 0x7F7F7F7F"}},
      {nullptr, detail, environment, 0.0f, 1.0f, {d, stage1[0], stage1[1], "SetRenderState TEXTUREFACTOR 0xFFFFFFFF"}},
      {base, detail, nullptr, 1.0f, 0.5f, {b, d, stage1[0], stage1[1], "SetRenderState TEXTUREFACTOR 0x7F7F7F7F"}},
  };
  setCamera(built.finish(), true);
  for (size_t mode = 0; mode < cases.size(); ++mode) {
    SceneBuilder scene_builder;
    SceneMaterial* material = scene_builder.material();
    material->textures[1] = cases[mode].base;
    material->textures[2] = cases[mode].detail;
    material->textures[3] = cases[mode].environment;
    material->environment_blend = cases[mode].environment_blend;
    material->detail_blend = cases[mode].detail_blend;
    scene_builder.square({material});
    recorder->calls.clear();
    drawObject(scene_builder.finish(), 0, false);
    EXPECT_EQ(cases[mode].expected, textureCalls()) << "mode " << mode;
    // Stage 0 is emptied and stage 1 switched off; its texture and coordinate index stay.
    std::vector<std::string> after(recorder->calls.end() - 2, recorder->calls.end());
    EXPECT_EQ((std::vector<std::string>{"SetTexture 0 null", "SetTextureStageState 1 COLOROP DISABLE"}), after);
  }
  EXPECT_EQ(detail->texture, recorder->state.texture[1]);
  EXPECT_EQ(1u, recorder->state.stage[1][D3DTSS_TEXCOORDINDEX]);
  EXPECT_EQ(0x7F7F7F7Fu, recorder->state.render[D3DRENDERSTATE_TEXTUREFACTOR]);
}

TEST_F(MeshDrawingTest, OpacityBelowOneGoesToTheTranslucentPassWithItsBlend) {
  SceneMaterial* additive = built.material(0.999f);
  additive->blend_mode = 1;
  SceneMaterial* odd_mode = built.material(0.5f);
  odd_mode->blend_mode = 2;
  built.square({built.material(1.0f), additive, odd_mode});
  Scene* scene = built.finish();
  setCamera(scene, false);
  recorder->calls.clear();
  drawObject(scene, 0, false);
  auto draws = [&] {
    int count = 0;
    for (auto& call : recorder->calls) count += call.rfind("DrawIndexedPrimitiveVB", 0) == 0;
    return count;
  };
  EXPECT_EQ(1, draws());
  EXPECT_EQ(DWORD(D3DTA_TEXTURE), recorder->state.stage[0][D3DTSS_ALPHAARG1]);
  recorder->calls.clear();
  drawObject(scene, 0, true);
  EXPECT_EQ(2, draws());
  std::vector<std::string> blends;
  for (auto& call : recorder->calls)
    if (call.rfind("SetRenderState DESTBLEND ", 0) == 0) blends.push_back(call);
  EXPECT_EQ((std::vector<std::string>{"SetRenderState DESTBLEND ONE", "SetRenderState DESTBLEND INVSRCALPHA"}), blends);
  EXPECT_EQ(0.5f, recorder->state.material.dcvDiffuse.a);  // the lit alpha is the opacity
}

TEST_F(MeshDrawingTest, TwoSidedTranslucentGroupIsRestoredToCullingAndDepthWrites) {
  SceneMaterial* material = built.material(0.5f);
  material->two_sided = 1;
  material->emissive = 0.25f;
  built.square({material});
  Scene* scene = built.finish();
  setCamera(scene, false);
  recorder->calls.clear();
  drawObject(scene, 0, true);
  std::vector<std::string> expected = {"SetTransform WORLD",
                                       "GetTransform VIEW",
                                       "GetTransform VIEW",
                                       "SetRenderState ALPHABLENDENABLE TRUE",
                                       "SetRenderState ZWRITEENABLE FALSE",
                                       "SetTextureStageState 0 ALPHAOP SELECTARG1",
                                       "SetTextureStageState 0 ALPHAARG1 DIFFUSE",
                                       "SetRenderState DESTBLEND INVSRCALPHA",
                                       "SetRenderState SRCBLEND SRCALPHA",
                                       "SetRenderState CULLMODE NONE",
                                       "SetMaterial",
                                       "DrawIndexedPrimitiveVB TRIANGLELIST buffer#1 0 4 6 0",
                                       "SetTexture 0 null",
                                       "SetRenderState ALPHABLENDENABLE FALSE",
                                       "SetRenderState ZWRITEENABLE TRUE",
                                       "SetRenderState CULLMODE CCW",
                                       "SetTextureStageState 1 COLOROP DISABLE"};
  EXPECT_EQ(expected, recorder->calls);
  const D3DMATERIAL7& m = recorder->state.material;
  EXPECT_EQ(0.5f, m.dcvDiffuse.a);
  EXPECT_EQ(0.5f, m.dcvAmbient.a);
  EXPECT_EQ(0.0f, m.dcvSpecular.a);
  EXPECT_EQ(0.25f, m.dcvEmissive.a);
}

TEST_F(MeshDrawingTest, ObjectOutsideTheViewTouchesNoState) {
  SceneMaterial* material = built.material(0.5f);
  material->textures[1] = built.texture();
  material->two_sided = 1;
  built.square({material}, 0, 20);   // behind the camera
  built.square({material}, 40, 0);   // far off to the right
  built.square({material}, 0, -995);  // beyond the far distance
  Scene* scene = built.finish();
  setCamera(scene, false);
  DeviceState before = recorder->state;
  for (int i = 0; i < 3; ++i) {
    recorder->calls.clear();
    drawObject(scene, i, true);
    EXPECT_EQ((std::vector<std::string>{"SetTransform WORLD", "GetTransform VIEW", "GetTransform VIEW"}),
              recorder->calls);
  }
  EXPECT_EQ(0, std::memcmp(before.render, recorder->state.render, sizeof(before.render)));
  EXPECT_EQ(0, std::memcmp(before.stage, recorder->state.stage, sizeof(before.stage)));
}

TEST_F(MeshDrawingTest, ClipPlanesBoundTheViewInTheObjectsOwnSpace) {
  Transform placed = {{0, -10, 0}, {0, 0, 0, 1}};
  setCamera(built.finish(), false);
  computeClipPlanes(&placed, &built.scene);
  // Points in object space, and the one plane (near, far, bottom, top, right, left) each lies outside.
  struct Probe {
    float point[3];
    int outside;
  } probes[] = {{{0, 0, 0}, -1},  {{0, 9.5f, 0}, 0}, {{0, -991, 0}, 1}, {{0, 0, -5}, 2},
                {{0, 0, 5}, 3},   {{6, 0, 0}, 4},    {{-6, 0, 0}, 5}};
  for (const Probe& probe : probes)
    for (int plane = 0; plane < 6; ++plane) {
      const float* p = clip_planes[plane];
      bool inside = p[0] * probe.point[0] + p[1] * probe.point[1] + p[2] * probe.point[2] + p[3] < 0;
      EXPECT_EQ(plane != probe.outside, inside) << "probe " << probe.point[0] << "," << probe.point[1] << ","
                                                << probe.point[2] << " plane " << plane;
    }
}
