#include "text/CaptionMasks.h"

#include <QColor>
#include <cmath>
#include <limits>

namespace {

// The squared distance of each point to the nearest point whose f is 0, along one line (the
// lower envelope of parabolas, in linear time). f holds 0 or a very large value.
void distanceAlongLine(const double *f, int n, double *d, int *v, double *z) {
    constexpr double far = std::numeric_limits<double>::infinity();
    const auto meet = [f](int q, int p) {
        return ((f[q] + double(q) * q) - (f[p] + double(p) * p)) / (2.0 * q - 2.0 * p);
    };
    int k = 0;
    v[0] = 0;
    z[0] = -far;
    z[1] = far;
    for (int q = 1; q < n; ++q) {
        double s = meet(q, v[k]);
        while (s <= z[k]) {
            --k;
            s = meet(q, v[k]);
        }
        ++k;
        v[k] = q;
        z[k] = s;
        z[k + 1] = far;
    }
    k = 0;
    for (int q = 0; q < n; ++q) {
        while (z[k + 1] < q) {
            ++k;
        }
        const double dq = q - v[k];
        d[q] = dq * dq + f[v[k]];
    }
}

void boxBlurPass(std::vector<quint16> &values, int width, int height, int radius, bool rows) {
    const int lines = rows ? height : width;
    const int length = rows ? width : height;
    const qsizetype step = rows ? 1 : width;
    const int window = 2 * radius + 1;
    std::vector<quint16> line(size_t(length), 0);
    for (int l = 0; l < lines; ++l) {
        quint16 *start = values.data() + (rows ? qsizetype(l) * width : l);
        for (int i = 0; i < length; ++i) {
            line[size_t(i)] = start[i * step];
        }
        int sum = 0;
        for (int i = 0; i < qMin(radius, length); ++i) {
            sum += line[size_t(i)];
        }
        for (int i = 0; i < length; ++i) {
            if (i + radius < length) {
                sum += line[size_t(i + radius)];
            }
            if (i - radius - 1 >= 0) {
                sum -= line[size_t(i - radius - 1)];
            }
            start[i * step] = quint16((sum + window / 2) / window);
        }
    }
}

} // namespace

Mask MaskOf(const QImage &image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    Mask m{argb.width(), argb.height(), {}};
    m.alpha.resize(size_t(m.width) * size_t(m.height));
    for (int y = 0; y < m.height; ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < m.width; ++x) {
            m.alpha[size_t(y) * size_t(m.width) + size_t(x)] = quint8(qAlpha(row[x]));
        }
    }
    return m;
}

Mask Grown(const Mask &mask, qreal radius) {
    const int w = mask.width, h = mask.height;
    if (w <= 0 || h <= 0 || !(radius > 0)) {
        return mask;
    }
    constexpr double far = 1e20;
    const int n = qMax(w, h);
    std::vector<double> f(static_cast<size_t>(n)), d(static_cast<size_t>(n));
    std::vector<double> z(static_cast<size_t>(n) + 1);
    std::vector<int> v(static_cast<size_t>(n));
    std::vector<double> squared(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            f[size_t(x)] = mask.at(x, y) >= 128 ? 0.0 : far;
        }
        distanceAlongLine(f.data(), w, d.data(), v.data(), z.data());
        for (int x = 0; x < w; ++x) {
            squared[size_t(y) * size_t(w) + size_t(x)] = d[size_t(x)];
        }
    }
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y) {
            f[size_t(y)] = squared[size_t(y) * size_t(w) + size_t(x)];
        }
        distanceAlongLine(f.data(), h, d.data(), v.data(), z.data());
        for (int y = 0; y < h; ++y) {
            squared[size_t(y) * size_t(w) + size_t(x)] = d[size_t(y)];
        }
    }
    Mask grown{w, h, std::vector<quint8>(mask.alpha.size())};
    for (size_t i = 0; i < grown.alpha.size(); ++i) {
        const double cover = qBound(0.0, radius + 0.5 - std::sqrt(squared[i]), 1.0);
        grown.alpha[i] = quint8(qMax(int(mask.alpha[i]), int(std::lround(cover * 255.0))));
    }
    return grown;
}

Mask Shifted(const Mask &mask, int dx, int dy) {
    Mask moved{mask.width, mask.height, std::vector<quint8>(mask.alpha.size(), 0)};
    for (int y = qMax(0, dy); y < qMin(mask.height, mask.height + dy); ++y) {
        for (int x = qMax(0, dx); x < qMin(mask.width, mask.width + dx); ++x) {
            moved.alpha[size_t(y) * size_t(mask.width) + size_t(x)] = mask.at(x - dx, y - dy);
        }
    }
    return moved;
}

void Blur(Mask &mask, int radius) {
    if (radius <= 0 || mask.width <= 0 || mask.height <= 0) {
        return;
    }
    std::vector<quint16> values(mask.alpha.begin(), mask.alpha.end());
    for (int pass = 0; pass < 3; ++pass) {
        boxBlurPass(values, mask.width, mask.height, radius, true);
        boxBlurPass(values, mask.width, mask.height, radius, false);
    }
    for (size_t i = 0; i < values.size(); ++i) {
        mask.alpha[i] = quint8(values[i]);
    }
}

QImage Painted(const Mask &mask, const QColor &colour, qreal opacity) {
    QImage image(mask.width, mask.height, QImage::Format_ARGB32_Premultiplied);
    const QRgb rgb = colour.rgb();
    const double scale = qBound(0.0, opacity * colour.alphaF(), 1.0);
    for (int y = 0; y < mask.height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < mask.width; ++x) {
            const int a = int(std::lround(mask.at(x, y) * scale));
            row[x] = qPremultiply(qRgba(qRed(rgb), qGreen(rgb), qBlue(rgb), a));
        }
    }
    return image;
}
