// Photos as phones write them today: HEIC, AVIF and JPEG XL files made here with the libraries'
// own encoders, stored turned (the HEIF container's rotation and mirroring, the JPEG XL
// codestream's orientation) with EXIF that says the same turn again, XMP and a colour profile.
// Loaded through "Load Picture" they stand upright at their size, turned once; a JPG saved from
// them keeps their camera data, XMP and profile, and says it is upright. The saved file is read
// back with exiftool and ImageMagick.
#include "SaveTestTools.h"

#include <libheif/heif.h>

#include <jxl/encode.h>
#include <jxl/encode_cxx.h>

#include <QColorSpace>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTransform>
#include <QtEndian>
#include <QtTest>

using namespace savetest;

namespace {

constexpr int Width = 64;
constexpr int Height = 48;
const QByteArray Make = "Pellorin Test";
const QByteArray Model = "Phone 26";
const QByteArray Xmp = "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?>"
                       "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
                       "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                       "<rdf:Description rdf:about='' xmlns:xmp='http://ns.adobe.com/xap/1.0/' "
                       "xmp:CreatorTool='Phone 26 camera'/></rdf:RDF></x:xmpmeta>"
                       "<?xpacket end='w'?>";

// The picture as it is to be seen: red top-left quarter, yellow bottom-right one, blue elsewhere.
QImage upright() {
    QImage image(Width, Height, QImage::Format_RGB888);
    image.fill(TestBlue);
    QPainter painter(&image);
    painter.fillRect(0, 0, Width / 2, Height / 2, TestRed);
    painter.fillRect(Width / 2, Height / 2, Width / 2, Height / 2, TestYellow);
    return image;
}

// The pixels a file stores so that turning them by the EXIF-numbered orientation shows the
// upright picture: 5 shows them transposed, 6 turned a quarter clockwise, 8 anticlockwise.
QImage stored(int orientation) {
    const QTransform undo = orientation == 5   ? QTransform(0, 1, 1, 0, 0, 0)
                            : orientation == 6 ? QTransform().rotate(-90)
                                               : QTransform().rotate(90);
    return upright().transformed(undo).convertToFormat(QImage::Format_RGB888);
}

// A little-endian TIFF structure with Make, Model and Orientation in IFD0.
QByteArray tiffCamera(int orientation) {
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    const auto u16 = [&](int v) { tiff.append(char(v & 0xFF)).append(char(v >> 8)); };
    const auto u32 = [&](quint32 v) { u16(int(v & 0xFFFF)), u16(int(v >> 16)); };
    const QByteArray make = Make + '\0', model = Model + '\0';
    const quint32 strings = 8 + 2 + 3 * 12 + 4;
    u16(3);
    u16(0x010F), u16(2), u32(quint32(make.size())), u32(strings);
    u16(0x0110), u16(2), u32(quint32(model.size())), u32(strings + quint32(make.size()));
    u16(0x0112), u16(3), u32(1), u16(orientation), u16(0);
    u32(0);
    return tiff + make + model;
}

QByteArray displayP3() {
    return QColorSpace(QColorSpace::DisplayP3).iccProfile();
}

// A HEIF file (HEVC or AV1) of the stored pixels with the container told to turn them.
void writeHeif(const QString &path, heif_compression_format codec, int orientation) {
    const QImage pixels = stored(orientation);
    heif_context *context = heif_context_alloc();
    heif_encoder *encoder = nullptr;
    QCOMPARE(heif_context_get_encoder_for_format(context, codec, &encoder).code, heif_error_Ok);
    heif_encoder_set_lossy_quality(encoder, 95);
    heif_image *image = nullptr;
    heif_image_create(pixels.width(), pixels.height(), heif_colorspace_RGB,
                      heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, pixels.width(), pixels.height(), 8);
    int stride = 0;
    uint8_t *plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < pixels.height(); ++y) {
        memcpy(plane + y * stride, pixels.constScanLine(y), size_t(pixels.width()) * 3);
    }
    const QByteArray icc = displayP3();
    heif_image_set_raw_color_profile(image, "prof", icc.constData(), size_t(icc.size()));
    heif_encoding_options *options = heif_encoding_options_alloc();
    options->image_orientation = heif_orientation(orientation);
    heif_image_handle *handle = nullptr;
    QCOMPARE(heif_context_encode_image(context, image, encoder, options, &handle).code,
             heif_error_Ok);
    const QByteArray exif = tiffCamera(orientation);
    heif_context_add_exif_metadata(context, handle, exif.constData(), int(exif.size()));
    heif_context_add_XMP_metadata(context, handle, Xmp.constData(), int(Xmp.size()));
    QCOMPARE(heif_context_write_to_file(context, path.toLocal8Bit().constData()).code,
             heif_error_Ok);
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(context);
}

// A JPEG XL file, lossless, in a container with an Exif box and a Brotli-compressed XMP box.
void writeJpegXl(const QString &path, int orientation) {
    const QImage pixels = stored(orientation);
    const JxlEncoderPtr encoder = JxlEncoderMake(nullptr);
    JxlEncoderUseBoxes(encoder.get());
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = uint32_t(pixels.width());
    info.ysize = uint32_t(pixels.height());
    info.bits_per_sample = 8;
    info.uses_original_profile = JXL_TRUE;
    info.orientation = JxlOrientation(orientation);
    QCOMPARE(JxlEncoderSetBasicInfo(encoder.get(), &info), JXL_ENC_SUCCESS);
    const QByteArray icc = displayP3();
    QCOMPARE(JxlEncoderSetICCProfile(encoder.get(),
                                     reinterpret_cast<const uint8_t *>(icc.constData()),
                                     size_t(icc.size())),
             JXL_ENC_SUCCESS);
    const QByteArray exif = QByteArray(4, '\0') + tiffCamera(orientation);
    JxlEncoderAddBox(encoder.get(), "Exif", reinterpret_cast<const uint8_t *>(exif.constData()),
                     size_t(exif.size()), JXL_FALSE);
    JxlEncoderAddBox(encoder.get(), "xml ", reinterpret_cast<const uint8_t *>(Xmp.constData()),
                     size_t(Xmp.size()), JXL_TRUE);
    JxlEncoderCloseBoxes(encoder.get());
    JxlEncoderFrameSettings *settings = JxlEncoderFrameSettingsCreate(encoder.get(), nullptr);
    JxlEncoderSetFrameLossless(settings, JXL_TRUE);
    QByteArray rows;
    for (int y = 0; y < pixels.height(); ++y) {
        rows.append(reinterpret_cast<const char *>(pixels.constScanLine(y)), pixels.width() * 3);
    }
    const JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    QCOMPARE(JxlEncoderAddImageFrame(settings, &format, rows.constData(), size_t(rows.size())),
             JXL_ENC_SUCCESS);
    JxlEncoderCloseInput(encoder.get());
    QByteArray file(1 << 16, '\0');
    uint8_t *next = reinterpret_cast<uint8_t *>(file.data());
    size_t room = size_t(file.size());
    QCOMPARE(JxlEncoderProcessOutput(encoder.get(), &next, &room), JXL_ENC_SUCCESS);
    file.truncate(file.size() - qsizetype(room));
    WriteAll(path, file);
}

QString tool(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

} // namespace

class PhoneFormatsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable("exiftool").isEmpty() ||
            QStandardPaths::findExecutable("convert").isEmpty()) {
            QSKIP("exiftool and ImageMagick are needed to read the saved file (scripts/setup.sh)");
        }
    }

    void turnedPhotoLoadsUprightAndKeepsItsMetadata_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("orientation");
        QTest::newRow("HEIC turned a quarter clockwise") << "phone.heic" << 6;
        QTest::newRow("AVIF transposed") << "phone.avif" << 5;
        QTest::newRow("JPEG XL turned a quarter anticlockwise") << "phone.jxl" << 8;
    }
    void turnedPhotoLoadsUprightAndKeepsItsMetadata() {
        QFETCH(QString, name);
        QFETCH(int, orientation);
        QTemporaryDir folder;
        const QString path = folder.filePath(name);
        if (name.endsWith(".jxl")) {
            writeJpegXl(path, orientation);
        } else {
            writeHeif(path, name.endsWith(".heic") ? heif_compression_HEVC : heif_compression_AV1,
                      orientation);
        }
        if (QTest::currentTestFailed()) {
            return;
        }
        Session s(path);
        QVERIFY(s.f.services.reports().isEmpty());
        const QImage shown = s.f->Picture1->image();
        QCOMPARE(shown.size(), QSize(Width, Height));
        QVERIFY(NearColour(shown.pixel(Width / 4, Height / 4), TestRed, 24));
        QVERIFY(NearColour(shown.pixel(3 * Width / 4, Height / 4), TestBlue, 24));
        QVERIFY(NearColour(shown.pixel(Width / 4, 3 * Height / 4), TestBlue, 24));
        QVERIFY(NearColour(shown.pixel(3 * Width / 4, 3 * Height / 4), TestYellow, 24));

        s.save(s.dest("photo"), 2);
        const QString jpg = s.dest("photo.jpg");
        QVERIFY(s.f.services.reports().isEmpty());
        const QStringList tags =
            tool("exiftool", {"-s3", "-n", "-IFD0:Make", "-IFD0:Model", "-IFD0:Orientation",
                              "-XMP-xmp:CreatorTool", "-File:ImageWidth", jpg})
                .split('\n');
        QCOMPARE(tags, QStringList({Make, Model, "1", "Phone 26 camera", QString::number(Width)}));
        QProcess profile;
        profile.start("convert", {jpg, "icc:-"});
        profile.waitForFinished(60000);
        QCOMPARE(profile.readAllStandardOutput(), displayP3());
    }
};

QTEST_MAIN(PhoneFormatsTest)
#include "test_phone_formats.moc"
