// "mv.vyl": a dusk flight over a ring of mountains, down a valley past obelisks, to a monument of a
// turning knot inside chrome rings and light beams; then up through the rings and away. Frames
// 450..890 are the finale too: the show comes back to frame 450 after the credits.
#include <cmath>

#include "geometry.h"
#include "noise.h"
#include "scenes.h"

namespace {

const int kFrames = 1500;
const float kPi = 3.14159265f;

// Texture ids: the index in kSceneTextureNames plus one.
enum { kRock = 1, kDetail, kMetal, kEnvironment, kStone, kGlow, kTiles, kBeam, kCrystal };

enum {
  kTerrainMaterial = 1, kPlazaMaterial, kStoneMaterial, kTrimMaterial, kKnotMaterial, kChromeMaterial,
  kCrystalMaterial, kMoteMaterial, kBeamMaterial, kVeilMaterial, kPillarMaterial
};

enum {
  kTerrain = 1, kPlaza, kTowers, kKnot, kRingA, kRingB, kRingC, kCrystals, kMotes, kBeams, kVeil, kObelisks,
  kCamera = 100, kSun = 200, kOrbitLight, kSpot, kGuideLight
};

const Vec3 kMonument{0, 0, 48};
const float kTowerRadius = 150;

float terrainHeight(float x, float y) {
  float r = std::sqrt(x * x + y * y);
  float bowl = smoothStep(85, 250, r);
  float ridge = 1 - std::fabs(2 * fractal2(x / 110 + 3.1f, y / 110 - 1.7f, 5, 11) - 1);
  float hills = fractal2(x / 45, y / 45, 4, 23);
  float h = bowl * (18 + 80 * ridge * ridge) + 6 * hills * smoothStep(70, 120, r);
  // The valley the flight follows, along the diagonal from the south-west corner.
  if (x + y < 0) {
    float d = std::fabs(x - y) * 0.70710678f;
    float valley = smoothStep(18, 70, d);
    h = h * (0.12f + 0.88f * valley) + 3 * hills * (1 - valley);
  }
  return h;
}

// 141 cells a side, 4.5 units each: about a pixel a triangle where the flight skims the valley
// floor at 640 x 480, and ridges that still read as smooth against the sky at 1920 x 1080. A finer
// grid mostly adds triangles far smaller than a pixel in the distance.
ContentObject makeTerrain() {
  ContentObject o{kTerrain, "valley", {0, 0, 0}, {0, 0, 0, 1}, {}, {}};
  beginGroup(&o, kTerrainMaterial);
  const float half = 320;
  addSurface(
      &o, 141, 141,
      [&](float u, float v) {
        float x = -half + 2 * half * u, y = -half + 2 * half * v;
        return Vec3{x, y, terrainHeight(x, y)};
      },
      14, 14, false);
  return o;
}

ContentObject makePlaza() {
  ContentObject o{kPlaza, "plaza", {0, 0, 0}, {0, 0, 0, 1}, {}, {}};
  beginGroup(&o, kPlazaMaterial);
  // A disc of tiles a little above the valley floor, with a raised rim.
  addSurface(
      &o, 64, 6,
      [](float u, float v) {
        float a = -u * 2 * kPi, r = 4 + 58 * v;
        return Vec3{r * std::cos(a), r * std::sin(a), 0.6f};
      },
      16, 3, false);
  beginGroup(&o, kStoneMaterial);
  addSurface(
      &o, 64, 4,
      [](float u, float v) {
        float a = u * 2 * kPi;
        float r = 60 + 6 * v, z = 0.6f + 2.2f * std::sin(v * kPi);
        return Vec3{r * std::cos(a), r * std::sin(a), z};
      },
      24, 1, true);
  return o;
}

ContentObject makeTowers() {
  ContentObject o{kTowers, "towers", {0, 0, 0}, {0, 0, 0, 1}, {}, {}};
  beginGroup(&o, kStoneMaterial);
  for (int k = 0; k < 8; ++k) {
    float a = (k + 0.5f) * kPi / 4;
    Vec3 base{kTowerRadius * std::cos(a), kTowerRadius * std::sin(a),
               terrainHeight(kTowerRadius * std::cos(a), kTowerRadius * std::sin(a)) - 3};
    float height = 48 + 14 * (k % 3);
    addSurface(
        &o, 24, 8,
        [&](float u, float v) {
          float t = u * 2 * kPi, r = 7 - 2.2f * v;
          return Vec3{base.x + r * std::cos(t), base.y + r * std::sin(t), base.z + v * height};
        },
        4, 6, false);
    for (int b = 0; b < 4; ++b) {
      float ba = a + b * kPi / 2;
      addBox(&o, Vec3{base.x + 7.5f * std::cos(ba), base.y + 7.5f * std::sin(ba), base.z + 7}, Vec3{1.6f, 1.6f, 7},
             6);
    }
  }
  beginGroup(&o, kTrimMaterial);
  for (int k = 0; k < 8; ++k) {
    float a = (k + 0.5f) * kPi / 4;
    Vec3 base{kTowerRadius * std::cos(a), kTowerRadius * std::sin(a),
               terrainHeight(kTowerRadius * std::cos(a), kTowerRadius * std::sin(a)) - 3};
    float top = base.z + 48 + 14 * (k % 3);
    addBox(&o, Vec3{base.x, base.y, top + 1.5f}, Vec3{6.5f, 6.5f, 1.5f}, 4);
    addSurface(
        &o, 4, 4,
        [&](float u, float v) {
          float t = u * 2 * kPi + kPi / 4, r = 6.5f * (1 - v);
          return Vec3{base.x + r * std::cos(t), base.y + r * std::sin(t), top + 3 + 10 * v};
        },
        2, 2, false);
  }
  return o;
}

// Seen from no nearer than about 80 units, the tube (7.2 units across) is some 100 pixels wide at
// 1920 x 1080: 20 sides keep its outline round within a pixel. Along the 250-unit curve 192 segments
// make quads about as long as they are wide, and the bends stay smooth to a fraction of a pixel.
// 640 x 40 made triangles of a third of a pixel at 640 x 480.
ContentObject makeKnot() {
  ContentObject o{kKnot, "knot", kMonument, {0, 0, 0, 1}, {}, {}};
  beginGroup(&o, kKnotMaterial);
  addTube(
      &o, 192, 20, 3.6f,
      [](float t) {
        float phi = t * 2 * kPi;
        float r = 17 + 7 * std::cos(3 * phi);
        return Vec3{r * std::cos(2 * phi), r * std::sin(2 * phi), 7 * std::sin(3 * phi)};
      },
      24, 2);
  return o;
}

ContentObject makeRing(int32_t id, float radius, float thickness) {
  ContentObject o{id, "ring", kMonument, {0, 0, 0, 1}, {}, {}};
  beginGroup(&o, kChromeMaterial);
  addSurface(
      &o, 128, 12,
      [&](float u, float v) {
        float a = u * 2 * kPi, b = v * 2 * kPi;
        float r = radius + thickness * std::cos(b);
        return Vec3{r * std::cos(a), r * std::sin(a), thickness * 1.8f * std::sin(b)};
      },
      8, 1, false);
  // Studs around the ring.
  for (int k = 0; k < 16; ++k) {
    float a = k * kPi / 8;
    addBox(&o, Vec3{(radius + thickness) * std::cos(a), (radius + thickness) * std::sin(a), 0},
           Vec3{thickness * 0.8f, thickness * 0.8f, thickness * 2.4f}, 4);
  }
  return o;
}

void addOctahedron(ContentObject* o, Vec3 c, float r, float height) {
  Vec3 top = add(c, Vec3{0, 0, height}), bottom = add(c, Vec3{0, 0, -height});
  Vec3 ring[4] = {add(c, Vec3{r, 0, 0}), add(c, Vec3{0, r, 0}), add(c, Vec3{-r, 0, 0}), add(c, Vec3{0, -r, 0})};
  for (int k = 0; k < 4; ++k) {
    Vec3 a = ring[k], b = ring[(k + 1) % 4];
    Vec3 corners[2][3] = {{a, b, top}, {a, bottom, b}};
    for (auto& c3 : corners) {
      Vec3 n = normalised(cross(sub(c3[1], c3[0]), sub(c3[2], c3[0])));
      int32_t i0 = addVertex(o, c3[0], n, 0, 1), i1 = addVertex(o, c3[1], n, 1, 1);
      int32_t i2 = addVertex(o, c3[2], n, 0.5f, 0);
      addFace(o, i0, i1, i2);
    }
  }
}

ContentObject makeCrystals() {
  ContentObject o{kCrystals, "crystals", {0, 0, 0}, {0, 0, 0, 1}, {}, {}};
  beginGroup(&o, kCrystalMaterial);
  Random random{77};
  for (int k = 0; k < 28; ++k) {
    float a = k * 2 * kPi / 28 + randomRange(&random, -0.05f, 0.05f);
    float r = randomRange(&random, 62, 76);
    addOctahedron(&o, Vec3{r * std::cos(a), r * std::sin(a), randomRange(&random, 18, 62)},
                  randomRange(&random, 1.1f, 2.2f), randomRange(&random, 3, 5.5f));
  }
  return o;
}

// Motes: small crossed quads of glow, everywhere along the flight; the first thing on screen that
// blends, so the logo fades blend over the scene from the first frame.
ContentObject makeMotes() {
  ContentObject o{kMotes, "motes", {0, 0, 0}, {0, 0, 0, 1}, {}, {}};
  beginGroup(&o, kMoteMaterial);
  Random random{1234};
  for (int k = 0; k < 2200; ++k) {
    Vec3 c;
    if (k < 700) {
      // Along the way in.
      float t = randomUnit(&random);
      Vec3 a{-330, -310, 150}, b{-40, -40, 30};
      c = add(lerp(a, b, t), Vec3{randomRange(&random, -60, 60), randomRange(&random, -60, 60),
                                   randomRange(&random, -40, 40)});
    } else {
      float a = randomRange(&random, 0, 2 * kPi), r = 20 + 160 * std::sqrt(randomUnit(&random));
      c = Vec3{r * std::cos(a), r * std::sin(a), randomRange(&random, 4, 150)};
    }
    float s = randomRange(&random, 0.8f, 2.2f);
    addQuad(&o, add(c, Vec3{-s, 0, -s}), add(c, Vec3{s, 0, -s}), add(c, Vec3{s, 0, s}), add(c, Vec3{-s, 0, s}), 1, 1);
    addQuad(&o, add(c, Vec3{0, -s, -s}), add(c, Vec3{0, s, -s}), add(c, Vec3{0, s, s}), add(c, Vec3{0, -s, s}), 1, 1);
  }
  return o;
}

void addBeam(ContentObject* o, Vec3 base, float width, float height) {
  for (int k = 0; k < 3; ++k) {
    float a = k * kPi / 3;
    Vec3 d{width * std::cos(a), width * std::sin(a), 0};
    addQuad(o, sub(base, d), add(base, d), add(add(base, d), Vec3{0, 0, height}),
            add(sub(base, d), Vec3{0, 0, height}), 1, 1);
  }
}

ContentObject makeBeams() {
  ContentObject o{kBeams, "beams", {0, 0, 0}, {0, 0, 0, 1}, {}, {}};
  beginGroup(&o, kBeamMaterial);
  for (int k = 0; k < 8; ++k) {
    float a = (k + 0.5f) * kPi / 4;
    Vec3 base{kTowerRadius * std::cos(a), kTowerRadius * std::sin(a),
               terrainHeight(kTowerRadius * std::cos(a), kTowerRadius * std::sin(a)) - 3};
    addBeam(&o, add(base, Vec3{0, 0, 60.0f + 14 * (k % 3)}), 3, 260);
  }
  addBeam(&o, Vec3{0, 0, 0.8f}, 10, 420);
  return o;
}

ContentObject makeVeil() {
  ContentObject o{kVeil, "veil", kMonument, {0, 0, 0, 1}, {}, {}};
  beginGroup(&o, kVeilMaterial);
  addSurface(
      &o, 96, 10,
      [](float u, float v) {
        float a = u * 2 * kPi;
        float r = 31 + 2.5f * std::sin(5 * a);
        return Vec3{r * std::cos(a), r * std::sin(a), -26 + 44 * v + 6 * std::sin(3 * a) * v};
      },
      6, 1, false);
  return o;
}

ContentObject makeObelisks() {
  ContentObject o{kObelisks, "obelisks", {0, 0, 0}, {0, 0, 0, 1}, {}, {}};
  beginGroup(&o, kPillarMaterial);
  for (int k = 0; k < 10; ++k) {
    float t = k / 9.0f;
    Vec3 on_line = lerp(Vec3{-215, -215, 0}, Vec3{-85, -85, 0}, t);
    float side = (k % 2) ? 1.0f : -1.0f;
    Vec3 c = add(on_line, scale(Vec3{0.7071f, -0.7071f, 0}, side * 24));
    float h = 22 + 8 * (k % 3);
    float ground = terrainHeight(c.x, c.y) - 2;
    addBox(&o, Vec3{c.x, c.y, ground + h / 2}, Vec3{2.6f, 2.6f, h / 2}, 5);
    addBox(&o, Vec3{c.x, c.y, ground + 1}, Vec3{4.5f, 4.5f, 1.5f}, 5);
  }
  beginGroup(&o, kCrystalMaterial);
  for (int k = 0; k < 10; ++k) {
    float t = k / 9.0f;
    Vec3 on_line = lerp(Vec3{-215, -215, 0}, Vec3{-85, -85, 0}, t);
    float side = (k % 2) ? 1.0f : -1.0f;
    Vec3 c = add(on_line, scale(Vec3{0.7071f, -0.7071f, 0}, side * 24));
    float h = 22 + 8 * (k % 3);
    addOctahedron(&o, Vec3{c.x, c.y, terrainHeight(c.x, c.y) - 2 + h + 5}, 2.2f, 4);
  }
  return o;
}

Quat spin(Vec3 axis, float radians) { return quatAxisAngle(axis, radians); }

}  // namespace

ContentScene buildMainScene() {
  ContentScene s{};
  s.frame_count = kFrames;
  s.ambient[0] = 0.22f;
  s.ambient[1] = 0.2f;
  s.ambient[2] = 0.28f;

  // The show draws opaque objects in file order, so the near, small ones come first and the ground
  // last: the depth test then rejects the valley's pixels behind the monument, the towers and the
  // plaza before they are shaded, instead of shading them and painting over them. The translucent
  // ones are drawn after all opaque ones whatever their place.
  s.objects.push_back(makeKnot());
  s.objects.push_back(makeRing(kRingA, 40, 1.4f));
  s.objects.push_back(makeRing(kRingB, 47, 1.1f));
  s.objects.push_back(makeRing(kRingC, 55, 0.9f));
  s.objects.push_back(makeCrystals());
  s.objects.push_back(makeObelisks());
  s.objects.push_back(makeTowers());
  s.objects.push_back(makePlaza());
  s.objects.push_back(makeTerrain());
  s.objects.push_back(makeMotes());
  s.objects.push_back(makeBeams());
  s.objects.push_back(makeVeil());

  ContentCamera camera{kCamera, "flight", 56, 1.0f, 1400, {0, 0, 0}, {0, 0, 0, 1}};
  s.cameras.push_back(camera);

  ContentLight sun{kSun, "sun", 0, 2, {1.0f, 0.78f, 0.55f}, 0.95f, 0, 0, 0, 0, {0, 0, 200}, {0, 0, 0, 1}};
  ContentLight orbit{kOrbitLight, "orbit", 0, 0, {0.3f, 0.8f, 1.0f}, 14, 1, 160, 0, 0, {30, 0, 50}, {0, 0, 0, 1}};
  ContentLight spot{kSpot, "spot", kKnot, 1, {1.0f, 0.35f, 0.75f}, 1.6f, 0, 0, 12, 30, {0, 0, 0}, {0, 0, 0, 1}};
  ContentLight guide{kGuideLight, "guide", 0, 0, {1.0f, 0.9f, 0.7f}, 10, 1, 120, 0, 0, {0, 0, 0}, {0, 0, 0, 1}};
  s.lights = {sun, orbit, spot, guide};

  auto material = [&](ContentMaterial m) { s.materials.push_back(m); };
  ContentMaterial m = makeMaterial(kTerrainMaterial, kRock, kDetail, 0, {0.85f, 0.8f, 0.75f});
  m.detail_blend = 0.45f;
  material(m);
  m = makeMaterial(kPlazaMaterial, kTiles, 0, 0, {0.9f, 0.88f, 0.85f});
  material(m);
  m = makeMaterial(kStoneMaterial, kStone, 0, 0, {0.9f, 0.85f, 0.8f});
  material(m);
  m = makeMaterial(kTrimMaterial, 0, kDetail, 0, {0.55f, 0.6f, 0.85f});
  m.detail_blend = 0.7f;
  material(m);
  m = makeMaterial(kKnotMaterial, kMetal, 0, kEnvironment, {1.0f, 0.9f, 0.75f});
  m.environment_blend = 0.55f;
  m.emissive = 0.05f;
  material(m);
  m = makeMaterial(kChromeMaterial, 0, 0, kEnvironment, {0.7f, 0.75f, 0.9f});
  m.environment_blend = 0.85f;
  material(m);
  m = makeMaterial(kCrystalMaterial, 0, 0, 0, {0.35f, 0.85f, 1.0f});
  m.emissive = 0.3f;
  material(m);
  m = makeMaterial(kMoteMaterial, kGlow, 0, 0, {1.0f, 0.85f, 0.6f});
  m.emissive = 1.0f;
  m.opacity = 0.9f;
  m.blend_mode = 1;
  m.two_sided = 1;
  material(m);
  m = makeMaterial(kBeamMaterial, kBeam, 0, 0, {0.6f, 0.8f, 1.0f});
  m.emissive = 0.8f;
  m.opacity = 0.7f;
  m.blend_mode = 1;
  m.two_sided = 1;
  material(m);
  m = makeMaterial(kVeilMaterial, 0, 0, kEnvironment, {0.4f, 0.7f, 1.0f});
  m.environment_blend = 0.6f;
  m.opacity = 0.35f;
  m.two_sided = 1;
  material(m);
  m = makeMaterial(kPillarMaterial, kStone, 0, 0, {0.55f, 0.5f, 0.6f});
  material(m);

  for (int k = 0; k < kSceneTextureCount; ++k) s.textures.push_back(ContentTexture{k + 1, kSceneTextureNames[k]});

  // The flight: approach over the ridge, down the valley, the reveal, circling the monument, up
  // through the rings, away.
  std::vector<PathKey> eye = {
      {0, {-330, -310, 150}},  {130, {-255, -240, 128}}, {250, {-180, -170, 72}}, {330, {-135, -122, 26}},
      {400, {-100, -84, 17}},  {450, {-88, -52, 26}},    {560, {-24, -106, 42}},  {670, {78, -78, 60}},
      {780, {104, 26, 38}},    {890, {36, 96, 56}},      {1000, {-62, 54, 94}},   {1100, {-66, -32, 120}},
      {1200, {60, -92, 140}},  {1350, {180, -160, 170}}, {1500, {270, -235, 205}}};
  std::vector<PathKey> look = {
      {0, {0, 0, 40}},       {130, {0, 0, 40}},     {250, {-60, -55, 20}}, {330, {-40, -40, 20}},
      {400, {-10, -10, 40}}, {450, {0, 0, 48}},     {560, {0, 0, 50}},     {670, {0, 0, 48}},
      {780, {0, 0, 45}},     {890, {0, 0, 50}},     {1000, {0, 0, 48}},    {1100, {0, 0, 40}},
      {1200, {0, 0, 30}},    {1350, {0, 0, 30}},    {1500, {0, 0, 40}}};
  s.controllers.push_back(makeController(kCamera, kFrames, [&](int f) {
    Vec3 e = pathAt(eye, static_cast<float>(f)), t = pathAt(look, static_cast<float>(f));
    float roll = 0.12f * std::sin(f * 0.013f) * smoothStep(200, 300, f) * (1 - smoothStep(420, 470, f));
    return ContentKey{e, cameraLookAt(e, t, roll)};
  }));
  s.controllers.push_back(makeController(kKnot, kFrames, [&](int f) {
    Quat q = quatMultiply(spin({0, 0, 1}, f * 0.012f), spin({1, 0, 0}, 0.35f * std::sin(f * 0.004f)));
    return ContentKey{kMonument, q};
  }));
  s.controllers.push_back(makeController(kRingA, kFrames, [&](int f) {
    return ContentKey{kMonument, quatMultiply(spin({1, 0, 0}, f * 0.010f), spin({0, 0, 1}, f * 0.004f))};
  }));
  s.controllers.push_back(makeController(kRingB, kFrames, [&](int f) {
    return ContentKey{kMonument, quatMultiply(spin({0, 1, 0}, -f * 0.008f), spin({0, 0, 1}, 0.6f))};
  }));
  s.controllers.push_back(makeController(kRingC, kFrames, [&](int f) {
    return ContentKey{kMonument, quatMultiply(spin({1, 1, 0}, f * 0.006f), spin({0, 0, 1}, -f * 0.003f))};
  }));
  s.controllers.push_back(makeController(kCrystals, kFrames, [&](int f) {
    return ContentKey{{0, 0, 2 * std::sin(f * 0.03f)}, spin({0, 0, 1}, -f * 0.003f)};
  }));
  s.controllers.push_back(makeController(kMotes, kFrames, [&](int f) {
    return ContentKey{{0, 0, 3 * std::sin(f * 0.01f)}, spin({0, 0, 1}, f * 0.0006f)};
  }));
  s.controllers.push_back(makeController(kVeil, kFrames, [&](int f) {
    return ContentKey{kMonument, spin({0, 0, 1}, -f * 0.005f)};
  }));
  // Lights: the sun sinks and turns, one point light circles the knot, the spot rides round the
  // towers aimed at the knot, and the guide light runs ahead of the camera.
  s.controllers.push_back(makeController(kSun, kFrames, [&](int f) {
    float a = 0.9f + f * 0.0012f, elevation = 0.55f - f * 0.00018f;
    Vec3 towards_sun = normalised(Vec3{std::cos(a), std::sin(a), elevation});
    Vec3 own_y = towards_sun;  // the light shines along its own -y
    Vec3 own_x = normalised(cross(Vec3{0, 0, 1}, own_y));
    Vec3 own_z = cross(own_x, own_y);
    return ContentKey{scale(towards_sun, 400), quatFromAxes(own_x, own_y, own_z)};
  }));
  s.controllers.push_back(makeController(kOrbitLight, kFrames, [&](int f) {
    float a = f * 0.035f;
    return ContentKey{add(kMonument, Vec3{34 * std::cos(a), 34 * std::sin(a), 14 * std::sin(f * 0.02f)}),
                      {0, 0, 0, 1}};
  }));
  s.controllers.push_back(makeController(kSpot, kFrames, [&](int f) {
    float a = f * 0.006f;
    return ContentKey{Vec3{kTowerRadius * std::cos(a), kTowerRadius * std::sin(a), 90}, {0, 0, 0, 1}};
  }));
  s.controllers.push_back(makeController(kGuideLight, kFrames, [&](int f) {
    Vec3 e = pathAt(eye, f + 20.0f);
    return ContentKey{add(e, Vec3{0, 0, 6}), {0, 0, 0, 1}};
  }));
  return s;
}
