// The renderer's matrix and vector operations: the cases whose exact results the picture depends on.
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "render/render.h"

static void expectMatrixNear(const Matrix& expected, const Matrix& actual, float tolerance = 1e-6f) {
  for (int row = 0; row < 4; ++row)
    for (int column = 0; column < 4; ++column)
      EXPECT_NEAR(expected.m[row][column], actual.m[row][column], tolerance) << "at " << row << "," << column;
}

TEST(RenderMath, ProjectionForNearOneFarThousandPutsTheNearPlaneAtDepthZero) {
  Matrix p;
  // The camera hands the far distance over negated.
  matrixPerspective(&p, 1.0f, 0.8333333f, 1.0f, -1000.0f);
  EXPECT_FLOAT_EQ(-1000.0f / 1001.0f, p.m[2][2]);
  EXPECT_FLOAT_EQ(-1000.0f / 1001.0f, p.m[3][2]);
  float near_point[4] = {0, 0, -1, 1}, clip[4];
  transformVector4(clip, near_point, &p);
  EXPECT_NEAR(0.0f, clip[2] / clip[3], 1e-6f);
  float far_point[4] = {0, 0, -1000, 1};
  transformVector4(clip, far_point, &p);
  EXPECT_NEAR(999.0f / 1001.0f, clip[2] / clip[3], 1e-5f);
}

TEST(RenderMath, QuaternionIsUsedAsStored) {
  Matrix m, identity;
  matrixIdentity(&identity);
  float zero[4] = {0, 0, 0, 0};
  matrixRotationQuaternion(&m, zero);
  expectMatrixNear(identity, m, 0.0f);

  // A quaternion of length √2 is not corrected: the matrix turns and scales by 2.
  float long_quaternion[4] = {0, 0, 1, 1};
  matrixRotationQuaternion(&m, long_quaternion);
  EXPECT_EQ(-1.0f, m.m[0][0]);
  EXPECT_EQ(2.0f, m.m[0][1]);

  // A quarter turn about z takes x to y (row vectors).
  float s = std::sqrt(0.5f);
  float quarter_z[4] = {0, 0, s, s};
  matrixRotationQuaternion(&m, quarter_z);
  float x_axis[3] = {1, 0, 0}, moved[3];
  transformDirection(moved, x_axis, &m);
  EXPECT_NEAR(0.0f, moved[0], 1e-6f);
  EXPECT_NEAR(1.0f, moved[1], 1e-6f);
}

TEST(RenderMath, ObjectMatrixRotatesThenTranslates) {
  float s = std::sqrt(0.5f);
  Transform t = {{10, 20, 30}, {0, 0, s, s}};
  Matrix w;
  objectMatrix(&w, &t);
  float p[3] = {1, 0, 0}, out[3];
  transformPoint(out, p, &w);
  EXPECT_NEAR(10.0f, out[0], 1e-5f);
  EXPECT_NEAR(21.0f, out[1], 1e-5f);
  EXPECT_NEAR(30.0f, out[2], 1e-5f);
}

TEST(RenderMath, ProductAndTransposeMayWriteOverTheirInputs) {
  Matrix a, b, expected;
  matrixRotationX(&a, 0.3f);
  matrixTranslation(&b, 1, 2, 3);
  matrixMultiply(&expected, &a, &b);
  Matrix left = a;
  matrixMultiply(&left, &left, &b);
  expectMatrixNear(expected, left, 0.0f);
  Matrix right = b;
  matrixMultiply(&right, &a, &right);
  expectMatrixNear(expected, right, 0.0f);

  Matrix t = expected;
  matrixTranspose(&t, &t);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_EQ(expected.m[i][j], t.m[j][i]);
}

TEST(RenderMath, InverseUndoesARigidMatrixAndLeavesTheOutputAloneWhenSingular) {
  float s = std::sqrt(0.5f);
  Transform t = {{3, -4, 5}, {0, s, 0, s}};
  Matrix w, inverse, product, identity;
  objectMatrix(&w, &t);
  ASSERT_EQ(&inverse, matrixInverse(&inverse, &w));
  matrixMultiply(&product, &w, &inverse);
  expectMatrixNear(*matrixIdentity(&identity), product, 1e-5f);

  Matrix in_place = w;
  matrixInverse(&in_place, &in_place);
  expectMatrixNear(inverse, in_place, 0.0f);

  Matrix singular;
  std::memset(&singular, 0, sizeof(singular));
  singular.m[0][0] = 1.0f;
  Matrix output;
  for (int i = 0; i < 16; ++i) (&output.m[0][0])[i] = float(i) + 0.5f;
  Matrix before = output;
  EXPECT_EQ(nullptr, matrixInverse(&output, &singular));
  EXPECT_EQ(0, std::memcmp(&before, &output, sizeof(output)));
  // Tiny but nonzero determinants whose reciprocal overflows fail the same way.
  Matrix tiny;
  matrixIdentity(&tiny);
  for (int i = 0; i < 4; ++i) tiny.m[i][i] = 1e-12f;
  EXPECT_EQ(nullptr, matrixInverse(&output, &tiny));
  EXPECT_EQ(0, std::memcmp(&before, &output, sizeof(output)));
}

TEST(RenderMath, ToleranceRulesOfPointsAndNormalisation) {
  Matrix m;
  matrixIdentity(&m);
  m.m[3][3] = 2.0f;
  float p[3] = {2, 4, 6}, out[3];
  EXPECT_EQ(1.0f, transformPoint(out, p, &m)[0]);
  m.m[3][3] = 1.000005f;  // within the tolerance w counts as 1
  EXPECT_EQ(2.0f, transformPoint(out, p, &m)[0]);

  float near_unit[3] = {1.000004f, 0, 0}, tiny[3] = {1e-6f, 0, 0}, long_vector[3] = {3, 0, 4};
  EXPECT_EQ(1.000004f, normalise3(out, near_unit)[0]);  // copied, not rescaled
  EXPECT_EQ(0.0f, normalise3(out, tiny)[0]);
  EXPECT_FLOAT_EQ(0.8f, normalise3(out, long_vector)[2]);
  float four[4] = {0, -1, 0, 1};
  normalise4(four, four);
  EXPECT_FLOAT_EQ(-std::sqrt(0.5f), four[1]);
}

TEST(RenderMath, PlanesAreBuiltNormalisedAndMovedRigidly) {
  float scaled[4] = {0, 0, 2, 10}, out[4];
  planeNormalise(out, scaled);
  EXPECT_EQ(1.0f, out[2]);
  EXPECT_EQ(5.0f, out[3]);
  float degenerate[4] = {0, 0, 0, 3};
  planeNormalise(out, degenerate);
  EXPECT_EQ(0.0f, out[3]);

  // The plane z = -5 moved by +2 along z becomes z = -3.
  Matrix move;
  matrixTranslation(&move, 0, 0, 2);
  planeTransform(out, scaled, &move);
  EXPECT_FLOAT_EQ(1.0f, out[2]);
  EXPECT_FLOAT_EQ(3.0f, out[3]);
  // A quarter turn about y takes the z normal to x (row vectors: z -> x).
  Matrix turn;
  matrixRotationY(&turn, 1.5707964f);
  float through_origin[4] = {0, 0, 1, 0};
  planeTransform(out, through_origin, &turn);
  EXPECT_NEAR(1.0f, out[0], 1e-6f);
  EXPECT_NEAR(0.0f, out[2], 1e-6f);
  EXPECT_NEAR(0.0f, out[3], 1e-6f);
}
