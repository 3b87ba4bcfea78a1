#pragma once

#include "batch/CaptionOptions.h"

#include <QPointF>
#include <QSize>
#include <QSizeF>
#include <QString>

// Where a caption goes on a picture and how large: its area's top-left corner in pixels of the
// picture, the area in pixels of the caption (the text wraps at its width), and the picture's
// pixels per pixel of the caption, exactly as the text box would stamp it at a zoom of 1 / scale.
struct CaptionPlan {
    QPointF at;
    QSizeF area;
    qreal scale = 1.0;
};
CaptionPlan PlanCaption(const CaptionOptions &options, QSize picture);

// What a picture is written as: the path in the output folder and the format ("bmp", "jpg",
// "png"): the input's own name and format unless the options say otherwise; PNG for formats the
// program does not write.
struct CaptionOutput {
    QString path;
    QString format;
};
CaptionOutput OutputFor(const CaptionOptions &options, const QString &input);

class CaptionWriter;

// Loads the picture, stamps the caption and writes it through the writer (`index` tells it from
// the other pictures in flight); returns the JPG quality it was written at (0 for another
// format); throws RuntimeError saying what failed.
int CaptionPictureFile(const CaptionOptions &options, const QString &input,
                       const CaptionOutput &output, CaptionWriter &writer, int index);
