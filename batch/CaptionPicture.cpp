#include "batch/CaptionPicture.h"

#include "app/ErrorReport.h"
#include "batch/CaptionKeep.h"
#include "batch/CaptionWriter.h"
#include "platform/FileNames.h"
#include "save/Quality.h"
#include "workspace/PictureLoader.h"

#include <QFile>
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

// True when the file's content starts as a JPEG does (start of image, then a marker).
bool holdsJpeg(const std::filesystem::path &path) {
    if (!StatusOf(path).isFile) {
        return false; // a pipe or a device is not read here: it might never answer
    }
    const OpenableName name(path);
    QFile file(name.path());
    return file.open(QIODevice::ReadOnly) && file.read(3) == QByteArray("\xFF\xD8\xFF", 3);
}

// The output's name: the pattern's fields filled in one pass, as bytes, so that the input's
// name keeps its own.
QByteArray outputName(const CaptionOptions &options, const std::filesystem::path &file,
                      const QByteArray &extension) {
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
    return name;
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
    const bool jpegName = lower == "jpg" || lower == "jpeg" || lower == "jpe" || lower == "jfif";
    if (!options.format.isEmpty()) {
        output.format = options.format;
        extension = options.format.toLatin1();
    } else if (jpegName || holdsJpeg(input)) {
        output.format = QStringLiteral("jpg");
        extension = jpegName || lower == "mpo" ? suffix : QByteArray("jpg");
    } else if (lower == "bmp") {
        output.format = QStringLiteral("bmp");
        extension = suffix;
    } else {
        output.format = QStringLiteral("png");
        extension = lower == "png" ? suffix : QByteArray("png");
    }
    output.path = options.outFolder / PathFromBytes(outputName(options, file, extension));
    return output;
}

QByteArray OutputNameKey(const CaptionOptions &options, const std::filesystem::path &input) {
    return outputName(options, input.filename(), QByteArray());
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
    const Caption caption = ownCaption(options.caption);
    CaptionOptions own = options;
    own.caption = caption;
    CaptionResult result;
    // A JPEG photo written as JPG: its whole file, for what follows its first picture; and it
    // keeps its own blocks but the caption's, where it can, from those bytes alone.
    QByteArray file;
    if (output.format == QLatin1String("jpg")) {
        QFile bytes(readable.path());
        if (bytes.open(QIODevice::ReadOnly) && bytes.peek(2) == QByteArray("\xFF\xD8", 2)) {
            file = bytes.readAll();
        }
    }
    if (options.keepBlocks && !file.isEmpty()) {
        const KeptCaption kept = CaptionKeepingBlocks(own, file, output);
        if (kept.notKept.isEmpty()) {
            result.kept = true;
            result.droppedPictures = kept.droppedPictures;
            return result;
        }
        result.notKept = kept.notKept;
    }
    LoadedPicture picture = LoadPicture(readable.path());
    if (picture.image.isNull()) {
        throw RuntimeError("Invalid picture");
    }
    const CaptionPlan plan = PlanCaption(own, picture.image.size());
    RenderCaption(picture.image, caption, plan.at, plan.area, plan.scale);

    const JpegHeader source = ReadJpegHeader(picture.jpegHead);
    if (!source.valid) {
        file.clear();
    }
    if (output.format == QLatin1String("jpg")) {
        const int estimate = source.valid ? EstimateJpegQuality(source) : 0;
        result.quality = options.quality ? *options.quality
                         : estimate > 0
                             ? estimate
                             : QualityFromRatio(picture.himetric.width(), picture.himetric.height(),
                                                StatusOf(input).size);
    }
    // Camera data goes only from a JPG into a JPG, as the window's save keeps it; a JPEG's
    // metadata goes into a JPG or PNG made of it.
    result.droppedPictures = writer.write(picture.image, output, result.quality, picture.exif,
                                          source, file, index, options.overwrite);
    return result;
}
