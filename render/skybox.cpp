// The backdrop: a cube of six textured faces around the eye, drawn first in every frame without depth
// test or lighting, so everything drawn afterwards lies in front of it.
#include <cstdlib>

#include "render/render_local.h"
#include "texture/texture.h"

// Half a texel inside the border of a 256-texel face, for every face size.
static const float kLo = 0.001953125f;   // 1/512
static const float kHi = 0.998046875f;   // 511/512

// D3DFVF_LVERTEX. The reserved and specular words are never written: with lighting off nothing reads
// them.
struct SkyboxVertex {
  float x, y, z;
  DWORD reserved;
  DWORD diffuse;
  DWORD specular;
  float tu, tv;
};
static_assert(sizeof(SkyboxVertex) == 32, "LVERTEX is 32 bytes");

// Per vertex: the sign of x, y and z (times the half edge) and whether tu, tv sit at the high edge.
// Four vertices per face, each face a triangle strip; faces in the order of the pictures.
struct SkyboxCorner {
  signed char x, y, z;
  bool tu_high, tv_high;
};
static const SkyboxCorner kCorners[24] = {
    {-1, 1, -1, false, false}, {-1, -1, -1, false, true}, {-1, 1, 1, true, false},  {-1, -1, 1, true, true},
    {-1, -1, -1, true, true},  {-1, -1, 1, false, true},  {1, -1, -1, true, false}, {1, -1, 1, false, false},
    {1, 1, 1, false, false},   {1, -1, 1, false, true},   {1, 1, -1, true, false},  {1, -1, -1, true, true},
    {1, 1, -1, false, false},  {1, 1, 1, true, false},    {-1, 1, -1, false, true}, {-1, 1, 1, true, true},
    {1, 1, -1, false, false},  {1, -1, -1, false, true},  {-1, 1, -1, true, false}, {-1, -1, -1, true, true},
    {-1, 1, 1, false, false},  {-1, -1, 1, false, true},  {1, 1, 1, true, false},   {1, -1, 1, true, true},
};

void attachSkybox(Scene* scene, int true_colour, const char* face0, const char* face1, const char* face2,
                  const char* face3, const char* face4, const char* face5) {
  const char* names[6] = {face0, face1, face2, face3, face4, face5};
  Skybox* skybox = static_cast<Skybox*>(std::calloc(1, sizeof(Skybox)));
  if (!skybox) return;  // the scene is then drawn without its backdrop
  for (int k = 0; k < 6; ++k) skybox->faces[k] = loadTexture(names[k], true_colour);
  scene->skybox = skybox;
}

void drawSkybox(Scene* scene) {
  SceneCamera* camera = currentCamera(scene);
  if (!scene->skybox || !camera) return;

  // Rebuilt every frame: the half edge follows the camera's near and far distances.
  void* data = nullptr;
  if (SUCCEEDED(skybox_vertex_buffer->Lock(DDLOCK_DISCARDCONTENTS, &data, nullptr)) && data) {
    float half_edge = (camera->far_distance + camera->near_distance) * 0.5f;
    SkyboxVertex* vertices = static_cast<SkyboxVertex*>(data);
    for (int i = 0; i < 24; ++i) {
      const SkyboxCorner& corner = kCorners[i];
      vertices[i].x = corner.x * half_edge;
      vertices[i].y = corner.y * half_edge;
      vertices[i].z = corner.z * half_edge;
      vertices[i].diffuse = 0xFFFFFFFF;
      vertices[i].tu = corner.tu_high ? kHi : kLo;
      vertices[i].tv = corner.tv_high ? kHi : kLo;
    }
    skybox_vertex_buffer->Unlock();
  }

  // Turned by the camera's rotation but never moved: the eye stays at the cube's centre.
  setCamera(scene, true);
  Matrix identity;
  setDeviceTransform(device, D3DTRANSFORMSTATE_WORLD, matrixIdentity(&identity));
  device->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, FALSE);
  device->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
  for (DWORD k = 0; k < 6; ++k) {
    device->SetTexture(0, scene->skybox->faces[k]);
    device->DrawPrimitiveVB(D3DPT_TRIANGLESTRIP, skybox_vertex_buffer, 4 * k, 4, 0);
    device->SetTexture(0, nullptr);
  }
  device->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CCW);
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, TRUE);
  device->SetRenderState(D3DRENDERSTATE_LIGHTING, TRUE);
}
