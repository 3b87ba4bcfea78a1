#include "workspace/ZoomMath.h"

#include <cmath>
#include <limits>

namespace ZoomMath {

qint32 ZoomedSize(float factor, qint32 size) {
    const double product = std::floor(double(factor) * double(size));
    if (product >= double(std::numeric_limits<qint32>::max())) {
        return std::numeric_limits<qint32>::max();
    }
    if (product <= double(std::numeric_limits<qint32>::min())) {
        return std::numeric_limits<qint32>::min();
    }
    return qint32(product);
}

float NextFactor(float factor, qint32 shrink) {
    return shrink != 0 ? factor - Step : factor + Step;
}

bool InRange(float factor) {
    return factor >= MinFactor && factor <= MaxFactor;
}

bool WithinLimits(qint32 zoomedWidth, qint32 zoomedHeight) {
    return zoomedWidth < WidthLimit && zoomedHeight < HeightLimit;
}

} // namespace ZoomMath
