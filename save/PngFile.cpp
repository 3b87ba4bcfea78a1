#include "save/PngFile.h"

#include "app/ErrorReport.h"

#include <QColorSpace>
#include <QIODevice>
#include <QImage>
#include <csetjmp>
#include <png.h>

namespace {

constexpr int ZlibLevel = 1;
constexpr int RowFilter = PNG_FILTER_SUB;

// What went wrong, kept beside libpng's own state: the device refused bytes, or the library
// stopped.
struct Sink {
    QIODevice *device = nullptr;
    bool deviceFailed = false;
};

void writeBytes(png_structp png, png_bytep data, png_size_t length) {
    auto *sink = static_cast<Sink *>(png_get_io_ptr(png));
    if (sink->device->write(reinterpret_cast<const char *>(data), qint64(length)) !=
        qint64(length)) {
        sink->deviceFailed = true;
        png_error(png, "write failed");
    }
}

void flushNothing(png_structp) {}

// libpng's warnings (a profile it finds odd, say) are no failures of the save.
void ignoreWarning(png_structp, png_const_charp) {}

// The profile's name: printable Latin-1, 1 to 79 characters.
QByteArray ProfileName(const QColorSpace &space) {
    QByteArray name = space.description().toLatin1().left(79).trimmed();
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 || (u > 126 && u < 161)) {
            return QByteArrayLiteral("ICC profile");
        }
    }
    return name.isEmpty() ? QByteArrayLiteral("Custom") : name;
}

// The part that libpng may leave by its long jump: nothing here owns anything, so nothing is
// skipped when it does. False when the library stopped.
bool Encode(png_structp png, png_infop info, const QImage &image, const QByteArray &profile,
            const QByteArray &profileName) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_IHDR(png, info, png_uint_32(image.width()), png_uint_32(image.height()), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
                 PNG_FILTER_TYPE_BASE);
    png_set_compression_level(png, ZlibLevel);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, RowFilter);
    if (!profile.isEmpty()) {
        png_set_iCCP(png, info, profileName.constData(), PNG_COMPRESSION_TYPE_BASE,
                     reinterpret_cast<png_const_bytep>(profile.constData()),
                     png_uint_32(profile.size()));
    }
    if (image.dotsPerMeterX() > 0 && image.dotsPerMeterY() > 0) {
        png_set_pHYs(png, info, png_uint_32(image.dotsPerMeterX()),
                     png_uint_32(image.dotsPerMeterY()), PNG_RESOLUTION_METER);
    }
    png_write_info(png, info);
    // 32-bit pixels as they lie in memory: blue, green, red, unused on a little-endian machine.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
#else
    png_set_filler(png, 0, PNG_FILLER_BEFORE);
#endif
    for (int y = 0; y < image.height(); ++y) {
        png_write_row(png, image.constScanLine(y));
    }
    png_write_end(png, info);
    return true;
}

} // namespace

void WritePngFile(QIODevice &device, const QImage &image) {
    if (image.isNull() || image.depth() != 32) {
        throw RuntimeError("Invalid picture");
    }
    const QColorSpace space = image.colorSpace();
    const QByteArray profile = space.isValid() ? space.iccProfile() : QByteArray();
    const QByteArray profileName = ProfileName(space);
    Sink sink{&device, false};
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, ignoreWarning);
    png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        throw RuntimeError("Out of memory");
    }
    png_set_write_fn(png, &sink, writeBytes, flushNothing);
    // A profile libpng would quarrel with is kept, as it came: the picture's own.
    png_set_benign_errors(png, 1);
#ifdef PNG_SKIP_sRGB_CHECK_PROFILE
    png_set_option(png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
#endif
    const bool written = Encode(png, info, image, profile, profileName);
    png_destroy_write_struct(&png, &info);
    if (!written) {
        throw RuntimeError(sink.deviceFailed ? "Disk full" : "Invalid picture");
    }
}
