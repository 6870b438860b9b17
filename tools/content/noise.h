// Deterministic value noise for terrain, pictures and the sky (no library randomness, so two runs
// give the same bytes).
#pragma once

#include <cstdint>

uint32_t hash3(int32_t x, int32_t y, int32_t z, uint32_t seed);
// Smooth value noise in [0, 1]; `period` > 0 makes it tile every `period` units in x and y.
float valueNoise2(float x, float y, uint32_t seed, int period = 0);
float valueNoise3(float x, float y, float z, uint32_t seed);
// Sums of octaves, normalised to [0, 1].
float fractal2(float x, float y, int octaves, uint32_t seed, int period = 0);
float fractal3(float x, float y, float z, int octaves, uint32_t seed);
float smoothStep(float edge0, float edge1, float x);
float clamp01(float x);
