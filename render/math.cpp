// The matrix and vector operations of the renderer: single precision, row vectors multiplied on the
// left, translation in row 3. The tolerances and constants are part of the picture (they decide which
// vectors count as unit length and which planes cull), so they are kept exactly.
#include <cmath>
#include <cstring>

#include "platform/matrix_adjugate.h"
#include "render/math.h"

// Squared lengths this close to 1 count as unit length and are left alone.
static const float kUnitTolerance = 0.00001f;
// Squared lengths at or below this are too short to have a direction.
static const float kShortestSquared = 9.9999994e-11f;

Matrix* matrixIdentity(Matrix* out) {
  std::memset(out, 0, sizeof(*out));
  for (int i = 0; i < 4; ++i) out->m[i][i] = 1.0f;
  return out;
}

Matrix* matrixRotationQuaternion(Matrix* out, const float quaternion[4]) {
  float x = quaternion[0], y = quaternion[1], z = quaternion[2], w = quaternion[3];
  Matrix r;
  std::memset(&r, 0, sizeof(r));
  r.m[0][0] = 1.0f - 2.0f * (y * y + z * z);
  r.m[0][1] = 2.0f * (x * y + z * w);
  r.m[0][2] = 2.0f * (x * z - y * w);
  r.m[1][0] = 2.0f * (x * y - z * w);
  r.m[1][1] = 1.0f - 2.0f * (x * x + z * z);
  r.m[1][2] = 2.0f * (y * z + x * w);
  r.m[2][0] = 2.0f * (x * z + y * w);
  r.m[2][1] = 2.0f * (y * z - x * w);
  r.m[2][2] = 1.0f - 2.0f * (x * x + y * y);
  r.m[3][3] = 1.0f;
  *out = r;
  return out;
}

Matrix* matrixTranslation(Matrix* out, float x, float y, float z) {
  matrixIdentity(out);
  out->m[3][0] = x;
  out->m[3][1] = y;
  out->m[3][2] = z;
  return out;
}

// A rotation by `angle` that turns axis `from` toward axis `to` (row vectors): about x from y to z,
// about y from z to x.
static Matrix* rotationInPlane(Matrix* out, float angle, int from, int to) {
  float c = std::cos(angle), s = std::sin(angle);
  matrixIdentity(out);
  out->m[from][from] = c;
  out->m[from][to] = s;
  out->m[to][from] = -s;
  out->m[to][to] = c;
  return out;
}

Matrix* matrixRotationX(Matrix* out, float angle) { return rotationInPlane(out, angle, 1, 2); }

Matrix* matrixRotationY(Matrix* out, float angle) { return rotationInPlane(out, angle, 2, 0); }

Matrix* matrixMultiply(Matrix* out, const Matrix* a, const Matrix* b) {
  Matrix product;
  for (int row = 0; row < 4; ++row)
    for (int column = 0; column < 4; ++column)
      product.m[row][column] = a->m[row][0] * b->m[0][column] + a->m[row][1] * b->m[1][column] +
                               a->m[row][2] * b->m[2][column] + a->m[row][3] * b->m[3][column];
  *out = product;
  return out;
}

Matrix* matrixTranspose(Matrix* out, const Matrix* in) {
  Matrix t;
  for (int row = 0; row < 4; ++row)
    for (int column = 0; column < 4; ++column) t.m[row][column] = in->m[column][row];
  *out = t;
  return out;
}

Matrix* matrixInverse(Matrix* out, const Matrix* in) {
  float c[16];
  float determinant = matrixAdjugate(&in->m[0][0], c);
  float scale = 1.0f / determinant;
  if (!std::isfinite(scale)) return nullptr;
  float* o = &out->m[0][0];
  for (int i = 0; i < 16; ++i) o[i] = c[i] * scale;
  return out;
}

Matrix* matrixPerspective(Matrix* out, float field_of_view, float aspect, float z_near, float z_far) {
  float half = field_of_view * 0.5f;
  float t = std::cos(half) / std::sin(half);
  std::memset(out, 0, sizeof(*out));
  out->m[0][0] = t * aspect;
  out->m[1][1] = t;
  out->m[2][2] = z_far / (z_near - z_far);
  out->m[2][3] = -1.0f;
  out->m[3][2] = z_near * out->m[2][2];
  return out;
}

float* transformVector4(float out[4], const float in[4], const Matrix* m) {
  float r[4];
  for (int column = 0; column < 4; ++column)
    r[column] = in[0] * m->m[0][column] + in[1] * m->m[1][column] + in[2] * m->m[2][column] +
                in[3] * m->m[3][column];
  std::memcpy(out, r, sizeof(r));
  return out;
}

float* transformPoint(float out[3], const float in[3], const Matrix* m) {
  float point[4] = {in[0], in[1], in[2], 1.0f};
  float r[4];
  transformVector4(r, point, m);
  if (std::fabs(r[3] - 1.0f) > kUnitTolerance) {
    r[0] /= r[3];
    r[1] /= r[3];
    r[2] /= r[3];
  }
  std::memcpy(out, r, 3 * sizeof(float));
  return out;
}

float* transformDirection(float out[3], const float in[3], const Matrix* m) {
  float r[3];
  for (int column = 0; column < 3; ++column)
    r[column] = in[0] * m->m[0][column] + in[1] * m->m[1][column] + in[2] * m->m[2][column];
  std::memcpy(out, r, sizeof(r));
  return out;
}

// Scales `count` components of `in` by 1/sqrt(squared), the squared length of the first `length_count`.
static float* normaliseComponents(float* out, const float* in, int count, int length_count) {
  float squared = 0.0f;
  for (int i = 0; i < length_count; ++i) squared += in[i] * in[i];
  if (std::fabs(squared - 1.0f) <= kUnitTolerance) {
    if (out != in) std::memmove(out, in, count * sizeof(float));
  } else if (squared > kShortestSquared) {
    float scale = 1.0f / std::sqrt(squared);
    for (int i = 0; i < count; ++i) out[i] = in[i] * scale;
  } else {
    for (int i = 0; i < count; ++i) out[i] = 0.0f;
  }
  return out;
}

float* normalise3(float out[3], const float in[3]) { return normaliseComponents(out, in, 3, 3); }

float* normalise4(float out[4], const float in[4]) { return normaliseComponents(out, in, 4, 4); }

float* planeFromPointNormal(float out[4], const float point[3], const float normal[3]) {
  float d = -(normal[0] * point[0] + normal[1] * point[1] + normal[2] * point[2]);
  out[0] = normal[0];
  out[1] = normal[1];
  out[2] = normal[2];
  out[3] = d;
  return out;
}

float* planeNormalise(float out[4], const float in[4]) { return normaliseComponents(out, in, 4, 3); }

// Moves the plane as a point on it and its normal; right for the rigid matrices the renderer uses,
// which is why no inverse transpose is needed.
float* planeTransform(float out[4], const float plane[4], const Matrix* m) {
  float p[4];
  planeNormalise(p, plane);
  float point[3] = {-p[3] * p[0], -p[3] * p[1], -p[3] * p[2]};
  float normal[3] = {p[0], p[1], p[2]};
  transformPoint(point, point, m);
  transformDirection(normal, normal, m);
  normalise3(normal, normal);
  return planeFromPointNormal(out, point, normal);
}

void getMatrixColumn(int column, const Matrix* m, float out[4]) {
  for (int row = 0; row < 4; ++row) out[row] = m->m[row][column];
}

void setMatrixColumn(int column, Matrix* m, const float in[4]) {
  for (int row = 0; row < 4; ++row) m->m[row][column] = in[row];
}
