#include "batch/CaptionPicture.h"

#include "save/KeepPhoto.h"

#include "app/ErrorReport.h"
#include "batch/CaptionWriter.h"
#include "platform/FileNames.h"
#include "save/Quality.h"
#include "workspace/PictureLoader.h"

#include <cmath>

namespace {

// The font's size in pixels at 96 dots per inch.
qreal fontPixels(const QFont &font) {
    return font.pixelSize() > 0 ? qreal(font.pixelSize()) : font.pointSizeF() * 96.0 / 72.0;
}

// A caption of its own for this thread: fonts are not shared between threads.
Caption ownCaption(const Caption &caption) {
    Caption own = caption;
    own.text = QString(caption.text.constData(), caption.text.size());
    QFont font;
    font.fromString(caption.font.toString());
    own.font = font;
    return own;
}

} // namespace

CaptionPlan PlanCaption(const CaptionOptions &options, QSize picture) {
    CaptionPlan plan;
    if (options.heightShare) {
        plan.scale = *options.heightShare * picture.height() / fontPixels(options.caption.font);
    }
    const qreal s = plan.scale;
    qreal width = 0.0;
    if (options.width) {
        width = *options.width / s;
    } else {
        // The text's own width, one pixel to spare so that laying it out again at this width
        // breaks no line; at most the picture's width inside the margins.
        const qreal natural = std::ceil(CaptionTextSize(options.caption, 0.0).width()) + 1.0;
        const qreal room = (picture.width() - 2.0 * options.margin) / s;
        width = qMax<qreal>(1.0, qMin(natural, room));
    }
    const qreal height =
        options.height ? *options.height / s : CaptionTextSize(options.caption, width).height();
    plan.area = QSizeF(width, height);
    if (options.at) {
        plan.at = QPointF(*options.at);
        return plan;
    }
    const int column = int(options.anchor) % 3;
    const int row = int(options.anchor) / 3;
    const qreal w = width * s;
    const qreal h = height * s;
    const qreal xs[] = {qreal(options.margin), (picture.width() - w) / 2.0,
                        picture.width() - options.margin - w};
    const qreal ys[] = {qreal(options.margin), (picture.height() - h) / 2.0,
                        picture.height() - options.margin - h};
    // Whole pixels, as a text box stands on the picture.
    plan.at = QPointF(std::round(xs[column]), std::round(ys[row]));
    return plan;
}

CaptionOutput OutputFor(const CaptionOptions &options, const std::filesystem::path &input) {
    const std::filesystem::path file = input.filename();
    const QByteArray suffix = PathBytes(file.extension()).mid(1);
    const QByteArray lower = suffix.toLower();
    CaptionOutput output;
    QByteArray extension;
    if (!options.format.isEmpty()) {
        output.format = options.format;
        extension = options.format.toLatin1();
    } else if (lower == "bmp") {
        output.format = QStringLiteral("bmp");
        extension = suffix;
    } else if (lower == "jpg" || lower == "jpeg" || lower == "jpe" || lower == "jfif") {
        output.format = QStringLiteral("jpg");
        extension = suffix;
    } else {
        output.format = QStringLiteral("png");
        extension = lower == "png" ? suffix : QByteArray("png");
    }
    // The pattern's fields in one pass, as bytes: the input's name keeps its own.
    const QByteArray &pattern = options.namePattern;
    const QByteArray base = PathBytes(file.stem());
    QByteArray name;
    for (qsizetype i = 0; i < pattern.size();) {
        const QByteArrayView rest = QByteArrayView(pattern).sliced(i);
        if (rest.startsWith("{name}")) {
            name += base;
            i += 6;
        } else if (rest.startsWith("{ext}")) {
            name += extension;
            i += 5;
        } else {
            name += pattern[i++];
        }
    }
    output.path = options.outFolder / PathFromBytes(name);
    return output;
}

CaptionResult CaptionPictureFile(const CaptionOptions &options, const std::filesystem::path &input,
                                 const CaptionOutput &output, CaptionWriter &writer, int index) {
    const NameStatus target = StatusOf(output.path);
    if (target.isLink && !target.exists) {
        throw RuntimeError("the output " + output.path.string() + " is a link to nothing (to " +
                           LinkTarget(output.path).string() + ")");
    }
    if (target.exists) {
        if (!options.overwrite) {
            const bool isInput = SameFile(input, output.path);
            throw RuntimeError(isInput ? "the output would replace the picture itself (use "
                                         "--overwrite to allow it)"
                                       : "the output file exists (use --overwrite to replace it)");
        }
    }
    // Read through a name Qt can pass on, whatever bytes the file's own name holds.
    const OpenableName readable(input);
    if (readable.path().isEmpty()) {
        throw RuntimeError(StatusOf(input).exists ? "Permission denied" : "File not found");
    }
    LoadedPicture picture = LoadPicture(readable.path());
    if (picture.image.isNull()) {
        throw RuntimeError("Invalid picture");
    }
    const Caption caption = ownCaption(options.caption);
    CaptionOptions own = options;
    own.caption = caption;
    const CaptionPlan plan = PlanCaption(own, picture.image.size());
    const QRect changed = RenderCaption(picture.image, caption, plan.at, plan.area, plan.scale);

    CaptionResult result;
    const JpegHeader source = ReadJpegHeader(picture.jpegHead);
    if (output.format == QLatin1String("jpg")) {
        // A JPEG photo keeps its own blocks but the caption's, where it can.
        if (options.keepBlocks && source.valid) {
            result.notKept = WhyBlocksCannotBeKept(source, picture.image, {changed});
            if (result.notKept.isEmpty()) {
                writer.writeKept(picture.image, output, input, source, {changed}, index,
                                 options.overwrite);
                result.kept = true;
                return result;
            }
        }
        const int estimate = source.valid ? EstimateJpegQuality(source) : 0;
        result.quality = options.quality ? *options.quality
                         : estimate > 0
                             ? estimate
                             : QualityFromRatio(picture.himetric.width(), picture.himetric.height(),
                                                StatusOf(input).size);
    }
    // Camera data goes only from a JPG into a JPG, as the window's save keeps it; a JPEG's
    // metadata goes into a JPG or PNG made of it.
    writer.write(picture.image, output, result.quality, picture.exif, source, index,
                 options.overwrite);
    return result;
}
