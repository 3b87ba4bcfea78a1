#include "batch/CaptionKeep.h"

#include "save/ChangedBlocks.h"
#include "save/KeepPhoto.h"
#include "save/KeptJpeg.h"
#include "save/Previews.h"

#include "Decision.h"

#include <QPainter>

namespace {

// The photo at a fraction of its size, for the previews its segments hold: a quarter is plenty
// for thumbnails; a large preview in the MPF index wants more.
int previewReduction(const JpegHeader &source) {
    for (const JpegSegment &s : source.segments) {
        if (s.marker == 0xE2 && s.payload.startsWith(QByteArray("MPF\0", 4))) {
            return 2;
        }
    }
    return HoldsPreviews(source.segments) ? 4 : 0;
}

} // namespace

KeptCaption CaptionKeepingBlocks(const CaptionOptions &options, const QByteArray &file,
                                 const CaptionOutput &output) {
    const JpegHeader source = ReadJpegHeader(file);
    if (!source.valid) {
        return {QStringLiteral("its file is not a JPEG whose blocks can be read")};
    }
    const QSize stored(source.width, source.height);
    const int o = source.orientation;
    const QSize shown = ShownSize(stored, o);
    const Caption &caption = options.caption;
    const CaptionPlan plan = PlanCaption(options, shown);
    const QRect footprint = CaptionFootprint(caption, shown, plan.at, plan.area, plan.scale);
    try {
        const int reduction = previewReduction(source);
        KeptJpeg kept(file, reduction);
        QImage small = StoredToShown(kept.reduced(), o);
        const QRect mcus = kept.mcusAround(ShownToStored(footprint, o, stored), 1);
        if (!mcus.isEmpty()) {
            // The MCUs under the caption and one more around them, whose colour blends into
            // theirs, as the picture is shown; the caption stamped as on the whole picture.
            const QRect part = StoredToShown(mcus, o, stored);
            QImage stamped = StoredToShown(kept.pixels(mcus), o);
            const QImage before = stamped.copy();
            RenderCaption(stamped, caption, plan.at - QPointF(part.topLeft()), plan.area,
                          plan.scale);
            if (source.components == 1 &&
                HasColourIn(stamped, {footprint.translated(-part.topLeft())})) {
                return {QStringLiteral("it is a greyscale photo and the caption has colour")};
            }
            QList<QRect> areas;
            for (const QRect &r : ChangedMcus(before, stamped, part.topLeft(), source)) {
                areas << ShownToStored(r, o, stored);
            }
            kept.replace(ShownToStored(stamped, o), mcus.topLeft(), areas);
            if (!small.isNull()) {
                QPainter painter(&small);
                painter.setRenderHint(QPainter::SmoothPixmapTransform);
                const qreal r = reduction;
                painter.drawImage(
                    QRectF(part.x() / r, part.y() / r, part.width() / r, part.height() / r),
                    stamped);
            }
        }
        const KeepMetadata metadata = MetadataForKeep(source, small, file);
        const safe::Decision nothingThere;
        kept.write(output.path, options.overwrite ? nullptr : &nothingThere, metadata.segments,
                   metadata.after);
        return {QString(), metadata.after.dropped};
    } catch (const CannotKeepPhoto &e) {
        return {QString::fromUtf8(e.what())};
    }
}
