// Procedural meshes: every builder appends to the object's current face group, writing the group's
// vertices in order so that no face refers below the group's first vertex.
#pragma once

#include <functional>

#include "content_model.h"

void beginGroup(ContentObject* object, int32_t material_id);
int32_t addVertex(ContentObject* object, Vec3 position, Vec3 normal, float u, float v);
void addFace(ContentObject* object, int32_t a, int32_t b, int32_t c);
// A face is front when (b - a) x (c - a) points at the viewer; the normal given is shared by all four.
void addQuad(ContentObject* object, Vec3 p0, Vec3 p1, Vec3 p2, Vec3 p3, float u_repeat, float v_repeat);

// A parametric surface over (u, v) in [0, 1]^2 on a grid of nu x nv cells; the front side is the one
// that du x dv points to (or the other one when `flip`). Normals come from the surface itself.
void addSurface(ContentObject* object, int nu, int nv, const std::function<Vec3(float, float)>& surface,
                float u_repeat, float v_repeat, bool flip);
// An axis-aligned box with flat faces (those named in `faces`); the texture spans `texture_scale` units.
enum { kBoxMinusY = 1, kBoxPlusY = 2, kBoxMinusX = 4, kBoxPlusX = 8, kBoxPlusZ = 16, kBoxMinusZ = 32, kBoxAll = 63 };
void addBox(ContentObject* object, Vec3 centre, Vec3 half, float texture_scale, int faces = kBoxAll);
// A tube of radius `radius` around a closed curve.
void addTube(ContentObject* object, int segments, int sides, float radius,
             const std::function<Vec3(float)>& curve, float u_repeat, float v_repeat);

// Puts every group's lowest vertex first in its first face (the culling counts slots from it) and
// checks the vertex budget. False when the object breaks a rule of the format.
bool finishObject(ContentObject* object);

// Deterministic pseudo-random numbers.
struct Random {
  uint32_t state;
};
float randomUnit(Random* random);  // [0, 1)
float randomRange(Random* random, float low, float high);
