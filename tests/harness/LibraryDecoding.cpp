#include "LibraryDecoding.h"

#include "FileHeaders.h"

#include <libheif/heif.h>

#include <jxl/decode.h>
#include <jxl/decode_cxx.h>

#include <QFile>

namespace {

QImage decodeHeif(const QString &path) {
    QImage out;
    heif_context *context = heif_context_alloc();
    heif_image_handle *handle = nullptr;
    heif_image *image = nullptr;
    if (heif_context_read_from_file(context, QFile::encodeName(path).constData(), nullptr).code ==
            heif_error_Ok &&
        heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok &&
        heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGBA,
                          nullptr)
                .code == heif_error_Ok) {
        int stride = 0;
        const uint8_t *pixels =
            heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
        out = QImage(pixels, heif_image_get_width(image, heif_channel_interleaved),
                     heif_image_get_height(image, heif_channel_interleaved), stride,
                     heif_image_handle_is_premultiplied_alpha(handle)
                         ? QImage::Format_RGBA8888_Premultiplied
                         : QImage::Format_RGBA8888)
                  .copy();
    }
    heif_image_release(image);
    heif_image_handle_release(handle);
    heif_context_free(context);
    return out;
}

QImage decodeJpegXl(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray bytes = file.readAll();
    const JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    JxlDecoderSubscribeEvents(decoder.get(),
                              JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE);
    JxlDecoderSetInput(decoder.get(), reinterpret_cast<const uint8_t *>(bytes.constData()),
                       size_t(bytes.size()));
    JxlDecoderCloseInput(decoder.get());
    const JxlPixelFormat format{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    JxlBasicInfo info{};
    QImage image;
    for (;;) {
        switch (JxlDecoderProcessInput(decoder.get())) {
        case JXL_DEC_BASIC_INFO:
            JxlDecoderGetBasicInfo(decoder.get(), &info);
            if (qint64(info.xsize) * info.ysize > qint64(1) << 28) {
                return {};
            }
            break;
        case JXL_DEC_COLOR_ENCODING: {
            JxlColorEncoding srgb{};
            srgb.color_space =
                info.num_color_channels == 1 ? JXL_COLOR_SPACE_GRAY : JXL_COLOR_SPACE_RGB;
            srgb.white_point = JXL_WHITE_POINT_D65;
            srgb.primaries = JXL_PRIMARIES_SRGB;
            srgb.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
            JxlDecoderSetPreferredColorProfile(decoder.get(), &srgb);
            break;
        }
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            const bool turned = info.orientation >= JXL_ORIENT_TRANSPOSE;
            image =
                QImage(int(turned ? info.ysize : info.xsize), int(turned ? info.xsize : info.ysize),
                       info.alpha_premultiplied ? QImage::Format_RGBA8888_Premultiplied
                                                : QImage::Format_RGBA8888);
            JxlDecoderSetImageOutBuffer(decoder.get(), &format, image.bits(),
                                        size_t(image.sizeInBytes()));
            break;
        }
        case JXL_DEC_FULL_IMAGE:
            return image;
        default:
            return {};
        }
    }
}

} // namespace

bool IsPhotoFormatFile(const QString &path) {
    const QByteArray start = FileStart(path, 12);
    return start.mid(4, 4) == "ftyp" || start.startsWith("\xFF\x0A") ||
           start.startsWith(QByteArray("\0\0\0\x0CJXL ", 8));
}

QImage DecodeWithItsLibrary(const QString &path) {
    return FileStart(path, 12).mid(4, 4) == "ftyp" ? decodeHeif(path) : decodeJpegXl(path);
}
