// Animation and rendering: the matrix math, applying the baked animation, drawing a scene frame
// (camera, lights), the skybox and the mesh objects with their materials.
//
// Everything draws on `device` (shell/shell.h) between its BeginScene and EndScene and restores the
// states it changes, except the states that carry over from a translucent face group (see
// mesh_drawing.cpp). Main thread only; nothing is allocated per frame.
#pragma once

#include "platform/platform.h"
#include "scene/scene.h"

// 16 floats, row by row (m[row][column]); row vectors multiplied on the left; translation in row 3.
struct Matrix {
  float m[4][4];
};

// Every operation writes its result into `out` and returns it; `out` may alias an input.
Matrix* matrixIdentity(Matrix* out);
Matrix* matrixRotationQuaternion(Matrix* out, const float quaternion[4]);  // not normalised first
Matrix* matrixTranslation(Matrix* out, float x, float y, float z);
Matrix* matrixRotationX(Matrix* out, float angle);
Matrix* matrixRotationY(Matrix* out, float angle);
Matrix* matrixMultiply(Matrix* out, const Matrix* a, const Matrix* b);  // a then b
Matrix* matrixTranspose(Matrix* out, const Matrix* in);
// Null (and `out` unchanged) when 1/determinant is not finite.
Matrix* matrixInverse(Matrix* out, const Matrix* in);
Matrix* matrixPerspective(Matrix* out, float field_of_view, float aspect, float z_near, float z_far);
float* transformVector4(float out[4], const float in[4], const Matrix* m);
float* transformPoint(float out[3], const float in[3], const Matrix* m);
float* transformDirection(float out[3], const float in[3], const Matrix* m);
float* normalise3(float out[3], const float in[3]);
float* normalise4(float out[4], const float in[4]);
float* planeFromPointNormal(float out[4], const float point[3], const float normal[3]);
float* planeNormalise(float out[4], const float in[4]);
float* planeTransform(float out[4], const float plane[4], const Matrix* m);

Matrix* objectMatrix(Matrix* out, const Transform* transform);
void getMatrixColumn(int column, const Matrix* m, float out[4]);
void setMatrixColumn(int column, Matrix* m, const float in[4]);

// Copies key `frame` of every controller into its target. Frames past a controller's last key hold
// its last key.
void applyControllers(Scene* scene, int frame);

// One whole frame on the back buffer; returns EndScene's result.
HRESULT drawSceneFrame(Scene* scene, int frame);
void setCamera(Scene* scene, bool eye_at_origin);
void setLights(Scene* scene);

// The six face textures of a scene's backdrop cube (0 where a picture failed to load).
struct Skybox {
  IDirectDrawSurface7* faces[6];
};
void attachSkybox(Scene* scene, int true_colour, const char* face0, const char* face1, const char* face2,
                  const char* face3, const char* face4, const char* face5);
void drawSkybox(Scene* scene);

void drawObject(Scene* scene, int object_index, bool translucent_pass);
void computeClipPlanes(const Transform* transform, Scene* scene);
