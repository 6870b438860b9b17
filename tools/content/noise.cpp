// Value noise on an integer lattice with a smooth quintic blend.
#include "noise.h"

#include <cmath>

uint32_t hash3(int32_t x, int32_t y, int32_t z, uint32_t seed) {
  uint32_t h = seed * 0x9E3779B9u ^ static_cast<uint32_t>(x) * 0x85EBCA6Bu ^
               static_cast<uint32_t>(y) * 0xC2B2AE35u ^ static_cast<uint32_t>(z) * 0x27D4EB2Fu;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  h *= 0x297A2D39u;
  h ^= h >> 15;
  return h;
}

static float lattice(int32_t x, int32_t y, int32_t z, uint32_t seed) {
  return static_cast<float>(hash3(x, y, z, seed) & 0xFFFFFF) / 16777215.0f;
}

static float fade(float t) { return t * t * t * (t * (t * 6 - 15) + 10); }

static int32_t wrap(int32_t value, int period) {
  if (period <= 0) return value;
  int32_t r = value % period;
  return r < 0 ? r + period : r;
}

float valueNoise2(float x, float y, uint32_t seed, int period) {
  float fx = std::floor(x), fy = std::floor(y);
  int32_t ix = static_cast<int32_t>(fx), iy = static_cast<int32_t>(fy);
  float tx = fade(x - fx), ty = fade(y - fy);
  int32_t x0 = wrap(ix, period), x1 = wrap(ix + 1, period);
  int32_t y0 = wrap(iy, period), y1 = wrap(iy + 1, period);
  float a = lattice(x0, y0, 0, seed), b = lattice(x1, y0, 0, seed);
  float c = lattice(x0, y1, 0, seed), d = lattice(x1, y1, 0, seed);
  float top = a + (b - a) * tx, bottom = c + (d - c) * tx;
  return top + (bottom - top) * ty;
}

float valueNoise3(float x, float y, float z, uint32_t seed) {
  float fx = std::floor(x), fy = std::floor(y), fz = std::floor(z);
  int32_t ix = static_cast<int32_t>(fx), iy = static_cast<int32_t>(fy), iz = static_cast<int32_t>(fz);
  float tx = fade(x - fx), ty = fade(y - fy), tz = fade(z - fz);
  float layer[2];
  for (int k = 0; k < 2; ++k) {
    float a = lattice(ix, iy, iz + k, seed), b = lattice(ix + 1, iy, iz + k, seed);
    float c = lattice(ix, iy + 1, iz + k, seed), d = lattice(ix + 1, iy + 1, iz + k, seed);
    float top = a + (b - a) * tx, bottom = c + (d - c) * tx;
    layer[k] = top + (bottom - top) * ty;
  }
  return layer[0] + (layer[1] - layer[0]) * tz;
}

float fractal2(float x, float y, int octaves, uint32_t seed, int period) {
  float sum = 0, amplitude = 1, total = 0;
  for (int o = 0; o < octaves; ++o) {
    sum += amplitude * valueNoise2(x, y, seed + o, period);
    total += amplitude;
    x *= 2;
    y *= 2;
    if (period > 0) period *= 2;
    amplitude *= 0.5f;
  }
  return sum / total;
}

float fractal3(float x, float y, float z, int octaves, uint32_t seed) {
  float sum = 0, amplitude = 1, total = 0;
  for (int o = 0; o < octaves; ++o) {
    sum += amplitude * valueNoise3(x, y, z, seed + o);
    total += amplitude;
    x *= 2;
    y *= 2;
    z *= 2;
    amplitude *= 0.5f;
  }
  return sum / total;
}

float clamp01(float x) { return x < 0 ? 0 : (x > 1 ? 1 : x); }

float smoothStep(float edge0, float edge1, float x) {
  float t = clamp01((x - edge0) / (edge1 - edge0));
  return t * t * (3 - 2 * t);
}
