// The start-up's last step before the timeline: the device made ready for every frame the timeline can
// draw, so that no frame waits for a shader program or a texture upload.
#include "shell/shell.h"

// Both pictures the timeline fades, whatever the moment.
static void drawEveryOverlay() {
  for (IDirectDrawSurface7* picture : {start_logo_texture, end_logo_texture}) drawOverlay(picture, 255);
}

void prepareDrawing() {
  setDevicePreparing(device, true);
  // The timeline plays the first scene, the second, then the first again with whatever lights the
  // second left enabled.
  for (Scene* scene : {first_scene, second_scene, first_scene}) prepareSceneDrawing(scene, drawEveryOverlay);
  setDevicePreparing(device, false);
}
