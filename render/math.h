// The renderer's matrix and vector math: 16 single-precision floats row by row (m[row][column]), row
// vectors multiplied on the left, translation in row 3, as Direct3D stores its matrices
// (render/math.cpp). The octree's culling uses it too, so the build gives this header to scene/ on its
// own.
#pragma once

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

void getMatrixColumn(int column, const Matrix* m, float out[4]);
void setMatrixColumn(int column, Matrix* m, const float in[4]);

