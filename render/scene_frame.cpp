// One frame of a scene: its fixed order (depth clear, animation, skybox, camera, lights, opaque then
// translucent objects, overlay), the camera's view and projection, and the lights; and the same order
// gone through at start-up to prepare the device for it.
#include <cmath>

#include "render/render_local.h"

// 1/360 and 2π as the single-precision constants the field of view has always been converted with.
static const float kPerDegreeTurn = 0.0027777778f;
static const float kTwoPi = 6.2831855f;
static const float kRadiansPerDegree = 0.017453292f;
// Vertical over horizontal extent of the 640 × 480 picture's projection (bits 0x3F555555).
static const float kAspect = 0.8333333f;
static const float kAttenuationLinear = 0.4f;  // bits 0x3ECCCCCD

void (*overlay_hook)() = nullptr;

HRESULT drawSceneFrame(Scene* scene, int frame) {
  // The skybox covers every pixel, so only depth needs clearing.
  context->Clear(D3DCLEAR_ZBUFFER);
  device->BeginScene();
  applyControllers(scene, frame);
  drawSkybox(scene);
  setCamera(scene, false);
  setLights(scene);
  for (int32_t i = 0; i < scene->object_count; ++i) drawObject(scene, i, false);
  // Translucent groups go last, in scene order; nothing is sorted by depth.
  for (int32_t i = 0; i < scene->object_count; ++i) drawObject(scene, i, true);
  device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
  if (overlay_hook) overlay_hook();
  device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, FALSE);
  return device->EndScene();
}

// The frame's order without its depth clear, animation and scene bracket: skybox, camera, lights, the
// opaque groups and the overlay, with the translucent groups between two such passes.
void prepareSceneDrawing(Scene* scene, void (*draw_overlay)()) {
  for (bool after_translucent : {false, true}) {
    drawSkybox(scene);
    setCamera(scene, false);
    setLights(scene);
    for (int32_t i = 0; i < scene->object_count; ++i) prepareObject(scene, i, false);
    device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
    if (draw_overlay) draw_overlay();
    device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, FALSE);
    if (!after_translucent)
      for (int32_t i = 0; i < scene->object_count; ++i) prepareObject(scene, i, true);
  }
}

void setCamera(Scene* scene, bool eye_at_origin) {
  SceneCamera* camera = currentCamera(scene);
  if (!camera) return;
  float eye[3] = {0.0f, 0.0f, 0.0f};
  if (!eye_at_origin)
    for (int i = 0; i < 3; ++i) eye[i] = camera->transform.position[i];

  // The view is the inverse of the camera's rigid placement: the transposed rotation after moving the
  // eye to the origin. The camera looks along its own -y with its own z up, so view y and z swap.
  Matrix view;
  matrixRotationQuaternion(&view, camera->transform.rotation);
  matrixTranspose(&view, &view);
  float column_y[4], column_z[4];
  getMatrixColumn(1, &view, column_y);
  getMatrixColumn(2, &view, column_z);
  setMatrixColumn(1, &view, column_z);
  setMatrixColumn(2, &view, column_y);
  for (int column = 0; column < 3; ++column)
    view.m[3][column] =
        -(eye[0] * view.m[0][column] + eye[1] * view.m[1][column] + eye[2] * view.m[2][column]);
  view.m[3][3] = 1.0f;
  setDeviceTransform(device, D3DTRANSFORMSTATE_VIEW, &view);

  // The far distance goes in negated: the projection then keeps everything beyond it (depth tends to
  // far/(near+far)); the clip planes of the mesh drawing remove it instead.
  float field_of_view = camera->field_of_view * kPerDegreeTurn * kTwoPi;
  Matrix projection;
  matrixPerspective(&projection, field_of_view, kAspect, camera->near_distance, -camera->far_distance);
  setDeviceTransform(device, D3DTRANSFORMSTATE_PROJECTION, &projection);
}

// D3DRGB packing: each channel times 255 truncated, without clamping (as the show always packed it).
static DWORD packChannel(float value) {
  double scaled = double(value) * 255.0;
  if (!(scaled > -2147483648.0 && scaled < 2147483648.0)) return 0;
  return DWORD(int32_t(scaled));
}

// Where a light shines: toward its target, or along its own rotated -y axis.
static D3DVECTOR lightDirection(const SceneLight& source) {
  const float* position = source.transform.position;
  float direction[3];
  if (source.target) {
    float toward[3] = {source.target->position[0] - position[0], source.target->position[1] - position[1],
                       source.target->position[2] - position[2]};
    normalise3(direction, toward);
  } else {
    // The rotated -y axis, normalised as a 4-vector with w = 1 (so a unit axis ends up 1/√2 long).
    Matrix rotation;
    matrixRotationQuaternion(&rotation, source.transform.rotation);
    float down[4] = {0.0f, -1.0f, 0.0f, 1.0f}, turned[4];
    transformVector4(turned, down, &rotation);
    normalise4(turned, turned);
    for (int k = 0; k < 3; ++k) direction[k] = turned[k];
  }
  return {direction[0], direction[1], direction[2]};
}

// A scene light as the device's light.
static D3DLIGHT7 deviceLight(const SceneLight& source) {
  D3DLIGHT7 light = {};
  // Kinds other than spot and directional do not occur in scene files; they light as points.
  switch (source.kind) {
    case 1: light.dltType = D3DLIGHT_SPOT; break;
    case 2: light.dltType = D3DLIGHT_DIRECTIONAL; break;
    default: light.dltType = D3DLIGHT_POINT; break;
  }
  light.dcvDiffuse = {source.colour[0] * source.intensity, source.colour[1] * source.intensity,
                      source.colour[2] * source.intensity, 1.0f};
  light.dcvSpecular = light.dcvDiffuse;
  light.dcvAmbient = {0.0f, 0.0f, 0.0f, 0.0f};
  const float* position = source.transform.position;
  light.dvPosition = {position[0], position[1], position[2]};
  light.dvDirection = lightDirection(source);
  light.dvFalloff = 1.0f;
  light.dvTheta = source.inner_cone_angle * kRadiansPerDegree;
  light.dvPhi = source.outer_cone_angle * kRadiansPerDegree;
  if (source.attenuated) {
    light.dvAttenuation0 = 0.0f;
    light.dvAttenuation1 = kAttenuationLinear;
    light.dvAttenuation2 = 0.0f;
    light.dvRange = source.range;
  } else {
    light.dvAttenuation0 = 1.0f;
    light.dvAttenuation1 = 0.0f;
    light.dvAttenuation2 = 0.0f;
    light.dvRange = D3DLIGHT_RANGE_MAX;
  }
  return light;
}

void setLights(Scene* scene) {
  for (int32_t i = 0; i < scene->light_count; ++i) {
    D3DLIGHT7 light = deviceLight(scene->lights[i]);
    device->SetLight(DWORD(i), &light);
    device->LightEnable(DWORD(i), TRUE);
  }
  DWORD ambient = 0xFF000000u | packChannel(scene->ambient[0]) << 16 | packChannel(scene->ambient[1]) << 8 |
                  packChannel(scene->ambient[2]);
  device->SetRenderState(D3DRENDERSTATE_AMBIENT, ambient);
}
