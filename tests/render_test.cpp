// One scene frame on the recording device: its order, the animation, the camera, the lights and the
// skybox.
#include <cmath>
#include <cstring>

#include "platform/test_hooks.h"
#include "platform/devices.h"
#include "render_fixture.h"

TEST_F(RenderTest, FrameRunsInItsFixedOrderWithEveryStateRestored) {
  Skybox skybox;
  for (auto& face : skybox.faces) face = built.texture()->texture;
  SceneMaterial* based = built.material();
  based->textures[1] = built.texture();
  built.square({based});
  built.square({built.material(0.5f)});
  built.lights.push_back({});
  built.scene.ambient[0] = 1.0f;
  built.scene.ambient[1] = 0.5f;
  Scene* scene = built.finish();
  scene->skybox = &skybox;
  overlay_hook = fadeOverlay;
  IDirectDrawSurface7* logo = built.texture()->texture;
  fade_texture = logo;
  platform_settings.virtual_clock = true;
  resetVirtualClock(100000);
  fade_half_length = 75;
  fade_start_ms = 100000 - 3000;  // the peak

  DeviceState before = recorder->state;
  EXPECT_EQ(S_OK, drawSceneFrame(scene, 0));
  platform_settings.virtual_clock = false;

  std::vector<std::string> expected = {"Clear 2",
                                       "BeginScene",
                                       "SetTransform VIEW",
                                       "SetTransform PROJECTION",
                                       "SetTransform WORLD",
                                       "SetRenderState CULLMODE NONE",
                                       "SetRenderState ZENABLE FALSE",
                                       "SetRenderState LIGHTING FALSE"};
  const char* faces[6] = {"texture#1", "texture#3", "texture#4", "texture#5", "texture#6", "texture#7"};
  for (int k = 0; k < 6; ++k) {
    expected.push_back(std::string("SetTexture 0 ") + faces[k]);
    expected.push_back("DrawPrimitiveVB TRIANGLESTRIP buffer#2 " + std::to_string(4 * k) + " 4 0");
    expected.push_back("SetTexture 0 null");
  }
  std::vector<std::string> rest = {
      "SetRenderState CULLMODE CCW", "SetRenderState ZENABLE TRUE", "SetRenderState LIGHTING TRUE", "SetTransform VIEW",
      "SetTransform PROJECTION", "SetLight 0 POINT", "LightEnable 0 TRUE", "SetRenderState AMBIENT 0xFFFF7F00",
      // opaque pass: the first object's group, the second object's translucent group skipped
      "SetTransform WORLD", "GetTransform VIEW", "GetTransform VIEW", "SetTexture 0 texture#8", "SetMaterial",
      "DrawIndexedPrimitiveVB TRIANGLELIST buffer#9 0 4 6 0", "SetTexture 0 null",
      "SetTextureStageState 1 COLOROP DISABLE", "SetTransform WORLD", "GetTransform VIEW",
      // translucent pass
      "SetTransform WORLD", "GetTransform VIEW", "SetTransform WORLD", "GetTransform VIEW", "GetTransform VIEW",
      "SetRenderState ALPHABLENDENABLE TRUE", "SetRenderState ZWRITEENABLE FALSE",
      "SetTextureStageState 0 ALPHAOP SELECTARG1", "SetTextureStageState 0 ALPHAARG1 DIFFUSE",
      "SetRenderState DESTBLEND INVSRCALPHA", "SetRenderState SRCBLEND SRCALPHA", "SetMaterial",
      "DrawIndexedPrimitiveVB TRIANGLELIST buffer#9 0 4 6 0", "SetTexture 0 null",
      "SetRenderState ALPHABLENDENABLE FALSE", "SetRenderState ZWRITEENABLE TRUE",
      "SetTextureStageState 1 COLOROP DISABLE",
      // overlay, inside the blending bracket
      "SetRenderState ALPHABLENDENABLE TRUE", "SetTexture 0 texture#10", "SetRenderState LIGHTING FALSE",
      "SetRenderState ZENABLE FALSE", "SetRenderState DESTBLEND INVSRCALPHA", "SetRenderState SRCBLEND SRCALPHA",
      "DrawPrimitive TRIANGLESTRIP 0x1c4 4 0", "SetRenderState LIGHTING TRUE", "SetRenderState ZENABLE TRUE",
      "SetTexture 0 null", "SetRenderState ALPHABLENDENABLE FALSE", "EndScene"};
  expected.insert(expected.end(), rest.begin(), rest.end());
  EXPECT_EQ(expected, recorder->calls);

  // Only the documented carry-overs differ from the state the frame began with.
  EXPECT_EQ(D3DBLEND_SRCALPHA, recorder->state.render[D3DRENDERSTATE_SRCBLEND]);
  EXPECT_EQ(D3DTA_DIFFUSE, recorder->state.stage[0][D3DTSS_ALPHAARG1]);
  for (DWORD s : {D3DRENDERSTATE_CULLMODE, D3DRENDERSTATE_ZENABLE, D3DRENDERSTATE_ZWRITEENABLE,
                  D3DRENDERSTATE_LIGHTING, D3DRENDERSTATE_ALPHABLENDENABLE})
    EXPECT_EQ(before.render[s], recorder->state.render[s]) << "render state " << s;
  EXPECT_EQ(nullptr, recorder->state.texture[0]);
}

// What the overlay found when the preparation called it.
struct OverlaySeen {
  DWORD blending, alpha_source;
};
std::vector<OverlaySeen> overlays_seen;

TEST_F(RenderTest, PreparationGoesThroughEveryGroupUnculledAroundTheTranslucentPass) {
  SceneMaterial* based = built.material();
  based->textures[1] = built.texture();
  built.square({based});
  built.square({built.material()}, 0, 20);  // behind the camera: culled in every frame
  built.square({built.material(0.5f)});
  built.lights.push_back({});
  Scene* scene = built.finish();
  scene->skybox = &built.skybox;
  overlays_seen.clear();
  recorder->calls.clear();
  prepareSceneDrawing(scene, [] {
    const DeviceState& state = static_cast<ShadowDevice*>(device)->state;
    overlays_seen.push_back({state.render[D3DRENDERSTATE_ALPHABLENDENABLE], state.stage[0][D3DTSS_ALPHAARG1]});
  });

  std::vector<std::string> draws;
  for (const std::string& call : recorder->calls) {
    if (call.rfind("Draw", 0) == 0) draws.push_back(call);
    EXPECT_TRUE(call != "BeginScene" && call != "EndScene" && call.rfind("Clear", 0) != 0) << call;
  }
  std::vector<std::string> expected;
  // Each group as one stand-in triangle of the shared buffer's first vertex.
  std::string group = "DrawIndexedPrimitiveVB TRIANGLELIST " + recorder->objectName(objects_buffer) + " 0 1 3 0";
  for (int pass = 0; pass < 2; ++pass) {
    for (int k = 0; k < 6; ++k)
      expected.push_back("DrawPrimitiveVB TRIANGLESTRIP " + recorder->objectName(skybox_buffer) + " " +
                         std::to_string(4 * k) + " 4 0");
    expected.insert(expected.end(), {group, group});  // both opaque objects
    if (pass == 0) expected.push_back(group);         // the translucent one, between the passes
  }
  EXPECT_EQ(expected, draws);
  // The overlay inside its blending bracket, as a frame before any translucent group and as one after.
  ASSERT_EQ(2u, overlays_seen.size());
  EXPECT_EQ(DWORD(TRUE), overlays_seen[0].blending);
  EXPECT_EQ(DWORD(D3DTA_TEXTURE), overlays_seen[0].alpha_source);
  EXPECT_EQ(DWORD(TRUE), overlays_seen[1].blending);
  EXPECT_EQ(DWORD(D3DTA_DIFFUSE), overlays_seen[1].alpha_source);
}

TEST_F(RenderTest, OverlayBracketIsDrawnEvenWithoutAnOverlay) {
  drawSceneFrame(built.finish(), 0);
  std::vector<std::string> tail(recorder->calls.end() - 3, recorder->calls.end());
  EXPECT_EQ((std::vector<std::string>{"SetRenderState ALPHABLENDENABLE TRUE", "SetRenderState ALPHABLENDENABLE FALSE",
                                      "EndScene"}),
            tail);
}

TEST_F(RenderTest, ControllersCopyTheKeyOfTheFrameAndHoldTheLastOne) {
  SceneObject* object = built.square({});
  built.controller(&object->transform, 20);
  built.controller(&built.cameras[0].transform, 5);
  built.controller(nullptr, 1);  // a target id that matched nothing
  Scene* scene = built.finish();
  object->transform.position[0] = 99.0f;

  applyControllers(scene, 0);
  EXPECT_EQ(0.0f, object->transform.position[0]);
  applyControllers(scene, 13);
  EXPECT_EQ(13.0f, object->transform.position[0]);
  EXPECT_EQ(-10.0f + 10.0f, object->transform.position[1]);  // the key's y, not the stored pose
  EXPECT_EQ(4.0f, built.cameras[0].transform.position[0]);  // past its 5 keys: the last
  applyControllers(scene, -3);
  EXPECT_EQ(0.0f, object->transform.position[0]);

  // The later of two controllers on one target decides.
  built.controller(&object->transform, 20)->keys[7].position[0] = -7.0f;
  applyControllers(built.finish(), 7);
  EXPECT_EQ(-7.0f, object->transform.position[0]);
}

TEST_F(RenderTest, CameraLooksAlongItsOwnMinusYWithZUp) {
  float s = std::sqrt(0.5f);
  SceneCamera& camera = built.cameras[0];
  camera.transform = {{5, 6, 7}, {0, 0, s, s}};  // a quarter turn about z: its -y axis is world +x
  camera.field_of_view = 90.0f;
  Scene* scene = built.finish();
  setCamera(scene, false);
  Matrix view;
  std::memcpy(&view, &recorder->state.view, sizeof(view));
  float ahead[3] = {15, 6, 7}, above[3] = {5, 6, 10}, out[3];
  transformPoint(out, ahead, &view);
  EXPECT_NEAR(0.0f, out[0], 1e-5f);
  EXPECT_NEAR(0.0f, out[1], 1e-5f);
  EXPECT_NEAR(-10.0f, out[2], 1e-5f);
  transformPoint(out, above, &view);
  EXPECT_NEAR(3.0f, out[1], 1e-5f);
  EXPECT_NEAR(1.0f, recorder->state.projection.m[1][1], 1e-6f);
  EXPECT_NEAR(0.8333333f, recorder->state.projection.m[0][0], 1e-6f);

  setCamera(scene, true);
  for (int column = 0; column < 3; ++column) EXPECT_EQ(0.0f, recorder->state.view.m[3][column]);
}

TEST_F(RenderTest, LightsTakeTheirKindColourDirectionAndAttenuation) {
  Transform target = {{3, 4, 0}, {0, 0, 0, 1}};
  SceneLight directional = {};
  directional.kind = 2;
  directional.target = &target;
  directional.colour[0] = 0.5f;
  directional.intensity = 2.0f;
  SceneLight spot = {};
  spot.kind = 1;
  spot.transform.rotation[3] = 1.0f;
  spot.attenuated = 1;
  spot.range = 50.0f;
  SceneLight odd = {};
  odd.kind = 7;
  built.lights = {directional, spot, odd};
  built.scene.ambient[0] = 1.0f;
  built.scene.ambient[1] = 0.5f;
  setLights(built.finish());

  const D3DLIGHT7* lights = recorder->state.light;
  EXPECT_EQ(D3DLIGHT_DIRECTIONAL, lights[0].dltType);
  EXPECT_FLOAT_EQ(0.6f, lights[0].dvDirection.x);
  EXPECT_FLOAT_EQ(0.8f, lights[0].dvDirection.y);
  EXPECT_EQ(1.0f, lights[0].dcvDiffuse.r);
  EXPECT_EQ(D3DLIGHT_SPOT, lights[1].dltType);
  EXPECT_FLOAT_EQ(-std::sqrt(0.5f), lights[1].dvDirection.y);  // -y normalised with w = 1
  EXPECT_EQ(0.4f, lights[1].dvAttenuation1);
  EXPECT_EQ(50.0f, lights[1].dvRange);
  EXPECT_EQ(D3DLIGHT_POINT, lights[2].dltType);
  EXPECT_TRUE(recorder->state.light_enabled[2]);
  EXPECT_EQ(0xFFFF7F00u, recorder->state.render[D3DRENDERSTATE_AMBIENT]);
}

struct SkyboxVertexBytes {
  float x, y, z;
  DWORD reserved, diffuse, specular;
  float tu, tv;
};

TEST_F(RenderTest, SkyboxIsACubeAroundTheEyeAndRestoresCullDepthAndLighting) {
  Skybox skybox = {};
  Scene* scene = built.finish();
  drawSkybox(scene);
  EXPECT_TRUE(recorder->calls.empty());  // no skybox, no device call

  scene->skybox = &skybox;
  built.cameras[0].transform.position[0] = 100.0f;  // moving the camera does not move the cube
  drawSkybox(scene);
  EXPECT_EQ(0.0f, recorder->state.view.m[3][0]);
  EXPECT_EQ(D3DCULL_CCW, recorder->state.render[D3DRENDERSTATE_CULLMODE]);
  EXPECT_EQ(DWORD(TRUE), recorder->state.render[D3DRENDERSTATE_ZENABLE]);
  EXPECT_EQ(DWORD(TRUE), recorder->state.render[D3DRENDERSTATE_LIGHTING]);
  EXPECT_EQ(std::string("SetTexture 0 null"), recorder->calls[6]);  // an absent picture draws untextured

  const SkyboxVertexBytes* v = reinterpret_cast<const SkyboxVertexBytes*>(skybox_buffer->bytes.data());
  EXPECT_EQ(-500.5f, v[0].x);  // face 0, vertex 0: (-S, S, -S), (lo, lo)
  EXPECT_EQ(500.5f, v[0].y);
  EXPECT_EQ(0.001953125f, v[0].tu);
  EXPECT_EQ(500.5f, v[23].x);  // face 5, vertex 3: (S, -S, S), (hi, hi)
  EXPECT_EQ(0.998046875f, v[23].tu);
  // Every face lies in one plane of the cube.
  for (int face = 0; face < 6; ++face) {
    int axis = face % 2 == 0 ? 0 : 1;
    if (face >= 4) axis = 2;
    for (int i = 1; i < 4; ++i) EXPECT_EQ((&v[4 * face].x)[axis], (&v[4 * face + i].x)[axis]) << face;
  }
}
