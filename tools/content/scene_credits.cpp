// "credanim.vyl": the credits. Voxel lettering of our own font flies in and out in front of a
// reflecting floor and turning chrome rings: the title, then "code", "graphics" and "music".
#include <cmath>
#include <cstring>

#include "font.h"
#include "geometry.h"
#include "noise.h"
#include "scenes.h"

namespace {

const int kFrames = 750;
const float kPi = 3.14159265f;

enum { kRock = 1, kDetail, kMetal, kEnvironment, kStone, kGlow, kTiles, kBeam, kCrystal };
enum { kFloorMaterial = 1, kTitleMaterial, kCodeMaterial, kGraphicsMaterial, kMusicMaterial, kRingMaterial,
       kMoteMaterial, kHaloMaterial, kPillarMaterial };
enum { kFloor = 1, kTitleTop, kTitleBottom, kCode, kGraphics, kMusic, kRingA, kRingB, kMotes, kHalo, kPillars,
       kFocus, kCamera = 100, kSweep = 200, kSpot, kFill, kKey };

// Voxel lettering in the plane y = 0 facing +y (towards the camera), centred on the origin; inner
// faces between neighbouring voxels are left out.
void addVoxelText(ContentObject* o, const char* text, float pixel, float depth) {
  int columns = static_cast<int>(std::strlen(text)) * kGlyphAdvance - 1;
  auto set = [&](int column, int row) {
    if (column < 0 || row < 0 || row >= kGlyphHeight) return false;
    int glyph = column / kGlyphAdvance, inner = column % kGlyphAdvance;
    if (glyph >= static_cast<int>(std::strlen(text))) return false;
    return glyphPixel(text[glyph], inner, row);
  };
  for (int row = 0; row < kGlyphHeight; ++row) {
    for (int column = 0; column < columns; ++column) {
      if (!set(column, row)) continue;
      int faces = kBoxMinusY | kBoxPlusY;
      if (!set(column - 1, row)) faces |= kBoxMinusX;
      if (!set(column + 1, row)) faces |= kBoxPlusX;
      if (!set(column, row - 1)) faces |= kBoxPlusZ;
      if (!set(column, row + 1)) faces |= kBoxMinusZ;
      Vec3 centre{(column + 0.5f - columns * 0.5f) * pixel, 0, (kGlyphHeight * 0.5f - row - 0.5f) * pixel};
      addBox(o, centre, Vec3{pixel * 0.5f, depth * 0.5f, pixel * 0.5f}, pixel * 4, faces);
    }
  }
}

ContentObject makeWord(int32_t id, int32_t material, const char* text, float pixel) {
  ContentObject o{id, text, {0, 0, -600}, {0, 0, 0, 1}, {}, {}};
  beginGroup(&o, material);
  addVoxelText(&o, text, pixel, pixel * 1.6f);
  return o;
}

ContentObject makeFloor() {
  ContentObject o{kFloor, "floor", {0, 0, -16}, {0, 0, 0, 1}, {}, {}};
  beginGroup(&o, kFloorMaterial);
  addSurface(
      &o, 40, 40, [](float u, float v) { return Vec3{-400 + 800 * u, -400 + 800 * v, 0}; }, 20, 20, false);
  return o;
}

// The rings are some 230 units from the camera: a tube a few pixels thick at 640 x 480 and about
// 20 at 1920 x 1080, where 10 sides stay round within a pixel; 96 segments keep the outline of a
// ring that spans the screen smooth to a third of a pixel.
ContentObject makeTorus(int32_t id, float radius, float thickness) {
  ContentObject o{id, "ring", {0, -115, 10}, {0, 0, 0, 1}, {}, {}};
  beginGroup(&o, kRingMaterial);
  addSurface(
      &o, 96, 10,
      [&](float u, float v) {
        float a = u * 2 * kPi, b = v * 2 * kPi;
        float r = radius + thickness * std::cos(b);
        return Vec3{r * std::cos(a), r * std::sin(a), thickness * std::sin(b)};
      },
      12, 1, false);
  return o;
}

ContentObject makeMotes() {
  ContentObject o{kMotes, "sparks", {0, 0, 0}, {0, 0, 0, 1}, {}, {}};
  beginGroup(&o, kMoteMaterial);
  Random random{99};
  for (int k = 0; k < 900; ++k) {
    Vec3 c{randomRange(&random, -220, 220), randomRange(&random, -200, 80), randomRange(&random, -12, 110)};
    float s = randomRange(&random, 0.6f, 1.8f);
    addQuad(&o, add(c, Vec3{-s, 0, -s}), add(c, Vec3{s, 0, -s}), add(c, Vec3{s, 0, s}), add(c, Vec3{-s, 0, s}), 1, 1);
    addQuad(&o, add(c, Vec3{0, -s, -s}), add(c, Vec3{0, s, -s}), add(c, Vec3{0, s, s}), add(c, Vec3{0, -s, s}), 1, 1);
  }
  return o;
}

ContentObject makeHalo() {
  ContentObject o{kHalo, "halo", {0, -150, 20}, {0, 0, 0, 1}, {}, {}};
  beginGroup(&o, kHaloMaterial);
  const float r = 150;
  addQuad(&o, Vec3{-r, 0, -r}, Vec3{r, 0, -r}, Vec3{r, 0, r}, Vec3{-r, 0, r}, 1, 1);
  return o;
}

ContentObject makePillars() {
  ContentObject o{kPillars, "pillars", {0, 0, 0}, {0, 0, 0, 1}, {}, {}};
  beginGroup(&o, kPillarMaterial);
  for (int k = 0; k < 14; ++k) {
    float x = -195 + k * 30;
    float y = -120 - 25 * std::cos(k * 0.7f);
    float h = 70 + 30 * std::sin(k * 1.3f) * std::sin(k * 1.3f);
    addSurface(
        &o, 16, 6,
        [&](float u, float v) {
          float a = u * 2 * kPi;
          return Vec3{x + 4.5f * std::cos(a), y + 4.5f * std::sin(a), -16 + h * v};
        },
        2, 4, false);
    addBox(&o, Vec3{x, y, -16 + h + 1.5f}, Vec3{6.5f, 6.5f, 1.5f}, 6);
  }
  return o;
}

float ease(float t) { return smoothStep(0, 1, t); }

// A word's flight: arrives in [in, in + 40), holds until `out`, leaves in [out, out + 35).
ContentKey wordPose(int f, int in, int out, Vec3 rest, float side) {
  if (f < in || f >= out + 35) return ContentKey{{0, 0, -600}, {0, 0, 0, 1}};
  Vec3 position = rest;
  Quat q = quatAxisAngle({0, 0, 1}, 0.06f * std::sin((f - in) * 0.03f));
  if (f < in + 40) {
    float t = 1 - ease((f - in) / 40.0f);
    position = add(rest, Vec3{side * 160 * t, -120 * t, 30 * t});
    q = quatMultiply(quatAxisAngle({1, 0, 0}, 1.6f * t), quatAxisAngle({0, 0, 1}, side * 2.2f * t));
  } else if (f >= out) {
    float t = ease((f - out) / 35.0f);
    position = add(rest, Vec3{-side * 40 * t, 90 * t, 140 * t});
    q = quatMultiply(quatAxisAngle({0, 0, 1}, -side * 1.5f * t), quatAxisAngle({1, 0, 0}, -1.2f * t));
  }
  return ContentKey{position, q};
}

}  // namespace

ContentScene buildCreditsScene() {
  ContentScene s{};
  s.frame_count = kFrames;
  s.ambient[0] = 0.18f;
  s.ambient[1] = 0.16f;
  s.ambient[2] = 0.24f;

  // Opaque objects are drawn in file order: the lettering and rings in front, then the pillars, the
  // floor last, so the depth test rejects the floor's pixels that nearer objects cover. The sparks
  // and the halo are translucent and drawn after every opaque object anyway.
  s.objects.push_back(makeWord(kTitleTop, kTitleMaterial, "VOMMIKAS TELJAKKO", 1.3f));
  s.objects.push_back(makeWord(kTitleBottom, kTitleMaterial, "vUUr 2001", 2.0f));
  s.objects.push_back(makeWord(kCode, kCodeMaterial, "code", 3.6f));
  s.objects.push_back(makeWord(kGraphics, kGraphicsMaterial, "graphics", 2.1f));
  s.objects.push_back(makeWord(kMusic, kMusicMaterial, "music", 3.1f));
  s.objects.push_back(makeTorus(kRingA, 70, 2.2f));
  s.objects.push_back(makeTorus(kRingB, 84, 1.6f));
  s.objects.push_back(makePillars());
  s.objects.push_back(makeFloor());
  s.objects.push_back(makeMotes());
  s.objects.push_back(makeHalo());
  // A marker without vertices: never drawn, it carries the point the spot light follows.
  s.objects.push_back(ContentObject{kFocus, "focus", {0, 0, 0}, {0, 0, 0, 1}, {}, {}});

  s.cameras.push_back(ContentCamera{kCamera, "credits", 50, 1.0f, 1200, {0, 130, 10}, {0, 0, 0, 1}});

  ContentLight sweep{kSweep, "sweep", 0, 0, {1.0f, 0.55f, 0.25f}, 18, 1, 200, 0, 0, {0, 40, 20}, {0, 0, 0, 1}};
  ContentLight spot{kSpot, "spot", kFocus, 1, {0.6f, 0.8f, 1.0f}, 1.4f, 0, 0, 14, 34, {0, 60, 90}, {0, 0, 0, 1}};
  ContentLight fill{kFill, "fill", 0, 2, {0.7f, 0.65f, 0.85f}, 1.1f, 0, 0, 0, 0, {0, 0, 0}, {0, 0, 0, 1}};
  ContentLight key{kKey, "key", kFocus, 0, {0.3f, 1.0f, 0.7f}, 9, 1, 160, 0, 0, {-60, 50, 10}, {0, 0, 0, 1}};
  s.lights = {sweep, spot, fill, key};

  ContentMaterial m = makeMaterial(kFloorMaterial, kTiles, 0, kEnvironment, {0.55f, 0.55f, 0.65f});
  m.environment_blend = 0.35f;
  s.materials.push_back(m);
  m = makeMaterial(kTitleMaterial, 0, 0, kEnvironment, {1.0f, 0.7f, 0.3f});
  m.environment_blend = 0.3f;
  m.emissive = 0.2f;
  s.materials.push_back(m);
  m = makeMaterial(kCodeMaterial, kCrystal, kDetail, 0, {0.5f, 1.0f, 0.7f});
  m.detail_blend = 0.5f;
  m.emissive = 0.1f;
  s.materials.push_back(m);
  m = makeMaterial(kGraphicsMaterial, 0, 0, kEnvironment, {1.0f, 0.6f, 0.9f});
  m.environment_blend = 0.75f;
  m.emissive = 0.08f;
  s.materials.push_back(m);
  m = makeMaterial(kMusicMaterial, 0, 0, 0, {1.0f, 0.8f, 0.3f});
  m.emissive = 0.2f;
  s.materials.push_back(m);
  m = makeMaterial(kRingMaterial, 0, 0, kEnvironment, {0.7f, 0.75f, 0.95f});
  m.environment_blend = 0.85f;
  s.materials.push_back(m);
  m = makeMaterial(kMoteMaterial, kGlow, 0, 0, {0.6f, 0.8f, 1.0f});
  m.emissive = 1.0f;
  m.opacity = 0.85f;
  m.blend_mode = 1;
  m.two_sided = 1;
  s.materials.push_back(m);
  m = makeMaterial(kHaloMaterial, kGlow, 0, 0, {0.4f, 0.3f, 0.7f});
  m.emissive = 0.25f;
  m.opacity = 0.5f;
  m.blend_mode = 1;
  m.two_sided = 1;
  s.materials.push_back(m);
  m = makeMaterial(kPillarMaterial, kStone, kDetail, 0, {0.6f, 0.6f, 0.7f});
  m.detail_blend = 0.4f;
  s.materials.push_back(m);

  for (int k = 0; k < kSceneTextureCount; ++k) s.textures.push_back(ContentTexture{k + 1, kSceneTextureNames[k]});

  s.controllers.push_back(makeController(kTitleTop, kFrames, [](int f) {
    return wordPose(f < 40 ? 40 : f, 0, 235, {0, 0, 10}, 1);
  }));
  s.controllers.push_back(makeController(kTitleBottom, kFrames, [](int f) {
    return wordPose(f < 40 ? 40 : f, 0, 245, {0, 0, -9}, -1);
  }));
  s.controllers.push_back(makeController(kCode, kFrames, [](int f) { return wordPose(f, 255, 395, {0, 0, 0}, -1); }));
  s.controllers.push_back(
      makeController(kGraphics, kFrames, [](int f) { return wordPose(f, 415, 550, {0, 0, 0}, 1); }));
  s.controllers.push_back(
      makeController(kMusic, kFrames, [](int f) { return wordPose(f, 575, 10000, {0, 0, 0}, -1); }));
  s.controllers.push_back(makeController(kRingA, kFrames, [](int f) {
    return ContentKey{{0, -115, 10}, quatMultiply(quatAxisAngle({1, 0, 0}, 1.2f + f * 0.004f),
                                                  quatAxisAngle({0, 0, 1}, f * 0.01f))};
  }));
  s.controllers.push_back(makeController(kRingB, kFrames, [](int f) {
    return ContentKey{{0, -115, 10}, quatMultiply(quatAxisAngle({0, 1, 0}, f * 0.007f),
                                                  quatAxisAngle({1, 0, 0}, 1.5f))};
  }));
  s.controllers.push_back(makeController(kMotes, kFrames, [](int f) {
    return ContentKey{{0, 0, 4 * std::sin(f * 0.02f)}, quatAxisAngle({0, 0, 1}, f * 0.0008f)};
  }));
  s.controllers.push_back(makeController(kFocus, kFrames, [](int f) {
    return ContentKey{{30 * std::sin(f * 0.02f), 0, 4 * std::cos(f * 0.03f)}, {0, 0, 0, 1}};
  }));
  s.controllers.push_back(makeController(kCamera, kFrames, [](int f) {
    Vec3 eye{45 * std::sin(f * 0.0062f), 118 + 10 * std::sin(f * 0.011f), 6 + 7 * std::sin(f * 0.0085f)};
    Vec3 target{6 * std::sin(f * 0.009f), 0, 4};
    return ContentKey{eye, cameraLookAt(eye, target, 0.05f * std::sin(f * 0.013f))};
  }));
  s.controllers.push_back(makeController(kSweep, kFrames, [](int f) {
    float a = f * 0.025f;
    return ContentKey{{110 * std::sin(a), 45 + 30 * std::cos(a), 25}, {0, 0, 0, 1}};
  }));
  s.controllers.push_back(makeController(kSpot, kFrames, [](int f) {
    return ContentKey{{70 * std::sin(f * 0.013f), 70, 95}, {0, 0, 0, 1}};
  }));
  s.controllers.push_back(makeController(kFill, kFrames, [](int f) {
    Vec3 towards = normalised(Vec3{std::sin(f * 0.004f), 1, 0.8f});
    Vec3 own_x = normalised(cross(Vec3{0, 0, 1}, towards));
    return ContentKey{{0, 0, 0}, quatFromAxes(own_x, towards, cross(own_x, towards))};
  }));
  return s;
}
