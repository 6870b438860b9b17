// Mesh objects: per face group, the view volume in the object's own space, the octree culling into the
// shared vertex buffer, the material's textures, blend and cull states, and one indexed draw.
//
// Every state a group changes is put back after its draw, except what translucent groups leave behind
// for everything drawn later (the overlay included): stage 0 taking alpha from the diffuse colour, the
// blend factors of the last translucent group, and the texture factor, stage-1 texture and stage-1
// coordinate index of the last detail or environment group.
#include <cstring>

#include "render/render_local.h"

static const float kHalfPi = 1.5707964f;
static const float kRadiansPerDegree = 0.017453292f;
// The horizontal half-angle, approximated from the vertical one for the 4:3 picture.
static const float kHorizontalPerVertical = 1.2f;

// The detail texture wins over the environment map when a material has both.
static TexGenMode texGenMode(const SceneMaterial* material) {
  bool base = material->textures[1] != nullptr;
  bool detail = material->textures[2] != nullptr;
  bool environment = material->textures[3] != nullptr;
  if (detail) return base ? kBaseDetail : kDetail;
  if (environment) return base ? kBaseEnvironment : kEnvironment;
  return base ? kBase : kUntextured;
}

static IDirectDrawSurface7* textureOf(const SceneTexture* texture) {
  return texture ? texture->texture : nullptr;
}

// A blend weight as the texture factor: the byte (int)(weight × 255) in alpha, red, green and blue.
static DWORD textureFactor(float weight) {
  double scaled = double(weight) * 255.0;
  if (!(scaled > -2147483648.0 && scaled < 2147483648.0)) return 0;
  DWORD byte = DWORD(int32_t(scaled)) & 0xFF;
  return byte * 0x01010101u;
}

void computeClipPlanes(const Transform* transform, Scene* scene) {
  SceneCamera* camera = currentCamera(scene);
  if (!camera) return;
  // A view or world matrix without an inverse stays as it is (the planes come out wrong, nothing
  // worse): the inversions run in place.
  Matrix view_inverse, world_inverse;
  getDeviceTransform(device, D3DTRANSFORMSTATE_VIEW, &view_inverse);
  matrixInverse(&view_inverse, &view_inverse);
  objectMatrix(&world_inverse, transform);
  matrixInverse(&world_inverse, &world_inverse);

  float half_vertical = camera->field_of_view * kRadiansPerDegree * 0.5f;
  float half_horizontal = kHorizontalPerVertical * half_vertical;
  const float through_origin[4] = {0.0f, 0.0f, 1.0f, 0.0f};
  float planes[6][4];
  Matrix turn;
  float near_point[3] = {0.0f, 0.0f, -camera->near_distance}, near_normal[3] = {0.0f, 0.0f, 1.0f};
  float far_point[3] = {0.0f, 0.0f, -camera->far_distance}, far_normal[3] = {0.0f, 0.0f, -1.0f};
  planeFromPointNormal(planes[0], near_point, near_normal);
  planeFromPointNormal(planes[1], far_point, far_normal);
  planeTransform(planes[2], through_origin, matrixRotationX(&turn, kHalfPi - half_vertical));
  planeTransform(planes[3], through_origin, matrixRotationX(&turn, half_vertical - kHalfPi));
  planeTransform(planes[4], through_origin, matrixRotationY(&turn, kHalfPi - half_horizontal));
  planeTransform(planes[5], through_origin, matrixRotationY(&turn, half_horizontal - kHalfPi));
  // From view space to world space, then into the object's own space where its octree boxes live.
  for (int i = 0; i < 6; ++i) {
    planeTransform(planes[i], planes[i], &view_inverse);
    planeTransform(clip_planes[i], planes[i], &world_inverse);
  }
}

// Culls the group into the shared vertex buffer (its visible faces' vertices) and its index list;
// false when nothing of it is left to draw.
static bool cullIntoBuffer(SceneObject& object, FaceGroup& group, TexGenMode mode, Scene* scene,
                           const Matrix* world_view) {
  group.remap_base = -group.faces[0].a;
  computeClipPlanes(&object.transform, scene);
  emitted_vertex_count = 0;
  std::memset(vertex_remap, 0xFF, size_t(object.vertex_count) * sizeof(vertex_remap[0]));
  // The previous group's vertices need not survive: discarding spares the device a copy.
  void* data = nullptr;
  if (FAILED(object_vertex_buffer->Lock(DDLOCK_DISCARDCONTENTS, &data, nullptr)) || !data) return false;
  cullFaceGroup(&group, object.vertices, mode, static_cast<RenderVertex*>(data), world_view);
  object_vertex_buffer->Unlock();
  return group.index_count > 0;
}

// The base texture goes on stage 0; stage 1 lays the detail or environment texture over it with the
// material's weight as the texture factor.
static void setGroupTextures(const SceneMaterial* material, TexGenMode mode) {
  if (mode == kBase || mode == kBaseEnvironment || mode == kBaseDetail)
    device->SetTexture(0, textureOf(material->textures[1]));
  if (mode == kUntextured || mode == kBase) return;
  bool detail = mode == kDetail || mode == kBaseDetail;
  device->SetTexture(1, textureOf(material->textures[detail ? 2 : 3]));
  device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_BLENDFACTORALPHA);
  device->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
  float weight = detail ? material->detail_blend : material->environment_blend;
  device->SetRenderState(D3DRENDERSTATE_TEXTUREFACTOR, textureFactor(weight));
}

static D3DMATERIAL7 deviceMaterial(const SceneMaterial* material) {
  D3DMATERIAL7 d3d_material = {};
  d3d_material.dcvDiffuse = {material->diffuse[0], material->diffuse[1], material->diffuse[2], material->opacity};
  d3d_material.dcvAmbient = {material->ambient[0], material->ambient[1], material->ambient[2], material->opacity};
  d3d_material.dcvSpecular = {material->specular[0], material->specular[1], material->specular[2], 0.0f};
  d3d_material.dcvEmissive = {material->emissive, material->emissive, material->emissive, material->emissive};
  d3d_material.dvPower = 0.0f;
  return d3d_material;
}

// A translucent surface's alpha is its lit diffuse alpha, which the material's opacity sets. Stage 0's
// alpha source and the blend factors stay set after the group (see the top of this file).
static void beginTranslucency(const SceneMaterial* material) {
  device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
  device->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, FALSE);
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
  device->SetRenderState(D3DRENDERSTATE_DESTBLEND, material->blend_mode == 1 ? D3DBLEND_ONE : D3DBLEND_INVSRCALPHA);
  device->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
}

// One culled group with its textures, blend, cull mode and material; the states it changed go back
// after the draw.
static void drawGroup(const FaceGroup& group, const SceneMaterial* material, TexGenMode mode, bool translucent) {
  setGroupTextures(material, mode);
  D3DMATERIAL7 d3d_material = deviceMaterial(material);
  if (translucent) beginTranslucency(material);
  if (material->two_sided) device->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
  device->SetMaterial(&d3d_material);
  device->DrawIndexedPrimitiveVB(D3DPT_TRIANGLELIST, object_vertex_buffer, 0, DWORD(emitted_vertex_count),
                                 group.index_list, DWORD(group.index_count), 0);
  device->SetTexture(0, nullptr);
  if (translucent) {
    device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, TRUE);
  }
  if (material->two_sided) device->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CCW);
  device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
}

// The remap table and the vertex buffer hold 50000 vertices; a larger object is not drawn rather than
// written past them.
static SceneObject* drawableObject(Scene* scene, int object_index) {
  if (object_index < 0 || object_index >= scene->object_count) return nullptr;
  SceneObject& object = scene->objects[object_index];
  if (object.vertex_count <= 0 || !object.vertices || object.vertex_count > kVertexRemapSize) return nullptr;
  return currentCamera(scene) ? &object : nullptr;
}

// The groups a pass would draw if they were in view; null for those it never draws.
static SceneMaterial* passMaterial(const FaceGroup& group, bool translucent_pass) {
  SceneMaterial* material = group.material;
  if (!material || group.face_count <= 0 || !group.faces) return nullptr;
  return (material->opacity < 1.0f) == translucent_pass ? material : nullptr;
}

void prepareObject(Scene* scene, int object_index, bool translucent_pass) {
  SceneObject* object = drawableObject(scene, object_index);
  if (!object) return;
  // One triangle of the buffer's first vertex stands for the group: a preparing device draws nothing.
  static uint16_t stand_in[3] = {0, 0, 0};
  emitted_vertex_count = 1;
  for (int32_t g = 0; g < object->face_group_count; ++g) {
    FaceGroup group = object->face_groups[g];
    SceneMaterial* material = passMaterial(group, translucent_pass);
    if (!material) continue;
    group.index_list = stand_in;
    group.index_count = 3;
    drawGroup(group, material, texGenMode(material), translucent_pass);
  }
}

void drawObject(Scene* scene, int object_index, bool translucent_pass) {
  SceneObject* drawable = drawableObject(scene, object_index);
  if (!drawable) return;
  SceneObject& object = *drawable;

  Matrix world, view, world_view;
  objectMatrix(&world, &object.transform);
  setDeviceTransform(device, D3DTRANSFORMSTATE_WORLD, &world);
  getDeviceTransform(device, D3DTRANSFORMSTATE_VIEW, &view);
  matrixMultiply(&world_view, &world, &view);

  for (int32_t g = 0; g < object.face_group_count; ++g) {
    FaceGroup& group = object.face_groups[g];
    SceneMaterial* material = passMaterial(group, translucent_pass);
    if (!material) continue;
    TexGenMode mode = texGenMode(material);
    if (cullIntoBuffer(object, group, mode, scene, &world_view)) drawGroup(group, material, mode, translucent_pass);
  }
}
