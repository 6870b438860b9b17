// Lookups by id over a loaded scene: linear, first match in stored order.
#include "scene/scene.h"

Transform* findTransform(Scene* scene, int32_t id) {
  // Objects, cameras and lights share one id space; an id used twice finds the earlier kind.
  for (int32_t i = 0; i < scene->object_count; ++i) {
    if (scene->objects[i].id == id) return &scene->objects[i].transform;
  }
  for (int32_t i = 0; i < scene->camera_count; ++i) {
    if (scene->cameras[i].id == id) return &scene->cameras[i].transform;
  }
  for (int32_t i = 0; i < scene->light_count; ++i) {
    if (scene->lights[i].id == id) return &scene->lights[i].transform;
  }
  return nullptr;
}

SceneTexture* findTexture(Scene* scene, int32_t id) {
  for (int32_t i = 0; i < scene->texture_count; ++i) {
    if (scene->textures[i].id == id) return &scene->textures[i];
  }
  return nullptr;
}

SceneMaterial* findMaterial(Scene* scene, int32_t id) {
  for (int32_t i = 0; i < scene->material_count; ++i) {
    if (scene->materials[i].id == id) return &scene->materials[i];
  }
  return nullptr;
}
