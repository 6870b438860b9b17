// Vector and quaternion helpers of the content generator, in the renderer's conventions: row vectors,
// the rotation matrix of a quaternion holds the rotated own axes as its rows.
#include <cmath>

#include "content_model.h"

Vec3 vec3(float x, float y, float z) { return Vec3{x, y, z}; }
Vec3 add(Vec3 a, Vec3 b) { return Vec3{a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 sub(Vec3 a, Vec3 b) { return Vec3{a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 scale(Vec3 a, float s) { return Vec3{a.x * s, a.y * s, a.z * s}; }
float dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 cross(Vec3 a, Vec3 b) {
  return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
float length(Vec3 a) { return std::sqrt(dot(a, a)); }
Vec3 normalised(Vec3 a) {
  float l = length(a);
  return l > 1e-12f ? scale(a, 1.0f / l) : Vec3{0, 0, 1};
}
Vec3 lerp(Vec3 a, Vec3 b, float t) { return add(a, scale(sub(b, a), t)); }

Vec3 catmullRom(Vec3 p0, Vec3 p1, Vec3 p2, Vec3 p3, float t) {
  float t2 = t * t, t3 = t2 * t;
  auto blend = [&](float a, float b, float c, float d) {
    return 0.5f * (2 * b + (-a + c) * t + (2 * a - 5 * b + 4 * c - d) * t2 + (-a + 3 * b - 3 * c + d) * t3);
  };
  return Vec3{blend(p0.x, p1.x, p2.x, p3.x), blend(p0.y, p1.y, p2.y, p3.y), blend(p0.z, p1.z, p2.z, p3.z)};
}

Quat quatAxisAngle(Vec3 axis, float radians) {
  Vec3 a = normalised(axis);
  float s = std::sin(radians * 0.5f);
  return Quat{a.x * s, a.y * s, a.z * s, std::cos(radians * 0.5f)};
}

Vec3 rotate(Quat q, Vec3 v) {
  float x = q.x, y = q.y, z = q.z, w = q.w;
  Vec3 r0{1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w)};
  Vec3 r1{2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w)};
  Vec3 r2{2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y)};
  return add(add(scale(r0, v.x), scale(r1, v.y)), scale(r2, v.z));
}

Quat quatFromAxes(Vec3 r0, Vec3 r1, Vec3 r2) {
  float m00 = r0.x, m01 = r0.y, m02 = r0.z;
  float m10 = r1.x, m11 = r1.y, m12 = r1.z;
  float m20 = r2.x, m21 = r2.y, m22 = r2.z;
  float trace = m00 + m11 + m22;
  Quat q;
  if (trace > 0) {
    float s = std::sqrt(1 + trace) * 2;
    q = Quat{(m12 - m21) / s, (m20 - m02) / s, (m01 - m10) / s, 0.25f * s};
  } else if (m00 > m11 && m00 > m22) {
    float s = std::sqrt(1 + m00 - m11 - m22) * 2;
    q = Quat{0.25f * s, (m01 + m10) / s, (m02 + m20) / s, (m12 - m21) / s};
  } else if (m11 > m22) {
    float s = std::sqrt(1 - m00 + m11 - m22) * 2;
    q = Quat{(m01 + m10) / s, 0.25f * s, (m12 + m21) / s, (m20 - m02) / s};
  } else {
    float s = std::sqrt(1 - m00 - m11 + m22) * 2;
    q = Quat{(m02 + m20) / s, (m12 + m21) / s, 0.25f * s, (m01 - m10) / s};
  }
  return q;
}

Quat quatMultiply(Quat a, Quat b) {
  // Rotating by a then by b; with row vectors the matrix product is M(a) . M(b).
  Vec3 r0 = rotate(b, rotate(a, Vec3{1, 0, 0}));
  Vec3 r1 = rotate(b, rotate(a, Vec3{0, 1, 0}));
  Vec3 r2 = rotate(b, rotate(a, Vec3{0, 0, 1}));
  return quatFromAxes(r0, r1, r2);
}

Quat cameraLookAt(Vec3 eye, Vec3 target, float roll) {
  Vec3 forward = normalised(sub(target, eye));
  Vec3 up{0, 0, 1};
  if (std::fabs(dot(forward, up)) > 0.999f) up = Vec3{0, 1, 0};
  Vec3 own_x = normalised(cross(up, forward));
  Vec3 own_y = scale(forward, -1);
  Vec3 own_z = cross(own_x, own_y);
  if (roll != 0) {
    float c = std::cos(roll), s = std::sin(roll);
    Vec3 x = add(scale(own_x, c), scale(own_z, s));
    Vec3 z = sub(scale(own_z, c), scale(own_x, s));
    own_x = x;
    own_z = z;
  }
  return quatFromAxes(own_x, own_y, own_z);
}
