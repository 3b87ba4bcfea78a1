#pragma once

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QSize>
#include <QTransform>
#include <QWidget>

// A picture box: an assigned picture that sizes the box, and a persistent drawing surface of the
// box's own size into which drawing goes and stays. What the box shows is the surface.
//
// A box can instead be a view of another box's picture (showScaled): it then owns no pixels at
// all, its paint event scales the exposed part of that picture to the screen, and drawing into it
// goes into that picture at the picture's own resolution.
class PictureBox : public QWidget {
    Q_OBJECT
public:
    explicit PictureBox(QWidget *parent = nullptr);

    // Assigns a picture; the box takes the picture's pixel size and the surface starts as the
    // picture (a view stops being one). A null image empties the picture and leaves the box's
    // size alone.
    void setPicture(const QImage &picture, QSize himetric = QSize());
    void clearPicture();
    // Lets go of both the picture and the drawing surface; the box keeps its size.
    void release();
    bool hasPicture() const { return !picture_.isNull(); }
    const QImage &picture() const { return picture_; }
    // The assigned picture, for drawing into in place.
    QImage &pictureForDrawing();
    // The picture's size in HiMetric units (0.01 mm), as the picture loader reported it.
    QSize pictureHimetric() const { return himetric_; }

    bool autoRedraw() const { return autoRedraw_; }
    void setAutoRedraw(bool on) { autoRedraw_ = on; }
    // True when the box has a persistent image to draw into (it has an area).
    bool hasImage() const { return width() > 0 && height() > 0; }
    // The image the box shows, at the box's size. For a view at another scale than 1 this makes
    // a scaled copy: only the save of a zoomed picture asks for one.
    QImage image() const;
    // What the box shows, taken so that its image can be made later, on any thread: the picture
    // (shared, not copied) and how the box shows it.
    struct Shown {
        QImage source;
        QSize size;
        qreal scale = 1.0;
        QColor background;
        bool view = false;
        // The same image as PictureBox::image() gives.
        QImage image() const;
    };
    Shown shown() const;
    // The persistent image for drawing into, at the box's current size; for a view, the source
    // picture itself (at its own resolution; see canvas()).
    QImage &surface();

    // Where drawing into the box lands: the image and the transform from the box's pixels to the
    // image's. For a view this is the source picture through the inverse of the view's scale.
    struct Canvas {
        QImage *image = nullptr;
        QTransform fromBox;
    };
    Canvas canvas();

    // Makes the box a view of the source box's picture: the box's pixel (x, y) shows the
    // picture's pixel (x / scale, y / scale), shrinking with an area-averaging filter and enlarging
    // pixel by pixel. The box lets go of its own picture and surface; its size is the caller's.
    void showScaled(PictureBox *source, qreal scale);
    bool isView() const { return viewSource_ != nullptr; }
    // Shows the first part of a picture still being loaded at the top left of a box of the whole
    // picture's size, the rest in the background colour, until a picture is assigned or the box
    // becomes a view again.
    void showFirstView(const QImage &part, QSize whole);
    qreal viewScale() const { return viewScale_; }

    // What painting has allocated so far: the number of paint events and the largest image made
    // for one of them, in bytes (a view paints the exposed part only).
    struct PaintStats {
        qint64 paints = 0;
        qint64 largestAllocation = 0;
        // When the first paint since the stats were reset ended, on the steady clock
        // (std::chrono::steady_clock, in nanoseconds); -1 before it.
        qint64 firstPaintEndNs = -1;
    };
    PaintStats paintStats() const { return paintStats_; }
    // Bytes of pixels the box holds itself (its picture and its surface, shared ones once): none
    // for a view.
    qint64 heldBytes() const;
    void resetPaintStats() { paintStats_ = PaintStats(); }

    // Clears the drawing: the surface shows the assigned picture (or the background) again.
    void cls();

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
    void paintPicture(QPainter &painter, const QRect &exposed);
    void paintBorder(QPainter &painter);

    QImage picture_;
    QSize himetric_;
    mutable QImage surface_;
    QPointer<PictureBox> viewSource_;
    qreal viewScale_ = 1.0;
    PaintStats paintStats_;
    QColor backColor_ = QColor(0xF0, 0xF0, 0xF0);
    bool autoRedraw_ = true;
    bool pressed_ = false;
    int border_ = 0;
    QWidget *client_ = nullptr;
};
