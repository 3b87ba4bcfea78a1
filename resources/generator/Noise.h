#pragma once

// Small deterministic noise toolkit for the resource generator. Everything derives from an
// integer hash, so the same seed paints the same pixels on every platform and compiler
// (no std:: distributions, whose output differs between standard libraries).

#include <cmath>
#include <cstdint>

namespace resgen {

inline std::uint32_t hash32(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

inline std::uint32_t hash2(int x, int y, std::uint32_t seed) {
    return hash32(static_cast<std::uint32_t>(x) * 0x9e3779b1U ^
                  hash32(static_cast<std::uint32_t>(y) + seed * 0x85ebca6bU));
}

// Uniform value in [0, 1) for an integer lattice point.
inline float unit(int x, int y, std::uint32_t seed) {
    return static_cast<float>(hash2(x, y, seed) >> 8) * (1.0f / 16777216.0f);
}

// Roughly Gaussian value (mean 0, deviation 1) from four uniform draws.
inline float gauss(int x, int y, std::uint32_t seed) {
    float s =
        unit(x, y, seed) + unit(x, y, seed + 101) + unit(x, y, seed + 202) + unit(x, y, seed + 303);
    return (s - 2.0f) * 1.7320508f;
}

inline float fade(float t) {
    return t * t * t * (t * (t * 6.0f - 15.0f) + 10.0f);
}
inline float lerp(float a, float b, float t) {
    return a + (b - a) * t;
}
inline float clamp01(float v) {
    return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}
inline float smoothstep(float e0, float e1, float v) {
    float t = clamp01((v - e0) / (e1 - e0));
    return t * t * (3.0f - 2.0f * t);
}

// Gradient (Perlin-style) noise in about [-1, 1].
inline float gradNoise(float x, float y, std::uint32_t seed) {
    int ix = static_cast<int>(std::floor(x));
    int iy = static_cast<int>(std::floor(y));
    float fx = x - static_cast<float>(ix);
    float fy = y - static_cast<float>(iy);
    auto corner = [&](int cx, int cy, float dx, float dy) {
        float a =
            static_cast<float>(hash2(ix + cx, iy + cy, seed) & 0xffffU) * (6.2831853f / 65536.0f);
        return std::cos(a) * dx + std::sin(a) * dy;
    };
    float u = fade(fx);
    float v = fade(fy);
    float n00 = corner(0, 0, fx, fy);
    float n10 = corner(1, 0, fx - 1.0f, fy);
    float n01 = corner(0, 1, fx, fy - 1.0f);
    float n11 = corner(1, 1, fx - 1.0f, fy - 1.0f);
    return 1.41421356f * lerp(lerp(n00, n10, u), lerp(n01, n11, u), v);
}

// Fractal sum of octaves, about [-1, 1].
inline float fbm(float x, float y, int octaves, std::uint32_t seed, float gain = 0.5f) {
    float sum = 0.0f;
    float amp = 1.0f;
    float norm = 0.0f;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * gradNoise(x, y, seed + static_cast<std::uint32_t>(i) * 7919U);
        norm += amp;
        amp *= gain;
        x = x * 2.03f + 17.1f;
        y = y * 2.03f - 9.7f;
    }
    return sum / norm;
}

// Ridged fractal: sharp crests where the underlying noise crosses zero, in [0, 1].
inline float ridged(float x, float y, int octaves, std::uint32_t seed) {
    float sum = 0.0f;
    float amp = 1.0f;
    float norm = 0.0f;
    float weight = 1.0f;
    for (int i = 0; i < octaves; ++i) {
        float n = 1.0f - std::fabs(gradNoise(x, y, seed + static_cast<std::uint32_t>(i) * 104729U));
        n *= n;
        n *= weight;
        weight = clamp01(n * 1.6f);
        sum += amp * n;
        norm += amp;
        amp *= 0.5f;
        x = x * 2.07f + 3.3f;
        y = y * 2.07f + 5.9f;
    }
    return sum / norm;
}

} // namespace resgen
