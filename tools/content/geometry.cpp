// Procedural meshes of the content generator.
#include "geometry.h"

#include <cmath>
#include <cstdio>

void beginGroup(ContentObject* object, int32_t material_id) {
  object->groups.push_back(ContentGroup{material_id, {}});
}

int32_t addVertex(ContentObject* object, Vec3 p, Vec3 n, float u, float v) {
  object->vertices.push_back(ContentVertex{p.x, p.y, p.z, u, v, n.x, n.y, n.z});
  return static_cast<int32_t>(object->vertices.size()) - 1;
}

void addFace(ContentObject* object, int32_t a, int32_t b, int32_t c) {
  object->groups.back().faces.push_back(ContentFace{a, b, c});
}

void addQuad(ContentObject* object, Vec3 p0, Vec3 p1, Vec3 p2, Vec3 p3, float u_repeat, float v_repeat) {
  Vec3 n = normalised(cross(sub(p1, p0), sub(p2, p0)));
  int32_t a = addVertex(object, p0, n, 0, v_repeat);
  int32_t b = addVertex(object, p1, n, u_repeat, v_repeat);
  int32_t c = addVertex(object, p2, n, u_repeat, 0);
  int32_t d = addVertex(object, p3, n, 0, 0);
  addFace(object, a, b, c);
  addFace(object, a, c, d);
}

void addSurface(ContentObject* object, int nu, int nv, const std::function<Vec3(float, float)>& surface,
                float u_repeat, float v_repeat, bool flip) {
  int32_t first = static_cast<int32_t>(object->vertices.size());
  const float e = 1e-3f;
  for (int j = 0; j <= nv; ++j) {
    float v = static_cast<float>(j) / nv;
    for (int i = 0; i <= nu; ++i) {
      float u = static_cast<float>(i) / nu;
      Vec3 p = surface(u, v);
      Vec3 du = sub(surface(u + e, v), surface(u - e, v));
      Vec3 dv = sub(surface(u, v + e), surface(u, v - e));
      Vec3 n = cross(du, dv);
      if (length(n) < 1e-9f) {
        // A pole: take the normal a little way off it.
        float vv = v < 0.5f ? v + 2 * e : v - 2 * e;
        du = sub(surface(u + e, vv), surface(u - e, vv));
        dv = sub(surface(u, vv + e), surface(u, vv - e));
        n = cross(du, dv);
      }
      n = normalised(n);
      if (flip) n = scale(n, -1);
      addVertex(object, p, n, u * u_repeat, v * v_repeat);
    }
  }
  int row = nu + 1;
  for (int j = 0; j < nv; ++j) {
    for (int i = 0; i < nu; ++i) {
      int32_t a = first + j * row + i, b = a + 1, c = a + row + 1, d = a + row;
      if (flip) {
        addFace(object, a, c, b);
        addFace(object, a, d, c);
      } else {
        addFace(object, a, b, c);
        addFace(object, a, c, d);
      }
    }
  }
}

void addBox(ContentObject* object, Vec3 c, Vec3 h, float texture_scale, int faces) {
  float t = texture_scale > 0 ? 1.0f / texture_scale : 1.0f;
  Vec3 p[8];
  for (int k = 0; k < 8; ++k) {
    p[k] = Vec3{c.x + ((k & 1) ? h.x : -h.x), c.y + ((k & 2) ? h.y : -h.y), c.z + ((k & 4) ? h.z : -h.z)};
  }
  float sx = 2 * h.x * t, sy = 2 * h.y * t, sz = 2 * h.z * t;
  // Each quad counter-clockwise seen from outside.
  if (faces & kBoxMinusY) addQuad(object, p[0], p[1], p[5], p[4], sx, sz);
  if (faces & kBoxPlusY) addQuad(object, p[3], p[2], p[6], p[7], sx, sz);
  if (faces & kBoxMinusX) addQuad(object, p[2], p[0], p[4], p[6], sy, sz);
  if (faces & kBoxPlusX) addQuad(object, p[1], p[3], p[7], p[5], sy, sz);
  if (faces & kBoxPlusZ) addQuad(object, p[4], p[5], p[7], p[6], sx, sy);
  if (faces & kBoxMinusZ) addQuad(object, p[2], p[3], p[1], p[0], sx, sy);
}

void addTube(ContentObject* object, int segments, int sides, float radius,
             const std::function<Vec3(float)>& curve, float u_repeat, float v_repeat) {
  auto frame = [&](float t, Vec3* centre, Vec3* n, Vec3* b) {
    *centre = curve(t);
    Vec3 tangent = normalised(sub(curve(t + 1e-3f), curve(t - 1e-3f)));
    Vec3 reference = std::fabs(tangent.z) < 0.9f ? Vec3{0, 0, 1} : Vec3{1, 0, 0};
    *n = normalised(cross(tangent, reference));
    *b = cross(tangent, *n);
  };
  addSurface(
      object, segments, sides,
      [&](float u, float v) {
        Vec3 centre, n, b;
        frame(u, &centre, &n, &b);
        float angle = v * 6.2831853f;
        return add(centre, add(scale(n, radius * std::cos(angle)), scale(b, radius * std::sin(angle))));
      },
      u_repeat, v_repeat, true);  // du x dv points into the tube with this frame
}

bool finishObject(ContentObject* object) {
  if (object->vertices.size() > 50000) {
    std::fprintf(stderr, "narvu-content: object %s has %zu vertices\n", object->name.c_str(),
                 object->vertices.size());
    return false;
  }
  for (ContentGroup& group : object->groups) {
    if (group.faces.empty()) continue;
    size_t lowest_face = 0;
    int32_t lowest = group.faces[0].a;
    for (size_t f = 0; f < group.faces.size(); ++f) {
      const ContentFace& face = group.faces[f];
      for (int32_t index : {face.a, face.b, face.c}) {
        if (index < 0 || index >= static_cast<int32_t>(object->vertices.size())) return false;
        if (index < lowest) {
          lowest = index;
          lowest_face = f;
        }
      }
    }
    std::swap(group.faces[0], group.faces[lowest_face]);
    ContentFace& face = group.faces[0];
    // Rotating the corners keeps the winding.
    while (face.a != lowest) face = ContentFace{face.b, face.c, face.a};
  }
  return true;
}

float randomUnit(Random* random) {
  random->state = random->state * 1664525u + 1013904223u;
  return static_cast<float>(random->state >> 8) / 16777216.0f;
}

float randomRange(Random* random, float low, float high) { return low + (high - low) * randomUnit(random); }
