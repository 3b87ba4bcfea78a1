#pragma once

#include <QtGlobal>

// Zoom arithmetic, free of the window.
namespace ZoomMath {

// Zoomed sizes must stay below these limits, in pixels.
constexpr qint32 WidthLimit = 13400;
constexpr qint32 HeightLimit = 11900;
constexpr float MinFactor = 0.25f;
constexpr float MaxFactor = 3.0f;
constexpr float Step = 0.25f;

// floor(factor x size), the product formed in double precision.
qint32 ZoomedSize(float factor, qint32 size);
// The next factor in single precision: a quarter less when shrink is not 0, else a quarter more.
float NextFactor(float factor, qint32 shrink);
bool InRange(float factor);
bool WithinLimits(qint32 zoomedWidth, qint32 zoomedHeight);

} // namespace ZoomMath
