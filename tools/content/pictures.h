// The show's pictures as RGB pixels: scene textures, the six skybox faces and the two logos; and the
// icon made from the start logo.
#pragma once

#include "content_model.h"

// A scene texture by its resource name (one of kSceneTextureNames); empty for an unknown name.
RgbImage makeSceneTexture(const char* name);
// Skybox face 0..5 in the face order and orientation the skybox draws them, all six from one
// function of direction, so the edges meet.
RgbImage makeSkyboxFace(int face);
// The colour of the sky in the world direction (x, y, z), z up; components 0..1.
Vec3 skyColour(Vec3 direction);
// The direction (on the cube of half edge 1) that pixel (x, y) of skybox face 0..5 shows.
Vec3 skyboxDirection(int face, int x, int y);
RgbImage makeStartLogo();
RgbImage makeEndLogo();
// The icon of the installed show, size × size pixels (16 to 512): the start logo averaged down, its
// corners rounded off through alpha. No resource of the pack; the desktop shows it.
RgbaImage makeIcon(int size);
