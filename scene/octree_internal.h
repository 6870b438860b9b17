// Inside scene/ only: the octree's building blocks, shared by the octree and the scene reader.
#pragma once

#include "scene/scene.h"

// Tight box around every corner of the node's faces; inverted (+max, -max) when it holds none.
void nodeBounds(OctreeNode* node, const MeshVertex* vertices);
// 1 when all three corners lie within the node's box, faces included; else 0.
int faceInBox(const OctreeNode* node, const Face* face, const MeshVertex* vertices);
// Hands the node's faces down to the first octant that holds each whole, depth first.
void splitOctreeNode(OctreeNode* node, const MeshVertex* vertices, int max_faces_per_node, int depth);
// Where a node's box lies against the six clip planes.
enum NodeSide { kNodeOutside = -1, kNodeCrossing = 0, kNodeInside = 1 };
// Against clip_planes: outside when wholly outside one plane, inside when wholly inside all six.
NodeSide classifyNode(const OctreeNode* node);

// What one cullFaceGroup call writes into.
struct CullTarget {
  FaceGroup* group;
  const MeshVertex* vertices;
  TexGenMode tex_gen_mode;
  RenderVertex* buffer;
  const Matrix* world_view;
};
void emitFace(const CullTarget& target, const Face& face);
void emitSubtree(const CullTarget& target, const OctreeNode* node);
void emitVisible(const CullTarget& target, const OctreeNode* node);
