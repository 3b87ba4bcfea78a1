#pragma once

// A JPEG photo kept as it was in this process: its blocks read once (converter/KeepBlocks.h,
// the converter's own code), the pixels of only the MCUs under a caption decoded from them, the
// MCUs the caption changed encoded anew, and the photo written again through the safe replace
// with its metadata and what followed its first picture. The caption command keeps photos this
// way; the window hands the same work to the converter.

#include "app/ErrorReport.h"
#include "save/JpegHeader.h"
#include "save/MultiPicture.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QRect>

#include <filesystem>
#include <memory>

class KeptBlocks;
namespace safe {
struct Decision;
}

// The photo's blocks cannot be kept: what() says why, in words for the user.
class CannotKeepPhoto : public RuntimeError {
public:
    using RuntimeError::RuntimeError;
};

class KeptJpeg {
public:
    // Reads the blocks of the JPEG `file`; with a `reduction` of 2, 4 or 8, the picture at that
    // fraction of its size too, from the same reading. Throws CannotKeepPhoto.
    KeptJpeg(const QByteArray &file, int reduction);
    ~KeptJpeg();
    KeptJpeg(const KeptJpeg &) = delete;
    KeptJpeg &operator=(const KeptJpeg &) = delete;

    // The whole MCUs of the stored frame that a rectangle of it meets, `margin` MCUs more on
    // every side, within the frame.
    QRect mcusAround(const QRect &stored, int margin) const;
    // The pixels of whole MCUs (as mcusAround gives them), decoded from their blocks alone:
    // exact but in the outer MCUs, where colour from beyond would blend in.
    QImage pixels(const QRect &mcus);
    // The picture reduced as asked, each side rounded up (stored frame); null unless asked for.
    QImage reduced() const;
    // Encodes the MCUs that meet `areas` (stored frame) anew from `stamped`, which lies at `at`
    // in the stored frame. Throws RuntimeError.
    void replace(const QImage &stamped, QPoint at, const QList<QRect> &areas);
    // Writes the photo at `path` (over only what `decided` allows), `segments` after its start
    // and `after` after its first picture. Throws CannotKeepPhoto (nothing written) or
    // RuntimeError saying what went wrong.
    void write(const std::filesystem::path &path, const safe::Decision *decided,
               const QList<JpegSegment> &segments, const PicturesAfterFirst &after);

private:
    QByteArray file_;
    std::unique_ptr<KeptBlocks> blocks_;
};
