// HEIF pictures (HEIC, AVIF) through libheif, which decodes HEVC and AV1 and applies the
// container's transforms (crop, rotation, mirroring) itself.
#include "workspace/PhotoFormats.h"

#include "app/ErrorReport.h"

#include <libheif/heif.h>

#include <QColorSpace>
#include <QList>
#include <QtEndian>
#include <memory>
#include <vector>

namespace {

using Context = std::unique_ptr<heif_context, decltype(&heif_context_free)>;
using Handle = std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)>;
using Image = std::unique_ptr<heif_image, decltype(&heif_image_release)>;
using Options = std::unique_ptr<heif_decoding_options, decltype(&heif_decoding_options_free)>;

// Metadata items larger than this are not camera data or XMP a photo carries.
constexpr size_t LargestItem = size_t(16) * 1024 * 1024;

[[noreturn]] void fail(const heif_error &error) {
    throw RuntimeError(error.code == heif_error_Memory_allocation_error ? "Out of memory"
                                                                        : "Invalid picture");
}

// The file's context (reading from the caller's bytes, which must outlive it) and its primary
// picture.
struct Primary {
    Context context{nullptr, heif_context_free};
    Handle handle{nullptr, heif_image_handle_release};
};

Primary openPrimary(const QByteArray &file) {
    Primary p;
    p.context.reset(heif_context_alloc());
    if (!p.context) {
        throw RuntimeError("Out of memory");
    }
    heif_error error = heif_context_read_from_memory_without_copy(p.context.get(), file.constData(),
                                                                  size_t(file.size()), nullptr);
    if (error.code != heif_error_Ok) {
        fail(error);
    }
    heif_image_handle *handle = nullptr;
    error = heif_context_get_primary_image_handle(p.context.get(), &handle);
    if (error.code != heif_error_Ok || handle == nullptr) {
        fail(error);
    }
    p.handle.reset(handle);
    return p;
}

PhotoMetadata metadataOf(heif_image_handle *handle) {
    PhotoMetadata m;
    const int count = heif_image_handle_get_number_of_metadata_blocks(handle, nullptr);
    if (count <= 0) {
        return m;
    }
    std::vector<heif_item_id> ids(static_cast<size_t>(count));
    const int listed =
        heif_image_handle_get_list_of_metadata_block_IDs(handle, nullptr, ids.data(), count);
    for (int i = 0; i < listed; ++i) {
        const QByteArray type = heif_image_handle_get_metadata_type(handle, ids[size_t(i)]);
        const QByteArray content =
            heif_image_handle_get_metadata_content_type(handle, ids[size_t(i)]);
        const bool exif = type == "Exif" && m.exif.isEmpty();
        const bool xmp = type == "mime" && content == "application/rdf+xml" && m.xmp.isEmpty();
        const size_t size = heif_image_handle_get_metadata_size(handle, ids[size_t(i)]);
        if ((!exif && !xmp) || size == 0 || size > LargestItem) {
            continue;
        }
        QByteArray data(qsizetype(size), Qt::Uninitialized);
        if (heif_image_handle_get_metadata(handle, ids[size_t(i)], data.data()).code !=
            heif_error_Ok) {
            continue;
        }
        if (exif) {
            m.exif = ExifFromBox(data);
        } else {
            m.xmp = data;
        }
    }
    return m;
}

QByteArray iccProfileOf(heif_image_handle *handle) {
    const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle);
    if (type != heif_color_profile_type_prof && type != heif_color_profile_type_rICC) {
        return {};
    }
    const size_t size = heif_image_handle_get_raw_color_profile_size(handle);
    if (size == 0 || size > LargestItem) {
        return {};
    }
    QByteArray icc(qsizetype(size), Qt::Uninitialized);
    if (heif_image_handle_get_raw_color_profile(handle, icc.data()).code != heif_error_Ok) {
        return {};
    }
    return icc;
}

// The colour space a file names by code points instead of a profile: only Display P3 needs
// saying (sRGB is what a picture without a profile is taken to be anyway). Transfer codes of
// BT.709 and its kin are shown with the sRGB curve, as displays show them.
QColorSpace namedColourSpace(heif_image_handle *handle) {
    heif_color_profile_nclx *nclx = nullptr;
    if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code != heif_error_Ok ||
        nclx == nullptr) {
        return {};
    }
    const int primaries = nclx->color_primaries;
    const int transfer = nclx->transfer_characteristics;
    heif_nclx_color_profile_free(nclx);
    const bool srgbLike =
        transfer == 1 || transfer == 6 || transfer == 13 || transfer == 14 || transfer == 15;
    if (primaries == 12 && srgbLike) {
        return QColorSpace(QColorSpace::DisplayP3);
    }
    return {};
}

} // namespace

bool IsHeifFile(const QByteArray &head) {
    // An ISO base media file whose file type box names a HEIF brand, as its major brand or among
    // its compatible ones (an AVIF sequence names "avis" first, and "avif" or "mif1" after).
    static const QList<QByteArray> brands = {"mif1", "mif2", "msf1", "heic", "heix",
                                             "heim", "heis", "hevc", "hevx", "hevm",
                                             "hevs", "avif", "avis", "avio"};
    if (head.size() < 16 || head.mid(4, 4) != "ftyp") {
        return false;
    }
    const qsizetype boxSize = qFromBigEndian<quint32>(head.constData());
    const qsizetype end = qMin(head.size(), boxSize);
    for (qsizetype at = 8; at + 4 <= end; at += at == 8 ? 8 : 4) {
        if (brands.contains(head.mid(at, 4))) {
            return true;
        }
    }
    return false;
}

LoadedPicture LoadHeifPicture(const QByteArray &file, qint64 maxDecodedBytes) {
    Primary primary = openPrimary(file);
    heif_image_handle *handle = primary.handle.get();
    // The size shown and the size stored (before a crop): the larger is what decoding allocates.
    const qint64 shown =
        qint64(heif_image_handle_get_width(handle)) * qint64(heif_image_handle_get_height(handle));
    const qint64 stored = qint64(heif_image_handle_get_ispe_width(handle)) *
                          qint64(heif_image_handle_get_ispe_height(handle));
    if (shown <= 0) {
        throw RuntimeError("Invalid picture");
    }
    if (qMax(shown, stored) * 4 > maxDecodedBytes) {
        throw RuntimeError("Out of memory");
    }
    const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    Options options(heif_decoding_options_alloc(), heif_decoding_options_free);
    if (!options) {
        throw RuntimeError("Out of memory");
    }
    options->convert_hdr_to_8bit = 1;
    heif_image *decoded = nullptr;
    const heif_error error = heif_decode_image(
        handle, &decoded, heif_colorspace_RGB,
        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    if (error.code != heif_error_Ok || decoded == nullptr) {
        fail(error);
    }
    const Image image(decoded, heif_image_release);
    int stride = 0;
    const uint8_t *pixels =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (pixels == nullptr || width <= 0 || height <= 0 ||
        heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8) {
        throw RuntimeError("Invalid picture");
    }
    const QImage::Format format = !alpha ? QImage::Format_RGB888
                                  : heif_image_handle_is_premultiplied_alpha(handle)
                                      ? QImage::Format_RGBA8888_Premultiplied
                                      : QImage::Format_RGBA8888;
    const QImage view(pixels, width, height, stride, format);
    LoadedPicture picture;
    picture.image = view.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (picture.image.isNull()) {
        throw RuntimeError("Out of memory");
    }
    PhotoMetadata metadata = metadataOf(handle);
    metadata.icc = iccProfileOf(handle);
    // A profile Qt cannot use leaves the pixels without a colour space; its bytes still go into
    // a JPG saved from them.
    picture.image.setColorSpace(metadata.icc.isEmpty() ? namedColourSpace(handle)
                                                       : QColorSpace::fromIccProfile(metadata.icc));
    picture.exif = metadata.exif;
    picture.jpegHead = MetadataHead(metadata, picture.image.size());
    return picture;
}

PhotoMetadata ReadHeifMetadata(const QByteArray &file) {
    try {
        const Primary primary = openPrimary(file);
        return metadataOf(primary.handle.get());
    } catch (const RuntimeError &) {
        return {};
    }
}
