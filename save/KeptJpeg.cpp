#include "save/KeptJpeg.h"

#include "workspace/JpegDecoder.h"

#include "converter/KeepBlocks.h"
#include "converter/MultiPicture.h"
#include "converter/SafeReplace.h"

#include <cstring>

namespace {

std::span<const std::uint8_t> bytesOf(const QByteArray &bytes) {
    return {reinterpret_cast<const std::uint8_t *>(bytes.constData()), size_t(bytes.size())};
}

// The stamped pixels, a band of rows at a time: Format_RGB32 rows as they lie in memory.
class ImageRows : public PatchRows {
public:
    explicit ImageRows(const QImage &image) : image_(image) {}
    int width() const override { return image_.width(); }
    int height() const override { return image_.height(); }
    bmp::RowFormat format() const override {
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        return bmp::RowFormat::Bgrx;
#else
        return bmp::RowFormat::Xrgb;
#endif
    }
    bool fetch(int first, int count, const std::uint8_t **rows) override {
        if (first < 0 || first + count > image_.height()) {
            return false;
        }
        for (int i = 0; i < count; ++i) {
            rows[i] = image_.constScanLine(first + i);
        }
        return true;
    }

private:
    const QImage &image_;
};

// The JPEG's bytes go into the replacement's temporary file.
class ReplacementSink : public JpegSink {
public:
    explicit ReplacementSink(safe::Replacement &replacement) : replacement_(replacement) {}
    bool write(const std::uint8_t *data, std::size_t size) override {
        return replacement_.write(data, size);
    }

private:
    safe::Replacement &replacement_;
};

std::vector<std::uint8_t> vectorOf(const QByteArray &bytes) {
    const std::span<const std::uint8_t> span = bytesOf(bytes);
    return {span.begin(), span.end()};
}

} // namespace

KeptJpeg::KeptJpeg(const QByteArray &file, int reduction) : file_(file) {
    try {
        blocks_ = std::make_unique<KeptBlocks>(bytesOf(file_), false, reduction);
    } catch (const std::exception &e) {
        throw CannotKeepPhoto(e.what());
    }
}

KeptJpeg::~KeptJpeg() = default;

QRect KeptJpeg::mcusAround(const QRect &stored, int margin) const {
    const int mw = blocks_->mcuWidth(), mh = blocks_->mcuHeight();
    const QRect frame(0, 0, blocks_->width(), blocks_->height());
    const QRect r = stored.intersected(frame);
    if (r.isEmpty()) {
        return {};
    }
    const int x0 = qMax(0, r.left() / mw - margin) * mw;
    const int y0 = qMax(0, r.top() / mh - margin) * mh;
    const int x1 = qMin(frame.width(), (r.right() / mw + 1 + margin) * mw);
    const int y1 = qMin(frame.height(), (r.bottom() / mh + 1 + margin) * mh);
    return QRect(x0, y0, x1 - x0, y1 - y0);
}

QImage KeptJpeg::pixels(const QRect &mcus) {
    try {
        const std::vector<std::uint8_t> region =
            blocks_->regionJpeg(Area{mcus.x(), mcus.y(), mcus.width(), mcus.height()});
        return DecodeJpeg(QByteArrayView(region.data(), qsizetype(region.size()))).image;
    } catch (const std::exception &e) {
        throw CannotKeepPhoto(e.what());
    }
}

QImage KeptJpeg::reduced() const {
    const std::vector<std::uint8_t> &rows = blocks_->reduced();
    if (rows.empty()) {
        return {};
    }
    // The rows are RGB32 as it lies in memory.
    QImage image(blocks_->reducedWidth(), blocks_->reducedHeight(), QImage::Format_RGB32);
    if (image.isNull()) {
        throw RuntimeError("Out of memory");
    }
    const size_t rowBytes = size_t(image.width()) * 4;
    for (int y = 0; y < image.height(); ++y) {
        std::memcpy(image.scanLine(y), rows.data() + size_t(y) * rowBytes, rowBytes);
    }
    return image;
}

void KeptJpeg::replace(const QImage &stamped, QPoint at, const QList<QRect> &areas) {
    const QImage rgb32 = stamped.convertToFormat(QImage::Format_RGB32);
    ImageRows rows(rgb32);
    ChangedAreas changed;
    changed.patch = Area{at.x(), at.y(), rgb32.width(), rgb32.height()};
    for (const QRect &r : areas) {
        changed.areas.push_back(Area{r.x(), r.y(), r.width(), r.height()});
    }
    try {
        blocks_->replace(rows, changed);
    } catch (const std::exception &e) {
        throw RuntimeError(e.what());
    }
}

void KeptJpeg::write(const std::filesystem::path &path, const safe::Decision *decided,
                     const QList<JpegSegment> &segments, const PicturesAfterFirst &after) {
    std::vector<MarkerSegment> markers;
    for (const JpegSegment &s : segments) {
        markers.push_back(MarkerSegment{s.marker, vectorOf(s.payload)});
    }
    try {
        safe::Replacement replacement(path, decided);
        ReplacementSink sink(replacement);
        CountingSink counted(sink);
        try {
            blocks_->write(counted, markers);
            if (!after.bytes.isEmpty() || !after.fields.isEmpty()) {
                const PicturesAfter pictures{vectorOf(after.bytes),
                                             parseMpfFields(bytesOf(after.fields))};
                writePicturesAfter(pictures, counted, replacement);
            }
        } catch (const JpegSinkFailed &) {
            replacement.throwFailure();
        }
        replacement.commit();
    } catch (const CannotKeep &e) {
        throw CannotKeepPhoto(e.what());
    } catch (const safe::Failure &e) {
        throw RuntimeError(e.what());
    } catch (const RuntimeError &) {
        throw;
    } catch (const std::exception &e) {
        throw RuntimeError(e.what());
    }
}
