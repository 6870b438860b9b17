// Animation and rendering: the matrix math, applying the baked animation, drawing a scene frame
// (camera, lights), the skybox and the mesh objects with their materials.
//
// Everything draws on `device` (shell/rendering_objects.h) between its BeginScene and EndScene and
// restores the states it changes, except the states that carry over from a translucent face group (see
// mesh_drawing.cpp). Main thread only; nothing is allocated per frame.
#pragma once

#include "platform/platform.h"
#include "render/math.h"
#include "scene/scene.h"

// The placement of an object: its rotation, then its translation.
Matrix* objectMatrix(Matrix* out, const Transform* transform);
// Copies key `frame` of every controller into its target. Frames past a controller's last key hold
// its last key.
void applyControllers(Scene* scene, int frame);

// One whole frame on the back buffer; returns EndScene's result.
HRESULT drawSceneFrame(Scene* scene, int frame);
// Called last in every frame, with alpha blending on; may be null. The shell sets it to its fade
// overlay when the timeline starts (scene_frame.cpp holds it).
extern void (*overlay_hook)();
void setCamera(Scene* scene, bool eye_at_origin);
void setLights(Scene* scene);
// Start-up, with the device preparing (setDevicePreparing in platform/d3dx.h): makes the device ready
// for everything a frame of `scene` can draw, so that no frame waits for it. Every face group of every
// object is drawn unculled with its material's states, with the skybox and `draw_overlay` (the
// overlay with each picture it can show; null for none), in the states frames carry from earlier
// frames: the lights this scene enables on top of those enabled before, and stage 0's alpha source
// before and after the first translucent group (mesh_drawing.cpp). Called for the scenes in the order
// the timeline plays them, the device's state carried from one to the next; a scene with a translucent
// group is taken to show one while it plays, so the scenes after it are prepared as drawn after it.
void prepareSceneDrawing(Scene* scene, void (*draw_overlay)());

// The six face textures of a scene's backdrop cube (0 where a picture failed to load).
struct Skybox {
  IDirectDrawSurface7* faces[6];
};
void attachSkybox(Scene* scene, int true_colour, const char* face0, const char* face1, const char* face2,
                  const char* face3, const char* face4, const char* face5);
void drawSkybox(Scene* scene);

void drawObject(Scene* scene, int object_index, bool translucent_pass);
// The object's groups of the pass, unculled, with their materials' states, each drawn as one
// triangle of the shared buffer's first vertex (a device that prepares draws none of them).
void prepareObject(Scene* scene, int object_index, bool translucent_pass);
void computeClipPlanes(const Transform* transform, Scene* scene);
