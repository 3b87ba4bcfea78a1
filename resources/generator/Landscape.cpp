#include "generator/Landscape.h"

#include "generator/Noise.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace resgen {
namespace {

struct Rgb {
    float r = 0, g = 0, b = 0;
};

Rgb mix(Rgb a, Rgb b, float t) {
    return {lerp(a.r, b.r, t), lerp(a.g, b.g, t), lerp(a.b, b.b, t)};
}
Rgb scale(Rgb a, float k) {
    return {a.r * k, a.g * k, a.b * k};
}

class Canvas {
public:
    Canvas(int w, int h) : w_(w), h_(h), px_(static_cast<size_t>(w) * static_cast<size_t>(h)) {}
    int width() const { return w_; }
    int height() const { return h_; }
    Rgb &at(int x, int y) { return px_[static_cast<size_t>(y) * static_cast<size_t>(w_) + x]; }
    // Bilinear read with the coordinates clamped to the canvas.
    Rgb sample(float x, float y) const {
        x = std::clamp(x, 0.0f, static_cast<float>(w_ - 1));
        y = std::clamp(y, 0.0f, static_cast<float>(h_ - 1));
        int x0 = static_cast<int>(x);
        int y0 = static_cast<int>(y);
        int x1 = std::min(x0 + 1, w_ - 1);
        int y1 = std::min(y0 + 1, h_ - 1);
        float fx = x - static_cast<float>(x0);
        float fy = y - static_cast<float>(y0);
        Rgb top = mix(get(x0, y0), get(x1, y0), fx);
        Rgb bottom = mix(get(x0, y1), get(x1, y1), fx);
        return mix(top, bottom, fy);
    }

private:
    Rgb get(int x, int y) const {
        return px_[static_cast<size_t>(y) * static_cast<size_t>(w_) + x];
    }
    int w_, h_;
    std::vector<Rgb> px_;
};

constexpr std::uint32_t kSeed = 20240611U;

// Scene geometry, all in pixels of the output picture.
struct Scene {
    float w, h;
    float horizon; // the far shore line where the lake meets the land
    float sunX, sunY;
};

Rgb skyColor(const Scene &s, float x, float y) {
    const Rgb zenith{46, 96, 172};
    const Rgb middle{104, 156, 214};
    const Rgb low{196, 214, 230};
    float t = clamp01(y / s.horizon);
    Rgb c = t < 0.55f ? mix(zenith, middle, smoothstep(0.0f, 0.55f, t))
                      : mix(middle, low, std::pow((t - 0.55f) / 0.45f, 1.3f));
    float dx = (x - s.sunX) / s.w;
    float dy = (y - s.sunY) / s.w;
    float glow = std::exp(-(dx * dx + dy * dy) * 9.0f);
    return mix(c, Rgb{255, 244, 222}, 0.35f * glow);
}

// Clouds lie on a plane seen in perspective: small and flat near the horizon, large overhead.
Rgb addClouds(const Scene &s, Rgb sky, float x, float y) {
    float above = s.horizon - y;
    float depth = 1.0f / (above + 60.0f);
    float u = (x - s.w * 0.5f) * depth * 2.2f;
    float v = 900.0f * depth;
    float n = fbm(u * 1.1f + 3.0f, v * 2.6f, 7, kSeed + 11, 0.55f);
    float cover = smoothstep(-0.02f, 0.38f, n + 0.10f * fbm(u * 0.3f, v * 0.5f, 3, kSeed + 12));
    if (cover <= 0.0f)
        return sky;
    // Light comes from the sun: compare the density a little towards it.
    float n2 = fbm(u * 1.1f + 3.0f + 0.035f, v * 2.6f - 0.06f, 7, kSeed + 11, 0.55f);
    float lit = clamp01(0.62f + (n - n2) * 5.0f);
    float thick = smoothstep(0.1f, 0.7f, n);
    Rgb shade = mix(Rgb{214, 220, 230}, Rgb{150, 160, 178}, thick);
    Rgb cloud = mix(shade, Rgb{253, 251, 246}, lit);
    float fadeLow = smoothstep(0.0f, 120.0f, above); // thin out into the haze at the horizon
    float alpha = cover * (0.55f + 0.45f * fadeLow);
    return mix(sky, cloud, alpha * 0.95f);
}

float farRidge(const Scene &s, float x) {
    float envelope = 0.38f + 0.62f * std::exp(-std::pow((x - 0.34f * s.w) / (0.30f * s.w), 2.0f));
    float r = ridged(x * 0.0042f, 0.37f, 7, kSeed + 21);
    float broad = 0.5f + 0.5f * gradNoise(x * 0.0016f, 1.3f, kSeed + 22);
    return s.horizon - 40.0f - 250.0f * envelope * (0.65f * r + 0.35f * broad);
}

float midRidge(const Scene &s, float x) {
    float n = fbm(x * 0.0035f, 4.1f, 6, kSeed + 31);
    float envelope = 0.55f + 0.45f * std::exp(-std::pow((x - 0.85f * s.w) / (0.25f * s.w), 2.0f));
    return s.horizon - 18.0f - 120.0f * envelope * (0.55f + 0.45f * n);
}

// A row of conifers on the far shore: each tree a narrow spike, tallest wins.
float treeLine(const Scene &s, float x) {
    float best = 4.0f + 5.0f * (0.5f + 0.5f * gradNoise(x * 0.02f, 7.0f, kSeed + 41));
    int cell = static_cast<int>(std::floor(x / 6.0f));
    for (int c = cell - 3; c <= cell + 3; ++c) {
        float cx = (static_cast<float>(c) + unit(c, 1, kSeed + 42)) * 6.0f;
        float stand = 0.5f + 0.5f * gradNoise(cx * 0.006f, 2.0f, kSeed + 43);
        float height = (8.0f + 22.0f * unit(c, 2, kSeed + 42)) * (0.25f + 1.0f * stand);
        float halfWidth = height * 0.28f + 1.5f;
        float t = 1.0f - std::fabs(x - cx) / halfWidth;
        if (t > 0.0f)
            best = std::max(best, height * t);
    }
    return s.horizon - best;
}

// The ridge line with fewer octaves: the big faces of the range, used for their shading.
float farRidgeSmooth(const Scene &s, float x) {
    float envelope = 0.38f + 0.62f * std::exp(-std::pow((x - 0.34f * s.w) / (0.30f * s.w), 2.0f));
    float r = ridged(x * 0.0042f, 0.37f, 3, kSeed + 21);
    float broad = 0.5f + 0.5f * gradNoise(x * 0.0016f, 1.3f, kSeed + 22);
    return s.horizon - 40.0f - 250.0f * envelope * (0.65f * r + 0.35f * broad);
}

Rgb farMountain(const Scene &s, float x, float y, float top) {
    float below = y - top;
    float depth = below / std::max(s.horizon - top, 1.0f);
    // A face below a crest that falls away to the right looks towards the sun. Going down,
    // the face boundary wanders so that the shading does not fall in straight columns.
    float xs = x + below * 0.6f * gradNoise(x * 0.01f, y * 0.01f, kSeed + 23);
    float faceSlope = (farRidgeSmooth(s, xs + 5.0f) - farRidgeSmooth(s, xs - 5.0f)) / 10.0f;
    // Gullies: ridged texture stretched down the faces.
    float fx = (x + 0.15f * below) * 0.02f;
    float fy = y * 0.006f;
    float gL = ridged(fx - 0.012f, fy, 5, kSeed + 24);
    float gR = ridged(fx + 0.012f, fy, 5, kSeed + 24);
    float fine = ridged(x * 0.07f, y * 0.03f, 3, kSeed + 29) -
                 ridged(x * 0.07f + 0.05f, y * 0.03f, 3, kSeed + 29);
    float light = clamp01(0.42f + 1.2f * faceSlope * std::exp(-below * 0.004f) + (gR - gL) * 5.0f +
                          fine * 2.0f);
    Rgb rockDark{46, 54, 72};
    Rgb rockLit{156, 152, 148};
    Rgb rock = mix(rockDark, rockLit, light);
    float tone = fbm(x * 0.01f, y * 0.03f, 4, kSeed + 28);
    rock = mix(rock, Rgb{112, 102, 90}, 0.22f * clamp01(tone + 0.3f));
    // Snow lies on the high ground and in the gullies a little lower.
    float altitude = s.horizon - y;
    float snowLine = 175.0f + 35.0f * fbm(x * 0.006f, y * 0.01f, 4, kSeed + 25);
    float gully = ridged(fx * 1.3f, fy * 2.0f, 5, kSeed + 26);
    float snow = smoothstep(snowLine - 50.0f, snowLine + 10.0f, altitude + 80.0f * (gully - 0.45f));
    snow *= 0.75f + 0.25f * light;
    Rgb snowColor = mix(Rgb{140, 160, 196}, Rgb{250, 250, 252}, smoothstep(0.2f, 0.7f, light));
    Rgb c = mix(rock, snowColor, clamp01(snow));
    float grain = fbm(x * 0.2f, y * 0.2f, 3, kSeed + 27);
    c = scale(c, 1.0f + 0.07f * grain);
    Rgb haze = skyColor(s, x, s.horizon - 10.0f);
    return mix(c, haze, 0.16f + 0.5f * smoothstep(0.45f, 1.0f, depth));
}

Rgb midHill(const Scene &s, float x, float y, float top) {
    float depth = (y - top) / std::max(s.horizon - top, 1.0f);
    float forest = fbm(x * 0.22f, y * 0.3f, 4, kSeed + 32);
    float patches = fbm(x * 0.008f, y * 0.02f, 4, kSeed + 33);
    float hL = fbm((x - 2.0f) * 0.01f, y * 0.012f, 4, kSeed + 34);
    float hR = fbm((x + 2.0f) * 0.01f, y * 0.012f, 4, kSeed + 34);
    float light = clamp01(0.5f + (hR - hL) * 5.0f);
    Rgb dark{28, 48, 50};
    Rgb lit{92, 122, 88};
    Rgb c = mix(dark, lit, clamp01(light + 0.45f * forest + 0.2f * patches));
    Rgb haze = skyColor(s, x, s.horizon - 10.0f);
    return mix(c, haze, 0.16f + 0.30f * smoothstep(0.3f, 1.0f, depth));
}

Rgb treeColor(float x, float y) {
    float n = fbm(x * 0.25f, y * 0.25f, 3, kSeed + 44);
    Rgb c = mix(Rgb{20, 36, 30}, Rgb{48, 70, 50}, clamp01(0.45f + 0.6f * n));
    return c;
}

float shoreLine(const Scene &s, float x) {
    return s.h * 0.86f + 26.0f * fbm(x * 0.003f, 9.0f, 5, kSeed + 51) -
           30.0f * std::exp(-std::pow((x - 0.2f * s.w) / (0.2f * s.w), 2.0f));
}

Rgb water(const Scene &s, const Canvas &upper, float x, float y) {
    float dist = y - s.horizon;
    float k = dist / (s.h - s.horizon);
    // Ripples: wider and stronger towards the viewer.
    float waveScale = 1.0f / (dist + 12.0f);
    float wx = gradNoise(x * 0.02f, 400.0f * waveScale, kSeed + 61) * (1.0f + 10.0f * k);
    float wy = gradNoise(x * 0.006f, 900.0f * waveScale, kSeed + 62) * (1.0f + 6.0f * k);
    Rgb refl = upper.sample(x + wx, s.horizon - dist - wy * 2.0f);
    float fresnel = 0.92f - 0.40f * k;
    Rgb deep{26, 52, 64};
    Rgb c = mix(deep, scale(refl, 0.84f), fresnel);
    float streak = gradNoise(x * 0.01f, y * 0.25f, kSeed + 63);
    float glint = smoothstep(0.55f, 0.95f, gradNoise(x * 0.05f, y * 0.7f, kSeed + 64));
    c = scale(c, 1.0f + 0.06f * streak);
    c = mix(c, Rgb{235, 238, 240}, 0.25f * glint * (1.0f - k));
    return c;
}

// Grass blades at a fixed scale: thin vertical strokes, screen-aligned so they stay upright.
float blades(float x, float y, float size, std::uint32_t seed) {
    return gradNoise(x / size, y / (size * 9.0f), seed) * 0.6f +
           gradNoise(x / (size * 0.5f), y / (size * 4.0f), seed + 1) * 0.4f;
}

Rgb meadow(const Scene &s, float x, float y, float shore) {
    float near = clamp01((y - shore) / (s.h - shore));
    float patches = fbm(x * 0.006f, y * 0.016f, 5, kSeed + 71);
    float dryness = clamp01(0.45f + 0.9f * patches);
    Rgb base = mix(Rgb{58, 98, 36}, Rgb{150, 146, 76}, dryness);
    // Blend blade layers of growing size towards the viewer.
    float small = blades(x, y, 1.6f, kSeed + 72);
    float medium = blades(x, y, 3.2f, kSeed + 74);
    float large = blades(x, y, 6.0f, kSeed + 76);
    float b = lerp(lerp(small, medium, smoothstep(0.0f, 0.5f, near)), large,
                   smoothstep(0.4f, 1.0f, near));
    Rgb c = scale(base, 0.92f + 0.45f * b);
    c = mix(c, Rgb{200, 196, 120}, 0.25f * smoothstep(0.35f, 0.8f, b) * dryness);
    // Scattered flowers, larger near the bottom edge.
    float cellSize = 4.0f + 12.0f * near;
    int cx = static_cast<int>(std::floor(x / cellSize));
    int cy = static_cast<int>(std::floor(y / cellSize));
    if (unit(cx, cy, kSeed + 73) < 0.06f) {
        float px = (static_cast<float>(cx) + 0.2f + 0.6f * unit(cx, cy, kSeed + 75)) * cellSize;
        float py = (static_cast<float>(cy) + 0.2f + 0.6f * unit(cx, cy, kSeed + 77)) * cellSize;
        float r = std::hypot(x - px, y - py) / (0.6f + cellSize * 0.12f);
        float pick = unit(cx, cy, kSeed + 74);
        Rgb petal = pick < 0.55f ? Rgb{246, 242, 228}
                                 : (pick < 0.85f ? Rgb{240, 204, 56} : Rgb{196, 92, 150});
        c = mix(c, petal, 0.9f * smoothstep(1.0f, 0.5f, r));
    }
    // A strip of pebbles and damp earth where the grass meets the water.
    float bank = 3.0f + 9.0f * clamp01((shore - s.horizon) / (s.h - s.horizon));
    float pebble = fbm(x * 0.35f, y * 0.5f, 3, kSeed + 78);
    Rgb stones = mix(Rgb{92, 86, 72}, Rgb{168, 160, 140}, clamp01(0.5f + pebble));
    float strip =
        smoothstep(bank, bank * 0.5f, y - shore + 4.0f * fbm(x * 0.05f, 1.0f, 2, kSeed + 79));
    c = mix(c, stones, strip);
    c = scale(c,
              1.0f + 0.10f * (unit(static_cast<int>(x), static_cast<int>(y), kSeed + 80) - 0.5f));
    return scale(c, 1.0f - 0.25f * near);
}

} // namespace

QImage paintLandscape(int width, int height) {
    Scene s{static_cast<float>(width), static_cast<float>(height),
            static_cast<float>(height) * 0.60f, static_cast<float>(width) * 0.80f,
            static_cast<float>(height) * 0.08f};
    Canvas canvas(width, height);
    const int horizonRow = static_cast<int>(s.horizon);

    // Sky, mountains and the far shore, everything above the waterline.
    for (int py = 0; py <= horizonRow; ++py) {
        for (int px = 0; px < width; ++px) {
            float x = static_cast<float>(px) + 0.5f;
            float y = static_cast<float>(py) + 0.5f;
            Rgb c;
            float far = farRidge(s, x);
            float mid = midRidge(s, x);
            float trees = treeLine(s, x);
            if (y >= trees)
                c = treeColor(x, y);
            else if (y >= mid)
                c = midHill(s, x, y, mid);
            else if (y >= far)
                c = farMountain(s, x, y, far);
            else
                c = addClouds(s, skyColor(s, x, y), x, y);
            canvas.at(px, py) = c;
        }
    }
    for (int py = horizonRow + 1; py < height; ++py) {
        for (int px = 0; px < width; ++px) {
            float x = static_cast<float>(px) + 0.5f;
            float y = static_cast<float>(py) + 0.5f;
            float shore = shoreLine(s, x);
            canvas.at(px, py) = y < shore ? water(s, canvas, x, y) : meadow(s, x, y, shore);
        }
    }

    QImage image(width, height, QImage::Format_RGB32);
    const float cx = s.w * 0.5f;
    const float cy = s.h * 0.5f;
    const float maxR2 = cx * cx + cy * cy;
    for (int py = 0; py < height; ++py) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(py));
        for (int px = 0; px < width; ++px) {
            Rgb c = canvas.at(px, py);
            float dx = static_cast<float>(px) - cx;
            float dy = static_cast<float>(py) - cy;
            c = scale(c, 1.0f - 0.20f * (dx * dx + dy * dy) / maxR2);
            // Sensor noise: mostly luminance, a little colour.
            float luma = 2.4f * gauss(px, py, kSeed + 91);
            float out[3] = {c.r + luma + 1.0f * gauss(px, py, kSeed + 92),
                            c.g + luma + 0.8f * gauss(px, py, kSeed + 93),
                            c.b + luma + 1.2f * gauss(px, py, kSeed + 94)};
            int v[3];
            for (int i = 0; i < 3; ++i)
                v[i] = std::clamp(static_cast<int>(std::lround(out[i])), 0, 255);
            line[px] = qRgb(v[0], v[1], v[2]);
        }
    }
    return image;
}

} // namespace resgen
