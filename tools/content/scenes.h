// The two scenes of the show and what they share.
#pragma once

#include <functional>

#include "content_model.h"

// "mv.vyl": the flight over the valley to the monument, 1500 frames.
ContentScene buildMainScene();
// "credanim.vyl": the credits in voxel lettering, 750 frames.
ContentScene buildCreditsScene();
// The file bytes of a scene. Empty when the scene breaks a rule of the format (vertex budget, face
// indices, group order).
std::vector<uint8_t> sceneFileBytes(const ContentScene& scene);

// Texture names every scene may use (the generator makes each picture once).
extern const char* const kSceneTextureNames[];
extern const int kSceneTextureCount;

// Shared builders.
ContentMaterial makeMaterial(int32_t id, int32_t base, int32_t detail, int32_t environment, Vec3 diffuse);
ContentController makeController(int32_t target_id, int frame_count,
                                 const std::function<ContentKey(int frame)>& pose);

// A path through keyed points, frame -> point, Catmull-Rom between keys.
struct PathKey {
  int frame;
  Vec3 point;
};
Vec3 pathAt(const std::vector<PathKey>& keys, float frame);
