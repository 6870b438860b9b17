// Picture generators. Every texture that tiles is built from noise with the picture's period, so
// the repeats have no seams.
#include "pictures.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "font.h"
#include "noise.h"

namespace {

const int kSize = 256;

uint8_t toByte(float value) {
  float v = value * 255.0f + 0.5f;
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

RgbImage blank(int width, int height) { return RgbImage{width, height, std::vector<uint8_t>(width * height * 3)}; }

void put(RgbImage* image, int x, int y, Vec3 colour) {
  uint8_t* p = &image->rgb[(static_cast<size_t>(y) * image->width + x) * 3];
  p[0] = toByte(colour.x);
  p[1] = toByte(colour.y);
  p[2] = toByte(colour.z);
}

Vec3 mix(Vec3 a, Vec3 b, float t) { return lerp(a, b, t); }

template <typename F>
RgbImage fill(F colour) {
  RgbImage image = blank(kSize, kSize);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) put(&image, x, y, colour(static_cast<float>(x) / kSize, static_cast<float>(y) / kSize));
  return image;
}

RgbImage rock() {
  return fill([](float u, float v) {
    float n = fractal2(u * 8, v * 8, 6, 101, 8);
    float patches = smoothStep(0.42f, 0.62f, fractal2(u * 4, v * 4, 4, 202, 4));
    float fine = fractal2(u * 64, v * 64, 2, 303, 64);
    Vec3 earth = mix(Vec3{0.24f, 0.2f, 0.15f}, Vec3{0.55f, 0.47f, 0.36f}, n);
    Vec3 moss = mix(Vec3{0.16f, 0.24f, 0.12f}, Vec3{0.34f, 0.42f, 0.2f}, n);
    return scale(mix(earth, moss, patches), 0.8f + 0.4f * fine);
  });
}

RgbImage detail() {
  return fill([](float u, float v) {
    float n = 0.6f * fractal2(u * 32, v * 32, 3, 404, 32) + 0.4f * valueNoise2(u * 128, v * 128, 405, 128);
    float g = 0.22f + 0.28f * n;
    return Vec3{g, g * 0.97f, g * 0.92f};
  });
}

RgbImage metal() {
  return fill([](float u, float v) {
    float streak = fractal2(u * 2, v * 96, 3, 505, 2);
    float grain = valueNoise2(u * 256, v * 64, 506, 256);
    float g = 0.52f + 0.22f * streak + 0.08f * grain;
    // Panel seams and rivets.
    float pu = std::fmod(u * 2, 1.0f), pv = std::fmod(v * 2, 1.0f);
    if (pu < 0.012f || pv < 0.012f) g *= 0.45f;
    float ru = std::fmod(u * 8, 1.0f) - 0.5f, rv = pv - 0.05f;
    if (ru * ru + rv * rv * 16 < 0.01f) g *= 1.25f;
    return Vec3{g * 0.95f, g, g * 1.08f};
  });
}

RgbImage environment() {
  return fill([](float u, float v) {
    float nx = 1 - 2 * u, ny = 1 - 2 * v;
    float d = nx * nx + ny * ny;
    if (d > 1) d = 1;
    float nz = std::sqrt(1 - d);
    // The reflection of the view ray; its y is up in view space.
    float rx = 2 * nz * nx, ry = 2 * nz * ny, rz = 2 * nz * nz - 1;
    (void)rz;
    Vec3 sky = mix(Vec3{0.95f, 0.6f, 0.45f}, Vec3{0.25f, 0.3f, 0.7f}, smoothStep(0.0f, 0.7f, ry));
    Vec3 ground = mix(Vec3{0.25f, 0.18f, 0.2f}, Vec3{0.05f, 0.05f, 0.08f}, smoothStep(0.0f, -0.6f, ry));
    Vec3 c = ry >= 0 ? sky : ground;
    float band = std::exp(-ry * ry * 60);
    c = add(c, scale(Vec3{1.0f, 0.85f, 0.6f}, 0.6f * band));
    float spot = std::exp(-((rx - 0.45f) * (rx - 0.45f) + (ry - 0.5f) * (ry - 0.5f)) * 40);
    c = add(c, scale(Vec3{1, 1, 1}, spot));
    float stripes = 0.5f + 0.5f * std::sin(rx * 12);
    c = add(c, scale(Vec3{0.1f, 0.12f, 0.2f}, stripes * smoothStep(0.2f, 0.9f, ry)));
    return c;
  });
}

RgbImage stone() {
  return fill([](float u, float v) {
    const int rows = 8;
    float row_f = v * rows;
    int row = static_cast<int>(row_f);
    float shift = (row % 2) ? 0.125f : 0;
    float col_f = std::fmod(u + shift, 1.0f) * 4;
    int col = static_cast<int>(col_f);
    float bu = col_f - col, bv = row_f - row;
    float mortar = smoothStep(0.0f, 0.04f, bu) * smoothStep(1.0f, 0.96f, bu) * smoothStep(0.0f, 0.08f, bv) *
                   smoothStep(1.0f, 0.92f, bv);
    float shade = 0.8f + 0.25f * (static_cast<float>(hash3(col + (row % 2) * 7, row, 0, 606) & 255) / 255.0f);
    float n = fractal2(u * 16, v * 16, 4, 607, 16);
    Vec3 block = scale(Vec3{0.72f, 0.64f, 0.52f}, shade * (0.75f + 0.45f * n));
    return mix(Vec3{0.2f, 0.18f, 0.16f}, block, mortar);
  });
}

RgbImage glow() {
  return fill([](float u, float v) {
    float dx = u - 0.5f + 0.5f / kSize, dy = v - 0.5f + 0.5f / kSize;
    float r2 = (dx * dx + dy * dy) * 4;
    float g = std::exp(-r2 * 9) * 0.9f + std::exp(-r2 * 60) * 0.6f;
    g *= smoothStep(1.0f, 0.8f, r2);
    return Vec3{g, g * 0.88f, g * 0.7f};
  });
}

RgbImage tiles() {
  return fill([](float u, float v) {
    float tu = u * 4, tv = v * 4;
    int iu = static_cast<int>(tu), iv = static_cast<int>(tv);
    float fu = tu - iu, fv = tv - iv;
    float grout = smoothStep(0.0f, 0.03f, fu) * smoothStep(1.0f, 0.97f, fu) * smoothStep(0.0f, 0.03f, fv) *
                  smoothStep(1.0f, 0.97f, fv);
    float marble = 0.5f + 0.5f * std::sin((u * 8 + 3 * fractal2(u * 8, v * 8, 5, 707, 8)) * 3.14159f);
    bool dark = ((iu + iv) % 2) != 0;
    Vec3 base = dark ? Vec3{0.3f, 0.3f, 0.4f} : Vec3{0.8f, 0.78f, 0.72f};
    Vec3 tile = scale(base, 0.8f + 0.25f * marble);
    return mix(Vec3{0.1f, 0.1f, 0.12f}, tile, grout);
  });
}

RgbImage beam() {
  return fill([](float u, float v) {
    float across = std::exp(-std::pow((u - 0.5f) / 0.17f, 2.0f));
    float core = std::exp(-std::pow((u - 0.5f) / 0.05f, 2.0f));
    float along = std::pow(v, 1.6f) * (0.85f + 0.15f * valueNoise2(u * 4, v * 24, 808, 4));
    float g = (0.7f * across + 0.5f * core) * along;
    return Vec3{g * 0.8f, g * 0.9f, g};
  });
}

RgbImage crystal() {
  return fill([](float u, float v) {
    // Cells: distance to the nearest of a tiled set of points.
    const int cells = 6;
    float best = 9, second = 9;
    for (int cy = -1; cy <= cells; ++cy) {
      for (int cx = -1; cx <= cells; ++cx) {
        uint32_t h = hash3((cx + cells) % cells, (cy + cells) % cells, 0, 909);
        float px = (cx + (h & 255) / 255.0f) / cells, py = (cy + ((h >> 8) & 255) / 255.0f) / cells;
        float d = std::sqrt((u - px) * (u - px) + (v - py) * (v - py));
        if (d < best) {
          second = best;
          best = d;
        } else if (d < second) {
          second = d;
        }
      }
    }
    float edge = smoothStep(0.0f, 0.03f, second - best);
    float n = fractal2(u * 8, v * 8, 3, 910, 8);
    Vec3 c = mix(Vec3{0.1f, 0.5f, 0.45f}, Vec3{0.5f, 1.0f, 0.8f}, best * cells * 0.8f + 0.3f * n);
    return mix(Vec3{0.9f, 1.0f, 0.95f}, c, edge);
  });
}

// Lettering: our pixel font scaled up, with bevelled cells and a glow around it.
struct Lettering {
  std::vector<float> mask;  // 0..1 coverage
  std::vector<float> shade;
};

void drawText(Lettering* lettering, int width, const char* text, int centre_x, int top, float cell) {
  int length = static_cast<int>(std::strlen(text));
  float total = (length * kGlyphAdvance - 1) * cell;
  float left = centre_x - total / 2;
  int height = static_cast<int>(lettering->mask.size()) / width;
  for (int g = 0; g < length; ++g) {
    for (int row = 0; row < kGlyphHeight; ++row) {
      for (int column = 0; column < kGlyphWidth; ++column) {
        if (!glyphPixel(text[g], column, row)) continue;
        float x0 = left + (g * kGlyphAdvance + column) * cell, y0 = top + row * cell;
        for (int y = static_cast<int>(y0); y < static_cast<int>(y0 + cell); ++y) {
          for (int x = static_cast<int>(x0); x < static_cast<int>(x0 + cell); ++x) {
            if (x < 0 || y < 0 || x >= width || y >= height) continue;
            float fx = (x - x0 + 0.5f) / cell, fy = (y - y0 + 0.5f) / cell;
            float edge = std::fmin(std::fmin(fx, 1 - fx), std::fmin(fy, 1 - fy));
            size_t i = static_cast<size_t>(y) * width + x;
            lettering->mask[i] = 1;
            lettering->shade[i] = 0.75f + 0.25f * (1 - fy) + (edge < 0.12f ? (fx < fy ? 0.25f : -0.25f) : 0);
          }
        }
      }
    }
  }
}

std::vector<float> blur(const std::vector<float>& in, int width, int height, int radius) {
  std::vector<float> a(in), b(in.size());
  for (int pass = 0; pass < 3; ++pass) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        float sum = 0;
        for (int k = -radius; k <= radius; ++k) {
          int xx = x + k;
          if (xx >= 0 && xx < width) sum += a[static_cast<size_t>(y) * width + xx];
        }
        b[static_cast<size_t>(y) * width + x] = sum / (2 * radius + 1);
      }
    }
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        float sum = 0;
        for (int k = -radius; k <= radius; ++k) {
          int yy = y + k;
          if (yy >= 0 && yy < height) sum += b[static_cast<size_t>(yy) * width + x];
        }
        a[static_cast<size_t>(y) * width + x] = sum / (2 * radius + 1);
      }
    }
  }
  return a;
}

struct TextLine {
  const char* text;
  int top;
  float cell;
  Vec3 colour;
};

RgbImage makeLogo(const std::vector<TextLine>& lines, Vec3 glow_colour, uint32_t seed) {
  const int size = 512;
  Lettering lettering{std::vector<float>(size * size), std::vector<float>(size * size)};
  for (const TextLine& line : lines) drawText(&lettering, size, line.text, size / 2, line.top, line.cell);
  std::vector<float> halo = blur(lettering.mask, size, size, 6);
  RgbImage image = blank(size, size);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      float u = static_cast<float>(x) / size, v = static_cast<float>(y) / size;
      float dx = u - 0.5f, dy = v - 0.5f, r = std::sqrt(dx * dx + dy * dy);
      // Background: a dark vignette with a ring of light and faint stars.
      Vec3 c = mix(Vec3{0.07f, 0.05f, 0.14f}, Vec3{0.0f, 0.0f, 0.02f}, smoothStep(0.0f, 0.7f, r));
      float ring = std::exp(-std::pow((r - 0.42f) / 0.012f, 2.0f)) * (0.6f + 0.4f * std::sin(std::atan2(dy, dx) * 3));
      c = add(c, scale(glow_colour, 0.5f * ring));
      float cloud = fractal2(u * 6, v * 6, 5, seed);
      c = add(c, scale(Vec3{0.12f, 0.05f, 0.18f}, smoothStep(0.45f, 0.8f, cloud)));
      if ((hash3(x, y, 0, seed) & 1023) < 2) c = add(c, Vec3{0.6f, 0.6f, 0.7f});
      size_t i = static_cast<size_t>(y) * size + x;
      c = add(c, scale(glow_colour, 1.6f * halo[i]));
      if (lettering.mask[i] > 0) {
        Vec3 letter{1, 1, 1};
        for (const TextLine& line : lines) {
          if (y >= line.top && y < line.top + kGlyphHeight * line.cell) letter = line.colour;
        }
        c = scale(letter, lettering.shade[i]);
      }
      put(&image, x, y, c);
    }
  }
  return image;
}

}  // namespace

RgbImage makeSceneTexture(const char* name) {
  std::string n(name);
  if (n == "rock.jpg") return rock();
  if (n == "detail.jpg") return detail();
  if (n == "metal.jpg") return metal();
  if (n == "envmap.jpg") return environment();
  if (n == "stone.jpg") return stone();
  if (n == "glow.jpg") return glow();
  if (n == "tiles.jpg") return tiles();
  if (n == "beam.jpg") return beam();
  if (n == "crystal.jpg") return crystal();
  return RgbImage{0, 0, {}};
}

Vec3 skyColour(Vec3 d) {
  d = normalised(d);
  const Vec3 sun = normalised(Vec3{0.1f, 0.95f, 0.16f});
  float elevation = d.z;
  float sun_cos = dot(d, sun);
  Vec3 zenith{0.04f, 0.05f, 0.18f};
  Vec3 middle = mix(Vec3{0.22f, 0.16f, 0.42f}, Vec3{0.45f, 0.3f, 0.45f}, smoothStep(0.0f, 1.0f, sun_cos));
  Vec3 horizon = mix(Vec3{0.55f, 0.3f, 0.45f}, Vec3{1.0f, 0.55f, 0.28f}, smoothStep(-0.2f, 0.9f, sun_cos));
  float up = clamp01(elevation);
  Vec3 c = mix(horizon, middle, smoothStep(0.0f, 0.3f, up));
  c = mix(c, zenith, smoothStep(0.25f, 0.95f, up));
  if (elevation < 0) {
    Vec3 ground = mix(Vec3{0.18f, 0.12f, 0.16f}, Vec3{0.04f, 0.04f, 0.07f}, smoothStep(0.0f, -0.4f, elevation));
    c = mix(horizon, ground, smoothStep(0.0f, -0.06f, elevation));
  }
  // Clouds: streaks of noise over the lower sky, lit from the sun's side.
  if (elevation > -0.05f) {
    float n = fractal3(d.x * 3.5f, d.y * 3.5f, d.z * 9.0f, 5, 1001);
    float cover = smoothStep(0.5f, 0.72f, n) * smoothStep(0.6f, 0.05f, elevation) * smoothStep(-0.05f, 0.04f, elevation);
    Vec3 cloud = mix(Vec3{0.3f, 0.2f, 0.35f}, Vec3{1.0f, 0.65f, 0.45f}, smoothStep(-0.3f, 1.0f, sun_cos));
    c = mix(c, cloud, cover * 0.85f);
  }
  // Stars in the dark upper sky.
  if (elevation > 0.15f) {
    Vec3 cell = scale(d, 180);
    int32_t cx = static_cast<int32_t>(std::floor(cell.x)), cy = static_cast<int32_t>(std::floor(cell.y)),
            cz = static_cast<int32_t>(std::floor(cell.z));
    uint32_t h = hash3(cx, cy, cz, 1002);
    if ((h & 255) < 5) {
      Vec3 centre{cx + 0.5f, cy + 0.5f, cz + 0.5f};
      float dist = length(sub(cell, centre));
      float b = std::exp(-dist * dist * 8) * smoothStep(0.15f, 0.5f, elevation) * ((h >> 8 & 255) / 255.0f + 0.3f);
      c = add(c, scale(Vec3{0.9f, 0.9f, 1.0f}, b));
    }
  }
  // The sun and its glow.
  c = add(c, scale(Vec3{1.0f, 0.7f, 0.4f}, 0.5f * std::pow(clamp01(sun_cos), 24.0f)));
  c = add(c, scale(Vec3{1.0f, 0.95f, 0.8f}, smoothStep(0.9985f, 0.9995f, sun_cos)));
  return c;
}

Vec3 skyboxDirection(int face, int x, int y) {
  // Corner positions of each face (half edge 1) at texture corners (lo, lo), (hi, lo), (lo, hi),
  // (hi, hi), as the skybox draws them; lo and hi are the centres of the edge texels.
  static const float kCorners[6][4][3] = {
      {{-1, 1, -1}, {-1, 1, 1}, {-1, -1, -1}, {-1, -1, 1}},  // x = -S
      {{1, -1, 1}, {1, -1, -1}, {-1, -1, 1}, {-1, -1, -1}},  // y = -S
      {{1, 1, 1}, {1, 1, -1}, {1, -1, 1}, {1, -1, -1}},      // x = +S
      {{1, 1, -1}, {1, 1, 1}, {-1, 1, -1}, {-1, 1, 1}},      // y = +S
      {{1, 1, -1}, {-1, 1, -1}, {1, -1, -1}, {-1, -1, -1}},  // z = -S
      {{-1, 1, 1}, {1, 1, 1}, {-1, -1, 1}, {1, -1, 1}},      // z = +S
  };
  const float(*c)[3] = kCorners[face];
  float s = static_cast<float>(x) / (kSize - 1), t = static_cast<float>(y) / (kSize - 1);
  float w00 = (1 - s) * (1 - t), w10 = s * (1 - t), w01 = (1 - s) * t, w11 = s * t;
  return Vec3{w00 * c[0][0] + w10 * c[1][0] + w01 * c[2][0] + w11 * c[3][0],
              w00 * c[0][1] + w10 * c[1][1] + w01 * c[2][1] + w11 * c[3][1],
              w00 * c[0][2] + w10 * c[1][2] + w01 * c[2][2] + w11 * c[3][2]};
}

RgbImage makeSkyboxFace(int face) {
  RgbImage image = blank(kSize, kSize);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) put(&image, x, y, skyColour(skyboxDirection(face, x, y)));
  return image;
}

RgbImage makeStartLogo() {
  return makeLogo({{"VOMMIKAS", 120, 9.0f, {1.0f, 0.85f, 0.55f}},
                   {"TELJAKKO", 200, 9.0f, {1.0f, 0.7f, 0.45f}},
                   {"vUUr 2001", 330, 5.0f, {0.7f, 0.85f, 1.0f}}},
                  Vec3{0.9f, 0.45f, 0.2f}, 1201);
}

RgbImage makeEndLogo() {
  return makeLogo({{"THE END", 150, 10.0f, {0.8f, 0.9f, 1.0f}},
                   {"VOMMIKAS TELJAKKO", 290, 4.0f, {1.0f, 0.85f, 0.55f}},
                   {"vUUr 2001", 340, 4.0f, {1.0f, 0.7f, 0.45f}}},
                  Vec3{0.3f, 0.5f, 1.0f}, 1301);
}

// Each icon pixel is the mean of the logo pixels whose centres fall inside it, which for sizes that do
// not divide the logo's (48) still weighs the whole logo evenly. Its alpha is the share of 4 × 4
// points inside it that lie within the rounded square.
RgbaImage makeIcon(int size) {
  RgbImage logo = makeStartLogo();
  const double ratio = double(logo.width) / size, corner = 0.125 * size;
  RgbaImage icon{size, size, std::vector<uint8_t>(size_t(size) * size * 4)};
  auto first = [ratio](int i) { return int(std::ceil(i * ratio - 0.5)); };
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      double sum[3] = {0, 0, 0};
      int count = 0;
      for (int ly = first(y); ly < first(y + 1); ++ly) {
        for (int lx = first(x); lx < first(x + 1); ++lx, ++count) {
          const uint8_t* p = &logo.rgb[(size_t(ly) * logo.width + lx) * 3];
          for (int c = 0; c < 3; ++c) sum[c] += p[c];
        }
      }
      int inside = 0;
      for (int sy = 0; sy < 4; ++sy) {
        for (int sx = 0; sx < 4; ++sx) {
          double px = x + (sx + 0.5) / 4, py = y + (sy + 0.5) / 4;
          double dx = std::max({corner - px, 0.0, px - (size - corner)});
          double dy = std::max({corner - py, 0.0, py - (size - corner)});
          inside += dx * dx + dy * dy <= corner * corner;
        }
      }
      uint8_t* out = &icon.rgba[(size_t(y) * size + x) * 4];
      for (int c = 0; c < 3; ++c) out[c] = uint8_t(sum[c] / count + 0.5);
      out[3] = uint8_t((inside * 255 + 8) / 16);
    }
  }
  return icon;
}
