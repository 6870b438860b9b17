// The octree's building blocks, shared by the scene reader, the scene tool and the tests.
#pragma once

#include "scene/scene.h"

// Splits stop at this depth (the root is depth 0): faces that never separate, such as faces whose
// corners all coincide, would otherwise be divided without end.
constexpr int kOctreeMaxDepth = 24;

// Tight box around every corner of the node's faces; inverted (+max, -max) when it holds none.
void nodeBounds(OctreeNode* node, const MeshVertex* vertices);
// 1 when all three corners lie within the node's box, faces included; else 0.
int faceInBox(const OctreeNode* node, const Face* face, const MeshVertex* vertices);
// Hands the node's faces down to the first octant that holds each whole, depth first.
void splitOctreeNode(OctreeNode* node, const MeshVertex* vertices, int max_faces_per_node, int depth);
// Against clip_planes: -1 wholly outside one plane, 1 wholly inside all six, 0 crossing.
int classifyNode(const OctreeNode* node);

// What one cullFaceGroup call writes into.
struct CullTarget {
  FaceGroup* group;
  const MeshVertex* vertices;
  int tex_gen_mode;
  RenderVertex* buffer;
  const Matrix* world_view;
};
void emitFace(const CullTarget& target, const Face& face);
void emitSubtree(const CullTarget& target, const OctreeNode* node);
void emitVisible(const CullTarget& target, const OctreeNode* node);

// Releases a tree built by buildOctree (the show never does; failed loads, tools and tests do).
void freeOctree(OctreeNode* node);

struct OctreeStatistics {
  int node_count;
  int leaf_count;
  int depth;          // levels below the root; 0 for a single node
  int largest_node;   // most faces held by one node
};
OctreeStatistics octreeStatistics(const OctreeNode* root);
