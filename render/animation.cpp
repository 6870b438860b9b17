// The baked animation: every controller holds one pose per frame, copied whole into its target; and
// the matrix that places an object by its pose.
#include <cstring>

#include "render/render.h"

void applyControllers(Scene* scene, int frame) {
  for (int32_t i = 0; i < scene->controller_count; ++i) {
    Controller& controller = scene->controllers[i];
    if (!controller.target || controller.key_count <= 0 || !controller.keys) continue;
    // A track shorter than the scene holds its last pose instead of reading past its keys; the
    // timeline never asks for a negative frame, but one would show the first pose.
    int key = frame < 0 ? 0 : frame;
    if (key >= controller.key_count) key = controller.key_count - 1;
    const AnimationKey& pose = controller.keys[key];
    std::memcpy(controller.target->position, pose.position, sizeof(pose.position));
    std::memcpy(controller.target->rotation, pose.rotation, sizeof(pose.rotation));
  }
}

Matrix* objectMatrix(Matrix* out, const Transform* transform) {
  Matrix rotation, translation;
  matrixRotationQuaternion(&rotation, transform->rotation);
  matrixTranslation(&translation, transform->position[0], transform->position[1], transform->position[2]);
  return matrixMultiply(out, &rotation, &translation);
}
