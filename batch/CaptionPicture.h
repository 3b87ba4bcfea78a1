#pragma once

#include "batch/CaptionOptions.h"

#include <QPointF>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <filesystem>

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
// program does not write. A file whose content is a JPEG is written as JPG whatever its name
// (".mpo", none), under its own extension when that is a JPEG one (".mpo" too), else ".jpg".
struct CaptionOutput {
    std::filesystem::path path;
    QString format;
};
CaptionOutput OutputFor(const CaptionOptions &options, const std::filesystem::path &input);
// The output's name in its folder with the extension's field left empty, from the input's name
// alone (no file is read): pictures whose outputs are one file have the same key.
QByteArray OutputNameKey(const CaptionOptions &options, const std::filesystem::path &input);

class CaptionWriter;

// How a picture was written: the JPG quality it was encoded at (0 when its JPEG blocks were kept
// or it is no JPG), whether its blocks were kept, why they could not be when that was asked and
// impossible, and whether the pictures its file held after the first one (a gain map, a second
// view, a preview) were left out, since they did not match the picture as written.
struct CaptionResult {
    int quality = 0;
    bool kept = false;
    QString notKept;
    bool droppedPictures = false;
};

// Loads the picture, stamps the caption and writes it through the writer (`index` tells it from
// the other pictures in flight); throws RuntimeError saying what failed.
CaptionResult CaptionPictureFile(const CaptionOptions &options, const std::filesystem::path &input,
                                 const CaptionOutput &output, CaptionWriter &writer, int index);
