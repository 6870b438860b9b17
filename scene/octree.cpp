// The octree over one face group's faces, and the culling that turns the visible part of the group
// into a compact vertex set and a 16-bit index list for one indexed draw.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "render/math.h"
#include "scene/octree_internal.h"
#include "scene/scene.h"

uint16_t vertex_remap[kVertexRemapSize];
int32_t emitted_vertex_count = 0;
float clip_planes[6][4];

static const float kLargestFloat = 3.4028235e38f;
static const uint16_t kNoSlot = 0xFFFF;

static OctreeNode* newNode() {
  OctreeNode* node = static_cast<OctreeNode*>(std::calloc(1, sizeof(OctreeNode)));
  return node;
}

static Face* copyFaces(const Face* faces, size_t count) {
  Face* copy = static_cast<Face*>(std::malloc(count > 0 ? count * sizeof(Face) : 1));
  if (count > 0) std::memcpy(copy, faces, count * sizeof(Face));
  return copy;
}

void nodeBounds(OctreeNode* node, const MeshVertex* vertices) {
  for (int axis = 0; axis < 3; ++axis) {
    node->box_min[axis] = kLargestFloat;
    node->box_max[axis] = -kLargestFloat;
  }
  for (int32_t i = 0; i < node->face_count; ++i) {
    const Face& face = node->faces[i];
    for (int32_t index : {face.a, face.b, face.c}) {
      const MeshVertex& vertex = vertices[index];
      const float position[3] = {vertex.x, vertex.y, vertex.z};
      for (int axis = 0; axis < 3; ++axis) {
        if (position[axis] < node->box_min[axis]) node->box_min[axis] = position[axis];
        if (position[axis] > node->box_max[axis]) node->box_max[axis] = position[axis];
      }
    }
  }
}

int faceInBox(const OctreeNode* node, const Face* face, const MeshVertex* vertices) {
  for (int32_t index : {face->a, face->b, face->c}) {
    const MeshVertex& vertex = vertices[index];
    const float position[3] = {vertex.x, vertex.y, vertex.z};
    for (int axis = 0; axis < 3; ++axis) {
      if (!(node->box_min[axis] <= position[axis] && position[axis] <= node->box_max[axis])) return 0;
    }
  }
  return 1;
}

void splitOctreeNode(OctreeNode* node, const MeshVertex* vertices, int max_faces_per_node, int depth) {
  OctreeNode child_boxes[8];
  float centre[3];
  for (int axis = 0; axis < 3; ++axis) centre[axis] = (node->box_min[axis] + node->box_max[axis]) * 0.5f;
  for (int k = 0; k < 8; ++k) {
    for (int axis = 0; axis < 3; ++axis) {
      bool upper = (k >> axis) & 1;
      child_boxes[k].box_min[axis] = upper ? centre[axis] : node->box_min[axis];
      child_boxes[k].box_max[axis] = upper ? node->box_max[axis] : centre[axis];
    }
  }

  std::vector<Face> child_faces[8];
  std::vector<Face> kept;
  for (int32_t i = 0; i < node->face_count; ++i) {
    const Face& face = node->faces[i];
    int k = 0;
    while (k < 8 && !faceInBox(&child_boxes[k], &face, vertices)) ++k;
    if (k < 8) {
      child_faces[k].push_back(face);
    } else {
      kept.push_back(face);
    }
  }

  std::free(node->faces);
  node->faces = copyFaces(kept.data(), kept.size());
  node->face_count = static_cast<int32_t>(kept.size());

  for (int k = 0; k < 8; ++k) {
    if (child_faces[k].empty()) continue;
    OctreeNode* child = newNode();
    std::memcpy(child->box_min, child_boxes[k].box_min, sizeof child->box_min);
    std::memcpy(child->box_max, child_boxes[k].box_max, sizeof child->box_max);
    child->faces = copyFaces(child_faces[k].data(), child_faces[k].size());
    child->face_count = static_cast<int32_t>(child_faces[k].size());
    node->children[k] = child;
    child_faces[k] = std::vector<Face>();  // the subtree below needs the memory more
    if (child->face_count > max_faces_per_node && depth + 1 < kOctreeMaxDepth) {
      splitOctreeNode(child, vertices, max_faces_per_node, depth + 1);
    }
  }
}

void buildOctree(FaceGroup* group, const MeshVertex* vertices, int max_faces_per_node) {
  OctreeNode* root = newNode();
  root->faces = copyFaces(group->faces, group->face_count > 0 ? group->face_count : 0);
  root->face_count = group->face_count > 0 ? group->face_count : 0;
  nodeBounds(root, vertices);
  if (root->face_count > max_faces_per_node && kOctreeMaxDepth > 0) {
    splitOctreeNode(root, vertices, max_faces_per_node, 0);
  }
  group->octree = root;
}

NodeSide classifyNode(const OctreeNode* node) {
  bool inside_all = true;
  for (int plane = 0; plane < 6; ++plane) {
    const float* p = clip_planes[plane];
    int inside = 0;
    for (int corner = 0; corner < 8; ++corner) {
      float x = (corner & 1) ? node->box_max[0] : node->box_min[0];
      float y = (corner & 2) ? node->box_max[1] : node->box_min[1];
      float z = (corner & 4) ? node->box_max[2] : node->box_min[2];
      if (p[0] * x + p[1] * y + p[2] * z + p[3] < 0.0f) ++inside;
    }
    if (inside == 0) return kNodeOutside;
    if (inside != 8) inside_all = false;
  }
  return inside_all ? kNodeInside : kNodeCrossing;
}

// One mesh vertex as the vertex buffer holds it, with the second coordinate pair its mode asks for.
static void writeRenderVertex(const CullTarget& target, const MeshVertex& source, RenderVertex* out) {
  out->x = source.x;
  out->y = source.y;
  out->z = source.z;
  out->nx = source.nx;
  out->ny = source.ny;
  out->nz = source.nz;
  out->u0 = source.u;
  out->v0 = source.v;
  switch (target.tex_gen_mode) {
    case kDetail:
    case kBaseDetail:
      out->u1 = source.u * 4.0f;
      out->v1 = source.v * 4.0f;
      break;
    case kEnvironment:
    case kBaseEnvironment: {
      const float normal[4] = {source.nx, source.ny, source.nz, 0.0f};
      float view[4];
      transformVector4(view, normal, target.world_view);
      normalise4(view, view);
      out->u1 = 0.5f - 0.5f * view[0];
      out->v1 = 0.5f - 0.5f * view[1];
      break;
    }
    case kUntextured:
    case kBase:
      break;  // no texture stage reads the second pair
  }
}

void emitFace(const CullTarget& target, const Face& face) {
  FaceGroup* group = target.group;
  const int32_t corners[3] = {face.a, face.b, face.c};
  int32_t slots[3];
  int32_t needed = 0;
  // A corner without a table slot, or a group that would overflow the vertex buffer, loses the face
  // rather than writing outside the table or the buffer. Sound scenes never get here.
  for (int i = 0; i < 3; ++i) {
    slots[i] = corners[i] + group->remap_base;
    if (static_cast<uint32_t>(slots[i]) >= static_cast<uint32_t>(kVertexRemapSize)) return;
    if (vertex_remap[slots[i]] == kNoSlot) ++needed;
  }
  if (needed > 0 && emitted_vertex_count + needed > kVertexRemapSize) return;

  for (int i = 0; i < 3; ++i) {
    uint16_t slot = vertex_remap[slots[i]];
    if (slot == kNoSlot) {
      int32_t n = emitted_vertex_count;
      slot = static_cast<uint16_t>(n);
      vertex_remap[slots[i]] = slot;
      writeRenderVertex(target, target.vertices[corners[i]], &target.buffer[n]);
      emitted_vertex_count = n + 1;
    }
    group->index_list[group->index_count++] = slot;
  }
}

void emitSubtree(const CullTarget& target, const OctreeNode* node) {
  for (int32_t i = 0; i < node->face_count; ++i) emitFace(target, node->faces[i]);
  for (int k = 0; k < 8; ++k) {
    if (node->children[k]) emitSubtree(target, node->children[k]);
  }
}

void emitVisible(const CullTarget& target, const OctreeNode* node) {
  // A crossing node's own faces are taken whole: one box test per node, none per face.
  for (int32_t i = 0; i < node->face_count; ++i) emitFace(target, node->faces[i]);
  for (int k = 0; k < 8; ++k) {
    const OctreeNode* child = node->children[k];
    if (!child) continue;
    NodeSide side = classifyNode(child);
    if (side == kNodeInside) {
      emitSubtree(target, child);
    } else if (side == kNodeCrossing) {
      emitVisible(target, child);
    }
  }
}

void cullFaceGroup(FaceGroup* group, const MeshVertex* vertices, TexGenMode tex_gen_mode, RenderVertex* buffer,
                   const Matrix* world_view) {
  if (!group->index_list) {
    size_t entries = group->face_count > 0 ? static_cast<size_t>(group->face_count) * 3 : 1;
    group->index_list = static_cast<uint16_t*>(std::malloc(entries * sizeof(uint16_t)));
  }
  group->index_count = 0;
  if (!group->octree) return;
  CullTarget target = {group, vertices, tex_gen_mode, buffer, world_view};
  NodeSide side = classifyNode(group->octree);
  if (side == kNodeInside) {
    emitSubtree(target, group->octree);
  } else if (side == kNodeCrossing) {
    emitVisible(target, group->octree);
  }
}

void freeOctree(OctreeNode* node) {
  if (!node) return;
  for (OctreeNode* child : node->children) freeOctree(child);
  std::free(node->faces);
  std::free(node);
}

static void gatherStatistics(const OctreeNode* node, int depth, OctreeStatistics* statistics) {
  ++statistics->node_count;
  if (depth > statistics->depth) statistics->depth = depth;
  if (node->face_count > statistics->largest_node) statistics->largest_node = node->face_count;
  bool leaf = true;
  for (const OctreeNode* child : node->children) {
    if (!child) continue;
    leaf = false;
    gatherStatistics(child, depth + 1, statistics);
  }
  if (leaf) ++statistics->leaf_count;
}

OctreeStatistics octreeStatistics(const OctreeNode* root) {
  OctreeStatistics statistics = {0, 0, 0, 0};
  if (root) gatherStatistics(root, 0, &statistics);
  return statistics;
}
