// Inside render/ only: what the frame, skybox and mesh drawing share.
#pragma once

#include <cstring>

#include "render/render.h"
#include "shell/rendering_objects.h"

static_assert(sizeof(Matrix) == sizeof(D3DMATRIX), "a Matrix is handed to the device as a D3DMATRIX");

// The scene's current camera, or null when the index names none (a scene the reader let through
// without cameras draws nothing that needs one).
inline SceneCamera* currentCamera(Scene* scene) {
  if (scene->current_camera < 0 || scene->current_camera >= scene->camera_count || !scene->cameras)
    return nullptr;
  return &scene->cameras[scene->current_camera];
}

inline void setDeviceTransform(IDirect3DDevice7* device, D3DTRANSFORMSTATETYPE which, const Matrix* m) {
  D3DMATRIX d3d_matrix;
  std::memcpy(&d3d_matrix, m, sizeof(d3d_matrix));
  device->SetTransform(which, &d3d_matrix);
}

inline Matrix* getDeviceTransform(IDirect3DDevice7* device, D3DTRANSFORMSTATETYPE which, Matrix* out) {
  // A device that refuses the read leaves the identity rather than stack garbage.
  D3DMATRIX d3d_matrix = {};
  for (int i = 0; i < 4; ++i) d3d_matrix.m[i][i] = 1.0f;
  device->GetTransform(which, &d3d_matrix);
  std::memcpy(out, &d3d_matrix, sizeof(*out));
  return out;
}
