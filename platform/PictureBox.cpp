#include "platform/PictureBox.h"

#include <QColorSpace>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <chrono>
#include <cmath>
#include <stdexcept>

namespace {

QImage freshImage(QSize size, QImage::Format format) {
    QImage image(size, format);
    if (image.isNull()) {
        throw std::runtime_error("Out of memory");
    }
    return image;
}

// The smallest whole number of box pixels that covers a whole number of picture pixels at this
// scale (4 at 0.25, 3 at 0.75), so that a part of a shrunken view is averaged over the same
// picture pixels as the whole view would be, and parts painted at different times meet without a
// seam. 1 when no small number fits.
int alignmentFor(qreal scale) {
    for (int n = 1; n <= 64; ++n) {
        const qreal covered = n / scale;
        if (std::abs(covered - std::round(covered)) < 1e-9) {
            return n;
        }
    }
    return 1;
}

int floorTo(int value, int step) {
    return value >= 0 ? value / step * step : -((-value + step - 1) / step) * step;
}

int ceilTo(int value, int step) {
    return -floorTo(-value, step);
}

// Draws the part of a view of the source at the scale that lies in the box's rectangle `area`
// with the painter, whose origin is the box's; returns the bytes of the largest image it had to
// make.
qint64 paintView(QPainter &painter, const QImage &source, qreal scale, const QColor &background,
                 const QRect &area) {
    painter.fillRect(area, background);
    if (source.isNull() || area.isEmpty()) {
        return 0;
    }
    painter.save();
    painter.setClipRect(area);
    qint64 allocated = 0;
    if (scale == 1.0) {
        painter.drawImage(area.topLeft(), source, area);
    } else if (scale > 1.0) {
        // Enlarged pixel by pixel: only the picture pixels under the area are drawn.
        const int x0 = qMax(0, int(std::floor(area.left() / scale)));
        const int y0 = qMax(0, int(std::floor(area.top() / scale)));
        const int x1 = qMin(source.width(), int(std::ceil((area.right() + 1) / scale)));
        const int y1 = qMin(source.height(), int(std::ceil((area.bottom() + 1) / scale)));
        if (x1 > x0 && y1 > y0) {
            painter.drawImage(QRectF(x0 * scale, y0 * scale, (x1 - x0) * scale, (y1 - y0) * scale),
                              source, QRectF(x0, y0, x1 - x0, y1 - y0));
        }
    } else {
        // Shrunk by averaging: the area, widened to whole groups of picture pixels, is scaled
        // from the picture's own pixels (read in place, not copied).
        const int n = alignmentFor(scale);
        const int left = qMax(0, floorTo(area.left(), n));
        const int top = qMax(0, floorTo(area.top(), n));
        const int right = ceilTo(area.right() + 1, n);
        const int bottom = ceilTo(area.bottom() + 1, n);
        const int x0 = int(std::lround(left / scale));
        const int y0 = int(std::lround(top / scale));
        const int x1 = qMin(source.width(), int(std::lround(right / scale)));
        const int y1 = qMin(source.height(), int(std::lround(bottom / scale)));
        if (x1 > x0 && y1 > y0) {
            const int tileWidth = qMax(1, int(std::lround((x1 - x0) * scale)));
            const int tileHeight = qMax(1, int(std::lround((y1 - y0) * scale)));
            QImage part;
            if (source.depth() == 32) {
                part = QImage(source.constScanLine(y0) + qsizetype(x0) * 4, x1 - x0, y1 - y0,
                              source.bytesPerLine(), source.format());
            } else {
                part = source.copy(x0, y0, x1 - x0, y1 - y0);
                allocated = part.sizeInBytes();
            }
            const QImage tile =
                part.scaled(tileWidth, tileHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            allocated = qMax(allocated, tile.sizeInBytes());
            painter.drawImage(left, top, tile);
        }
    }
    painter.restore();
    return allocated;
}

} // namespace

PictureBox::PictureBox(QWidget *parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureBox::setPicture(const QImage &picture, QSize himetric) {
    picture_ = picture;
    himetric_ = picture.isNull() ? QSize() : himetric;
    if (picture.isNull()) {
        return;
    }
    viewSource_ = nullptr;
    surface_ = picture_;
    resize(picture_.size());
    update();
}

void PictureBox::showFirstView(const QImage &part, QSize whole) {
    viewSource_ = nullptr;
    picture_ = QImage();
    himetric_ = QSize();
    surface_ = part;
    resize(whole);
    update();
}

void PictureBox::clearPicture() {
    picture_ = QImage();
    himetric_ = QSize();
}

void PictureBox::release() {
    clearPicture();
    surface_ = QImage();
}

void PictureBox::showScaled(PictureBox *source, qreal scale) {
    viewSource_ = source;
    viewScale_ = scale > 0.0 ? scale : 1.0;
    picture_ = QImage();
    himetric_ = QSize();
    surface_ = QImage();
    update();
}

qint64 PictureBox::heldBytes() const {
    qint64 bytes = picture_.sizeInBytes();
    if (surface_.constBits() != picture_.constBits()) {
        bytes += surface_.sizeInBytes();
    }
    return bytes;
}

QImage PictureBox::image() const {
    return shown().image();
}

PictureBox::Shown PictureBox::shown() const {
    if (!isView()) {
        const_cast<PictureBox *>(this)->fitSurface();
        return {surface_, size(), 1.0, backColor_, false};
    }
    return {viewSource_->picture(), size(), viewScale_, backColor_, true};
}

QImage PictureBox::Shown::image() const {
    if (!view) {
        return source;
    }
    if (size.isEmpty()) {
        return QImage();
    }
    if (scale == 1.0 && source.size() == size) {
        return source;
    }
    QImage shownImage = freshImage(size, QImage::Format_RGB32);
    shownImage.setColorSpace(source.colorSpace());
    shownImage.setDotsPerMeterX(source.dotsPerMeterX());
    shownImage.setDotsPerMeterY(source.dotsPerMeterY());
    QPainter painter(&shownImage);
    paintView(painter, source, scale, background, QRect(QPoint(0, 0), size));
    return shownImage;
}

QImage &PictureBox::pictureForDrawing() {
    // The surface of a box whose picture has not been drawn over holds the same pixels: let go
    // of it, or the first stroke would copy the whole picture.
    if (!surface_.isNull() && surface_.constBits() == picture_.constBits()) {
        surface_ = QImage();
    }
    return picture_;
}

QImage &PictureBox::surface() {
    if (isView()) {
        return viewSource_->pictureForDrawing();
    }
    fitSurface();
    return surface_;
}

PictureBox::Canvas PictureBox::canvas() {
    if (isView()) {
        return {&viewSource_->pictureForDrawing(),
                QTransform::fromScale(1.0 / viewScale_, 1.0 / viewScale_)};
    }
    fitSurface();
    return {&surface_, QTransform()};
}

// Keeps the surface at the box's size: a grown area shows the background, the old drawing stays
// at the top left.
void PictureBox::fitSurface() {
    if (surface_.size() == size()) {
        return;
    }
    if (width() <= 0 || height() <= 0) {
        surface_ = QImage();
        return;
    }
    QImage fresh = freshImage(size(), QImage::Format_RGB32);
    fresh.fill(backColor_);
    if (!surface_.isNull()) {
        QPainter painter(&fresh);
        painter.drawImage(0, 0, surface_);
    }
    surface_ = fresh;
}

void PictureBox::cls() {
    if (isView()) {
        // A view has no drawing of its own: what it shows lives in its source.
        update();
        return;
    }
    if (!picture_.isNull() && picture_.size() == size()) {
        surface_ = picture_;
    } else {
        surface_ = QImage();
        fitSurface();
        if (!picture_.isNull() && !surface_.isNull()) {
            QPainter painter(&surface_);
            painter.drawImage(0, 0, picture_);
        }
    }
    update();
}

void PictureBox::setBackColor(const QColor &colour) {
    backColor_ = colour;
    if (client_ != nullptr) {
        QPalette pal = client_->palette();
        pal.setColor(QPalette::Window, colour);
        client_->setPalette(pal);
    }
    update();
}

void PictureBox::setBorder(int width) {
    border_ = qMax(0, width);
    if (client_ == nullptr) {
        client_ = new QWidget(this);
        client_->setMouseTracking(true);
        client_->setAttribute(Qt::WA_TransparentForMouseEvents, false);
        client_->setAutoFillBackground(true);
    }
    client_->setGeometry(border_, border_, scaleWidth(), scaleHeight());
    update();
}

void PictureBox::resizeEvent(QResizeEvent *event) {
    if (client_ != nullptr) {
        client_->setGeometry(border_, border_, scaleWidth(), scaleHeight());
    }
    QWidget::resizeEvent(event);
}

// Sunken 3D edge: dark outer top-left, light outer bottom-right.
void PictureBox::paintBorder(QPainter &painter) {
    const QRect r = rect();
    painter.fillRect(r, palette().color(QPalette::Button));
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());
    painter.setPen(palette().color(QPalette::Shadow));
    painter.drawLine(r.left() + 1, r.top() + 1, r.right() - 1, r.top() + 1);
    painter.drawLine(r.left() + 1, r.top() + 1, r.left() + 1, r.bottom() - 1);
}

void PictureBox::paintEvent(QPaintEvent *event) {
    {
        QPainter painter(this);
        paintPicture(painter, event->rect());
    }
    if (paintStats_.firstPaintEndNs < 0) {
        paintStats_.firstPaintEndNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count();
    }
}

void PictureBox::paintPicture(QPainter &painter, const QRect &exposed) {
    if (border_ > 0) {
        paintBorder(painter);
        return;
    }
    if (isView()) {
        ++paintStats_.paints;
        const qint64 allocated = paintView(painter, viewSource_->picture(), viewScale_, backColor_,
                                           exposed.intersected(rect()));
        paintStats_.largestAllocation = qMax(paintStats_.largestAllocation, allocated);
        return;
    }
    if (surface_.size() == size() && !surface_.isNull()) {
        painter.drawImage(exposed.topLeft(), surface_, exposed);
        return;
    }
    painter.fillRect(exposed, backColor_);
    if (!surface_.isNull()) {
        const QRect part = exposed.intersected(surface_.rect());
        painter.drawImage(part.topLeft(), surface_, part);
    }
}

void PictureBox::mousePressEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton) {
        pressed_ = true;
    }
    event->accept();
}

void PictureBox::mouseReleaseEvent(QMouseEvent *event) {
    const bool wasPressed = pressed_;
    pressed_ = false;
    if (event->button() == Qt::LeftButton && wasPressed &&
        rect().contains(event->position().toPoint())) {
        emit clicked();
    }
    event->accept();
}

void PictureBox::mouseMoveEvent(QMouseEvent *event) {
    emit mouseMoved(event->buttons(), event->modifiers(), event->position());
    event->accept();
}
