// JPEG XL pictures through libjxl, which applies the codestream's orientation itself and shows an
// animation's first frame with the frames under it merged, as a still reader does.
#include "workspace/PhotoFormats.h"

#include "app/ErrorReport.h"

#include <jxl/decode.h>
#include <jxl/decode_cxx.h>
#include <jxl/thread_parallel_runner.h>
#include <jxl/thread_parallel_runner_cxx.h>

#include <QColorSpace>

namespace {

// Boxes larger than this (once decompressed) are not camera data or XMP a photo carries.
constexpr qsizetype LargestBox = qsizetype(16) * 1024 * 1024;

// The decoder over the caller's bytes, which must outlive it.
JxlDecoderPtr decoderFor(const QByteArray &file, int events) {
    JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    if (!decoder || JxlDecoderSubscribeEvents(decoder.get(), events) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(decoder.get(), reinterpret_cast<const uint8_t *>(file.constData()),
                           size_t(file.size())) != JXL_DEC_SUCCESS) {
        throw RuntimeError("Out of memory");
    }
    JxlDecoderCloseInput(decoder.get());
    return decoder;
}

// For pixels coded in the format's own colour space (XYB) the decoder may give them in any
// space it can name: the file's own when it names one, with the sRGB curve where its curve would
// not keep 8 bits well (linear, PQ, HLG); sRGB when the file carries a profile instead.
void chooseOutputSpace(JxlDecoder *decoder, const JxlBasicInfo &info) {
    if (info.uses_original_profile) {
        return;
    }
    JxlColorEncoding space{};
    const bool named =
        JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                                           &space) == JXL_DEC_SUCCESS;
    const bool grey = info.num_color_channels == 1;
    if (!named || space.color_space == JXL_COLOR_SPACE_XYB ||
        space.color_space == JXL_COLOR_SPACE_UNKNOWN) {
        space = JxlColorEncoding{};
        space.color_space = grey ? JXL_COLOR_SPACE_GRAY : JXL_COLOR_SPACE_RGB;
        space.white_point = JXL_WHITE_POINT_D65;
        space.primaries = JXL_PRIMARIES_SRGB;
        space.rendering_intent = JXL_RENDERING_INTENT_PERCEPTUAL;
    }
    if (space.transfer_function != JXL_TRANSFER_FUNCTION_SRGB &&
        space.transfer_function != JXL_TRANSFER_FUNCTION_709 &&
        space.transfer_function != JXL_TRANSFER_FUNCTION_GAMMA) {
        space.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
    }
    JxlDecoderSetPreferredColorProfile(decoder, &space);
}

// The profile of the pixels as the decoder gives them.
QByteArray outputProfile(JxlDecoder *decoder) {
    size_t size = 0;
    if (JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) !=
            JXL_DEC_SUCCESS ||
        size == 0 || qsizetype(size) > LargestBox) {
        return {};
    }
    QByteArray icc(qsizetype(size), Qt::Uninitialized);
    if (JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                       reinterpret_cast<uint8_t *>(icc.data()),
                                       size) != JXL_DEC_SUCCESS) {
        return {};
    }
    return icc;
}

} // namespace

bool IsJpegXlFile(const QByteArray &head) {
    const JxlSignature signature =
        JxlSignatureCheck(reinterpret_cast<const uint8_t *>(head.constData()), size_t(head.size()));
    return signature == JXL_SIG_CODESTREAM || signature == JXL_SIG_CONTAINER;
}

LoadedPicture LoadJpegXlPicture(const QByteArray &file, qint64 maxDecodedBytes) {
    const JxlDecoderPtr decoder =
        decoderFor(file, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE);
    const JxlThreadParallelRunnerPtr runner =
        JxlThreadParallelRunnerMake(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads());
    if (runner) {
        JxlDecoderSetParallelRunner(decoder.get(), JxlThreadParallelRunner, runner.get());
    }
    const JxlPixelFormat format{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    JxlBasicInfo info{};
    QImage image;
    QByteArray icc;
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
        if (status == JXL_DEC_BASIC_INFO) {
            if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS ||
                info.xsize == 0 || info.ysize == 0) {
                throw RuntimeError("Invalid picture");
            }
            // Refused before the decoder allocates anything for the picture.
            if (qint64(info.xsize) * qint64(info.ysize) * 4 > maxDecodedBytes) {
                throw RuntimeError("Out of memory");
            }
        } else if (status == JXL_DEC_COLOR_ENCODING) {
            chooseOutputSpace(decoder.get(), info);
            icc = outputProfile(decoder.get());
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            // Orientations 5 to 8 turn the picture a quarter.
            const bool quarter = info.orientation >= JXL_ORIENT_TRANSPOSE;
            const int width = int(quarter ? info.ysize : info.xsize);
            const int height = int(quarter ? info.xsize : info.ysize);
            image = QImage(width, height,
                           info.alpha_bits == 0       ? QImage::Format_RGBX8888
                           : info.alpha_premultiplied ? QImage::Format_RGBA8888_Premultiplied
                                                      : QImage::Format_RGBA8888);
            if (image.isNull()) {
                throw RuntimeError("Out of memory");
            }
            size_t needed = 0;
            if (JxlDecoderImageOutBufferSize(decoder.get(), &format, &needed) != JXL_DEC_SUCCESS ||
                needed != size_t(image.sizeInBytes()) ||
                JxlDecoderSetImageOutBuffer(decoder.get(), &format, image.bits(), needed) !=
                    JXL_DEC_SUCCESS) {
                throw RuntimeError("Invalid picture");
            }
        } else if (status == JXL_DEC_FULL_IMAGE) {
            break; // the first frame is the picture
        } else {
            // An error, data that ends early, or the end without a picture.
            throw RuntimeError("Invalid picture");
        }
    }
    LoadedPicture picture;
    picture.image =
        image.convertToFormat(info.alpha_bits == 0 ? QImage::Format_RGB32 : QImage::Format_ARGB32);
    if (picture.image.isNull()) {
        throw RuntimeError("Out of memory");
    }
    picture.image.setColorSpace(QColorSpace::fromIccProfile(icc));
    PhotoMetadata metadata = ReadJpegXlMetadata(file);
    metadata.icc = icc;
    picture.exif = metadata.exif;
    picture.jpegHead = MetadataHead(metadata, picture.image.size());
    return picture;
}

PhotoMetadata ReadJpegXlMetadata(const QByteArray &file) {
    PhotoMetadata m;
    try {
        const JxlDecoderPtr decoder = decoderFor(file, JXL_DEC_BOX);
        if (JxlDecoderSetDecompressBoxes(decoder.get(), JXL_TRUE) != JXL_DEC_SUCCESS) {
            return m;
        }
        QByteArray box;
        QByteArray *into = nullptr; // the field the current box goes to, if any
        // Takes what the decoder wrote of the current box; false when it outgrew the limit.
        const auto collect = [&]() {
            const size_t unused = JxlDecoderReleaseBoxBuffer(decoder.get());
            box.truncate(box.size() - qsizetype(unused));
        };
        const auto finish = [&]() {
            if (into != nullptr) {
                collect();
                *into = into == &m.exif ? ExifFromBox(box) : box;
                into = nullptr;
            }
        };
        for (;;) {
            const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
            if (status == JXL_DEC_BOX) {
                finish();
                JxlBoxType type{};
                if (JxlDecoderGetBoxType(decoder.get(), type, JXL_TRUE) != JXL_DEC_SUCCESS) {
                    continue;
                }
                const QByteArray name(type, 4);
                into = name == "Exif" && m.exif.isEmpty()  ? &m.exif
                       : name == "xml " && m.xmp.isEmpty() ? &m.xmp
                                                           : nullptr;
                if (into != nullptr) {
                    box = QByteArray(64 * 1024, Qt::Uninitialized);
                    JxlDecoderSetBoxBuffer(decoder.get(), reinterpret_cast<uint8_t *>(box.data()),
                                           size_t(box.size()));
                }
            } else if (status == JXL_DEC_BOX_NEED_MORE_OUTPUT && into != nullptr) {
                collect();
                const qsizetype written = box.size();
                if (written * 2 > LargestBox) {
                    into = nullptr;
                    JxlDecoderReleaseBoxBuffer(decoder.get());
                    continue;
                }
                box.resize(written * 2);
                JxlDecoderSetBoxBuffer(decoder.get(),
                                       reinterpret_cast<uint8_t *>(box.data()) + written,
                                       size_t(box.size() - written));
            } else if (status == JXL_DEC_SUCCESS) {
                finish();
                return m;
            } else {
                // A damaged or cut container: what was read whole stays.
                return m;
            }
        }
    } catch (const RuntimeError &) {
        return m;
    }
}
