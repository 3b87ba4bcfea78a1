#include "platform/PictureBox.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <stdexcept>

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
    surface_ = picture_;
    resize(picture_.size());
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

QImage PictureBox::image() const {
    const_cast<PictureBox *>(this)->fitSurface();
    return surface_;
}

QImage &PictureBox::surface() {
    fitSurface();
    return surface_;
}

void PictureBox::setSurface(const QImage &image) {
    if (image.size() == size()) {
        surface_ = image;
    } else {
        surface_ = QImage();
        fitSurface();
        QPainter painter(&surface_);
        painter.drawImage(0, 0, image);
    }
    update();
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
    QImage fresh(size(), QImage::Format_RGB32);
    if (fresh.isNull()) {
        throw std::runtime_error("Out of memory");
    }
    fresh.fill(backColor_);
    if (!surface_.isNull()) {
        QPainter painter(&fresh);
        painter.drawImage(0, 0, surface_);
    }
    surface_ = fresh;
}

void PictureBox::cls() {
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

void PictureBox::paintPicture(const QImage &source, const QRect &destination,
                              const QRect &sourceRect) {
    if (destination.isEmpty() || sourceRect.isEmpty() || source.isNull()) {
        return;
    }
    if (destination == rect() && !source.hasAlphaChannel()) {
        // The drawing covers the whole box: start from a fresh surface instead of copying the
        // old one into it first, and let the old one go before the new one is allocated.
        surface_ = QImage();
        QImage fresh(size(), QImage::Format_RGB32);
        if (fresh.isNull()) {
            throw std::runtime_error("Out of memory");
        }
        surface_ = fresh;
    } else {
        fitSurface();
    }
    if (surface_.isNull()) {
        return;
    }
    QPainter painter(&surface_);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(destination, source, sourceRect);
    painter.end();
    update(destination);
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

void PictureBox::paintEvent(QPaintEvent *event) {
    QPainter painter(this);
    const QRect exposed = event->rect();
    if (border_ > 0) {
        // Sunken 3D edge: dark outer top-left, light outer bottom-right.
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
