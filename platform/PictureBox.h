#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <QWidget>

// A picture box: an assigned picture that sizes the box, and a persistent drawing surface of the
// box's own size into which drawing goes and stays. What the box shows is the surface.
class PictureBox : public QWidget {
    Q_OBJECT
public:
    explicit PictureBox(QWidget *parent = nullptr);

    // Assigns a picture; the box takes the picture's pixel size and the surface starts as the
    // picture. A null image empties the picture and leaves the box's size alone.
    void setPicture(const QImage &picture, QSize himetric = QSize());
    void clearPicture();
    // Lets go of both the picture and the drawing surface; the box keeps its size.
    void release();
    bool hasPicture() const { return !picture_.isNull(); }
    const QImage &picture() const { return picture_; }
    // The picture's size in HiMetric units (0.01 mm), as the picture loader reported it.
    QSize pictureHimetric() const { return himetric_; }

    bool autoRedraw() const { return autoRedraw_; }
    void setAutoRedraw(bool on) { autoRedraw_ = on; }
    // True when the box has a persistent image to draw into (it has an area).
    bool hasImage() const { return width() > 0 && height() > 0; }
    // The persistent image at the box's current size.
    QImage image() const;
    // The persistent image for drawing into, at the box's current size.
    QImage &surface();
    // Replaces the surface with an image of the box's size (no copy if the sizes agree).
    void setSurface(const QImage &image);

    // Clears the drawing: the surface shows the assigned picture (or the background) again.
    void cls();
    // Stretch-draws the source rectangle of an image into the destination rectangle.
    void paintPicture(const QImage &source, const QRect &destination, const QRect &sourceRect);

    // A sunken border of the given width; children then go into client(), the inner area.
    void setBorder(int width);
    QWidget *client() { return client_ != nullptr ? client_ : this; }
    // The inner area's size, in pixels.
    int scaleWidth() const { return width() - 2 * border_; }
    int scaleHeight() const { return height() - 2 * border_; }

    QColor backColor() const { return backColor_; }
    void setBackColor(const QColor &colour);
    void refresh() { update(); }

signals:
    void clicked();
    void mouseMoved(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPointF position);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void fitSurface();

    QImage picture_;
    QSize himetric_;
    mutable QImage surface_;
    QColor backColor_ = QColor(0xF0, 0xF0, 0xF0);
    bool autoRedraw_ = true;
    bool pressed_ = false;
    int border_ = 0;
    QWidget *client_ = nullptr;
};
