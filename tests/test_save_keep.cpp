// "JPG Files, photo kept as it was": the loaded JPEG photo with only the blocks under its stamps
// encoded anew, read back block by block; each reason it cannot be done, said and nothing
// written. And the metadata a photo's JPG and PNG encoded anew carry.
#include "ConverterTestTools.h"
#include "JpegBlocks.h"
#include "SaveTestTools.h"
#include "save/KeepPhoto.h"

#include <QFileInfo>
#include <QRadioButton>
#include <QSlider>
#include <QStandardPaths>
#include <QtTest>

using namespace savetest;
using convertertest::jpegSegments;

namespace {

constexpr int KeepFilter = 4;

// A photo-like picture: colour gradients with grain, so that every block has detail.
QImage Photo(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           qRgb((x * 7 + y) % 256, (y * 3 + (x ^ y)) % 256, (x + 2 * y) % 256));
    return image;
}

QString WriteJpeg(const QString &name, const QByteArray &bytes) {
    const QString path = QDir(TestDataFolder()).filePath(name);
    WriteAll(path, bytes);
    return path;
}

// Opens the box at (x, y), types the text and stamps it.
QRect Stamp(Session &s, int x, int y, const QString &text) {
    s.f->Picture1_MouseMove(Qt::NoButton, Qt::NoModifier, float(x), float(y));
    s.f->Picture1_Click();
    s.f->Text1->setText(text);
    s.f->PushButton3_Click();
    return s.f->RichTextBox1->geometry();
}

// The segments other than the first EXIF one, which carries the new thumbnail.
QList<std::pair<int, QByteArray>> SegmentsButExif(const QByteArray &jpeg) {
    QList<std::pair<int, QByteArray>> segments;
    bool exifSeen = false;
    for (const auto &s : jpegSegments(jpeg)) {
        const bool exif = s.first == 0xE1 && s.second.startsWith(QByteArray("Exif\0\0", 6));
        if ((s.first >= 0xE0 || s.first == 0xFE) && !(exif && !exifSeen))
            segments.append(s);
        exifSeen = exifSeen || exif;
    }
    return segments;
}

// A YCCK photo as Adobe's programs write it (inverted inks, an Adobe segment saying YCCK) of one
// ink colour, with a CMYK colour profile of its own (a bare header: too little for a colour
// engine to use, so the plain device formula reads it).
QByteArray YcckJpeg(int width, int height, const uchar inverted[4]) {
    using namespace jpegblocks_detail;
    static jpeg_compress_struct cinfo;
    static Error err;
    static unsigned char *buffer;
    static unsigned long size;
    buffer = nullptr;
    size = 0;
    cinfo = jpeg_compress_struct();
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(buffer);
        return QByteArray();
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_colorspace(&cinfo, JCS_YCCK);
    jpeg_start_compress(&cinfo, TRUE);
    QByteArray profile(132, '\0');
    profile[3] = char(132);
    profile.replace(12, 12, "prtrCMYKLab ");
    profile.replace(36, 4, "acsp");
    jpeg_write_icc_profile(&cinfo, reinterpret_cast<const JOCTET *>(profile.constData()),
                           unsigned(profile.size()));
    std::vector<uchar> row(size_t(width) * 4);
    for (int x = 0; x < width; ++x)
        std::memcpy(row.data() + 4 * x, inverted, 4);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW line = row.data();
        jpeg_write_scanlines(&cinfo, &line, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    const QByteArray out(reinterpret_cast<const char *>(buffer), qsizetype(size));
    std::free(buffer);
    return out;
}

} // namespace

class SaveKeepTest : public QObject {
    Q_OBJECT
private slots:
    // A camera's photo (EXIF with a thumbnail, XMP, IPTC, ICC profile), stamped twice and kept
    // twice: only the MCUs under the stamps change, at the photo's own tables and sampling.
    void onlyTheStampsBlocksChange() {
        const QString flower = CorpusFolder() + "/jpeg/pillow/flower.jpg";
        if (!QFileInfo::exists(flower))
            QSKIP("the corpus is not beside the source tree");
        const QByteArray source = ReadAll(flower);
        Session s(WriteJpeg("flower.jpg", source));
        const QRect first = Stamp(s, 120, 90, "Kept");
        s.save(s.dest("kept"), KeepFilter);
        QVERIFY2(s.f.services.reports().isEmpty(), qPrintable(s.description()));
        QVERIFY(s.f.services.messages.isEmpty());
        QVERIFY(s.cleanedUp());

        // A second stamp, saved over the first file: both stamps' blocks, nothing else.
        const QRect second = Stamp(s, 20, 20, "Twice");
        s.save(s.dest("kept"), KeepFilter, MsgAnswer::Yes);
        QCOMPARE(s.prompts(), QStringList{OverwritePrompt("kept.jpg")});
        const QByteArray kept = ReadAll(s.dest("kept.jpg"));
        const JpegBlocks before = ReadJpegBlocks(source), after = ReadJpegBlocks(kept);
        QVERIFY(before.ok && after.ok);
        const BlockCounts counts = CompareBlocks(before, after, {first, second});
        QCOMPARE(counts.differentOutside, 0);
        QVERIFY(counts.differentInside > 0);
        QCOMPARE(after.quantTables, before.quantTables);
        QCOMPARE(after.progressive, before.progressive);
        QCOMPARE(SegmentsButExif(kept), SegmentsButExif(source));
        const double ratio = double(kept.size()) / double(source.size());
        QVERIFY2(ratio > 0.85 && ratio < 1.05, qPrintable(QString::number(ratio)));
        // Both stamps are in the picture, and nothing else changed (but for the decoder's
        // blending of colour across the edges of the changed MCUs).
        const QImage shown = QImage::fromData(kept);
        const QRect changed = DifferingBounds(shown, QImage::fromData(source));
        QVERIFY(changed.intersects(first) && changed.intersects(second));
        QVERIFY(first.united(second).adjusted(-16, -16, 16, 16).contains(changed));
        QVERIFY(s.cleanedUp());
    }

    // A box much wider than its text, without a plate: the kept file changes only the blocks of
    // the MCUs under the glyphs (at the box's left end), none under the rest of the box.
    void aWideBoxChangesOnlyItsGlyphsMcus() {
        Session s(WriteJpeg("wide.jpg", EncodeJpeg(Photo(640, 160), 85, 2, 2, false, 0)));
        s.f->Picture1_MouseMove(Qt::NoButton, Qt::NoModifier, 20.0f, 60.0f);
        s.f->Picture1_Click();
        s.f->Text1->setText("Hi");
        s.f->Text1->setGeometry(10, 50, 560, s.f->Text1->height());
        s.f->PushButton3_Click();
        s.save(s.dest("kept"), KeepFilter);
        QVERIFY2(s.f.services.reports().isEmpty(), qPrintable(s.description()));
        const JpegBlocks before =
            ReadJpegBlocks(ReadAll(QDir(TestDataFolder()).filePath("wide.jpg")));
        const JpegBlocks after = ReadJpegBlocks(ReadAll(s.dest("kept.jpg")));
        const BlockCounts counts = CompareBlocks(before, after, {QRect(0, 32, 96, 64)});
        QCOMPARE(counts.differentOutside, 0);
        QVERIFY(counts.differentInside > 0);
    }

    // The pixels handed to the converter cover every MCU an area meets, also the MCU row only
    // the area's last row reaches (4:2:0, MCUs of 16 x 16: rows 20 to 32 meet rows 16 to 47).
    void keepFilesCoverTheMcusOfAnAreasLastRow() {
        QTemporaryDir dir;
        const QByteArray file = EncodeJpeg(Photo(96, 64), 80, 2, 2, false, 0);
        const QImage picture = QImage::fromData(file).convertToFormat(QImage::Format_RGB32);
        WriteKeepFiles(dir.path(), " 7", ReadJpegHeader(file), picture, {QRect(40, 20, 30, 13)},
                       file);
        QCOMPARE(ReadAll(dir.filePath(" 7.areas")).split('\n').first(), "patch 32 16");
        QCOMPARE(QImage(dir.filePath(" 7.bmp")).size(), QSize(48, 32));
    }

    // Each reason the photo cannot be kept: its message, and no file.
    void refusalsWriteNothing_data() {
        QTest::addColumn<QString>("reason");
        QTest::newRow("not a JPEG") << "the picture was not loaded from a JPEG file";
        QTest::newRow("zoomed") << "it would be saved at a zoom of 125%, not at its own size";
        QTest::newRow("changed on disk") << "the file it was loaded from has changed since it "
                                            "was loaded";
        QTest::newRow("cmyk") << "it is a CMYK photo";
        QTest::newRow("colour on grey") << "it is a greyscale photo and the caption has colour";
        // Found by the converter alone, which must neither crash nor leave a file behind.
        QTest::newRow("zero quantizer") << "its quantization table holds a zero";
    }
    void refusalsWriteNothing() {
        QFETCH(QString, reason);
        const QString tag = QTest::currentDataTag();
        const bool grey = tag == "colour on grey";
        QString path = WriteJpeg("photo.jpg", EncodeJpeg(Photo(96, 64), 80, 2, 2, false, 0, grey));
        if (tag == "not a JPEG")
            path = WriteTestPicture("card.bmp", 96, 64, "BMP");
        if (tag == "zero quantizer") {
            // The last entry of the first table, in the DQT segment the encoder wrote.
            QByteArray bytes = ReadAll(path);
            const qsizetype table = bytes.indexOf(QByteArray("\xFF\xDB", 2));
            QVERIFY(table > 0);
            bytes[table + 4 + 1 + 63] = '\0';
            WriteAll(path, bytes);
        }
        if (tag == "cmyk") {
            QProcess convert;
            convert.start("convert", {path, "-colorspace", "CMYK", path + ".cmyk.jpg"});
            if (!convert.waitForFinished(60000) || convert.exitCode() != 0)
                QSKIP("ImageMagick's convert makes the CMYK photo");
            path += ".cmyk.jpg";
        }
        Session s(path);
        if (grey) {
            s.f->Picture1_MouseMove(Qt::NoButton, Qt::NoModifier, 30.0f, 30.0f);
            s.f->Picture1_Click();
            s.f.services.colorAnswers << QColor(Qt::red);
            s.f->PushButton2_Click();
            s.f->PushButton3_Click();
        } else {
            Stamp(s, 30, 30, "No");
        }
        if (tag == "changed on disk") {
            // The same length and time, other bytes: only the hash tells.
            QFile file(path);
            const QDateTime time = QFileInfo(path).lastModified();
            QByteArray bytes = ReadAll(path);
            bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x10);
            QVERIFY(file.open(QIODevice::ReadWrite));
            file.write(bytes);
            QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
            file.close();
        }
        if (tag == "zoomed")
            s.f->PushButton10_Click();
        s.save(s.dest("photo"), KeepFilter, MsgAnswer::Yes);
        const QList<MessageRequest> &messages = s.f.services.messages;
        QVERIFY(!messages.isEmpty());
        QCOMPARE(messages.last().text,
                 "The photo cannot be saved as it was: " + reason +
                     ".\r\n\r\nNothing was saved. \"JPG Files (*.jpg)\" saves the picture as a "
                     "new JPG.");
        QCOMPARE(messages.last().icon, MsgIcon::Warning);
        QVERIFY(s.f.services.reports().isEmpty());
        QVERIFY(Entries(s.out()).isEmpty());
        QVERIFY(s.cleanedUp());
    }

    // Every metadata segment of the photo reaches its JPG, kept or written anew: a comment, an
    // extended XMP chunk as large as a segment holds, and a comment and a maker's segment that
    // stood between the scans of the progressive photo (now after the others).
    void everySegmentIsCarried_data() {
        QTest::addColumn<int>("filter");
        QTest::newRow("kept as it was") << KeepFilter;
        QTest::newRow("written anew") << 2;
    }
    void everySegmentIsCarried() {
        QFETCH(int, filter);
        QByteArray jpeg = EncodeJpeg(Photo(96, 64), 80, 2, 2, true, 0);
        QByteArray chunk = QByteArray("http://ns.adobe.com/xmp/extension/\0", 35) +
                           QByteArray(32, 'C') + QByteArray("\0\0\xFF\xBA\0\0\0\0", 8);
        chunk += QByteArray(65533 - chunk.size(), 'x');
        const QList<std::pair<int, QByteArray>> carried{
            {0xFE, "made by hand"}, {0xE1, chunk}, {0xFE, "between the scans"}, {0xE9, "maker"}};
        const auto segment = [](const std::pair<int, QByteArray> &s) {
            const int length = int(s.second.size()) + 2;
            return QByteArray(1, char(0xFF)) + char(s.first) + char(length >> 8) +
                   char(length & 0xff) + s.second;
        };
        const qsizetype secondScan = jpeg.indexOf("\xFF\xDA", jpeg.indexOf("\xFF\xDA") + 2);
        QVERIFY(secondScan > 0);
        jpeg.insert(secondScan, segment(carried[2]) + segment(carried[3]));
        jpeg.insert(2, segment(carried[0]) + segment(carried[1]));
        Session s(WriteJpeg("segments.jpg", jpeg));
        Stamp(s, 10, 10, "Mark");
        s.save(s.dest("out"), filter);
        QVERIFY2(s.f.services.reports().isEmpty(), qPrintable(s.description()));
        QList<std::pair<int, QByteArray>> found;
        for (const auto &seg : jpegSegments(ReadAll(s.dest("out.jpg"))))
            if (seg.first == 0xFE || seg.first == 0xE9 ||
                seg.second.startsWith("http://ns.adobe.com/xmp/ext"))
                found << seg;
        QCOMPARE(found, carried);
    }

    // A photo turned by its orientation and written anew upright gets thumbnails turned alike:
    // the saved picture in small (the corpus's flower, tagged by exiftool).
    void thumbnailsOfATurnedPhotoAreUpright() {
        const QString flower = CorpusFolder() + "/jpeg/pillow/flower2.jpg";
        if (!QFileInfo::exists(flower) || QStandardPaths::findExecutable("exiftool").isEmpty())
            QSKIP("needs the corpus and exiftool");
        const QString path = WriteJpeg("turned.jpg", ReadAll(flower));
        QProcess tag;
        tag.start("exiftool", {"-q", "-n", "-overwrite_original", "-IFD0:Orientation=6", path});
        QVERIFY(tag.waitForFinished(60000) && tag.exitCode() == 0);
        Session s(path);
        s.save(s.dest("upright"), 2);
        const QImage saved(s.dest("upright.jpg"));
        QCOMPARE(saved.size(), QSize(225, 300));
        for (const char *name : {"-ThumbnailImage", "-PhotoshopThumbnail"}) {
            QProcess read;
            read.start("exiftool", {"-b", name, s.dest("upright.jpg")});
            QVERIFY(read.waitForFinished(60000));
            const QImage thumbnail = QImage::fromData(read.readAllStandardOutput());
            QCOMPARE(thumbnail.size(), QSize(90, 120));
            const QImage small =
                saved.scaled(thumbnail.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            QVERIFY2(convertertest::meanError(thumbnail, small) < 8, name);
        }
    }

    // A 4:2:2 photo turned by its EXIF orientation, saved as a new JPG at 85: still 4:2:2; its
    // EXIF and XMP say it is upright; a PNG of it carries both.
    void newJpgAndPngCarryThePhotosMetadata() {
        const QByteArray xmp =
            QByteArrayLiteral("http://ns.adobe.com/xap/1.0/\0<x:xmpmeta><rdf:"
                              "Description tiff:Orientation=\"6\"/></x:xmpmeta>");
        QByteArray jpeg = EncodeJpeg(Photo(80, 48), 75, 2, 1, false, 0);
        const QByteArray exif = convertertest::exifBlock(false, 6);
        const auto segment = [](int marker, const QByteArray &payload) {
            const int length = int(payload.size()) + 2;
            return QByteArray(1, char(0xFF)) + char(marker) + char(length >> 8) +
                   char(length & 0xff) + payload;
        };
        jpeg.insert(2, segment(0xE1, exif) + segment(0xE1, xmp));
        Session s(WriteJpeg("turned.jpg", jpeg));
        QCOMPARE(s.f->Picture1->image().size(), QSize(48, 80));
        s.f->Option21->setChecked(false);
        s.f->Option22->setChecked(true);
        s.f->Slider1->setValue(85);
        s.save(s.dest("anew"), 2);
        const QByteArray written = ReadAll(s.dest("anew.jpg"));
        const JpegBlocks blocks = ReadJpegBlocks(written);
        QCOMPARE(blocks.components.value(0).h * 10 + blocks.components.value(0).v, 21);
        QCOMPARE(blocks.components.value(1).h * 10 + blocks.components.value(1).v, 11);
        QCOMPARE(QImage::fromData(written).size(), QSize(48, 80));
        const QByteArray upright = convertertest::exifOf(written);
        QCOMPARE(upright.mid(convertertest::kOrientationValueAt, 2), QByteArray("\1\0", 2));
        QVERIFY(written.contains("tiff:Orientation=\"1\""));

        s.save(s.dest("anew"), 3);
        const QByteArray png = ReadAll(s.dest("anew.png"));
        QVERIFY(png.contains("eXIf"));
        QVERIFY(png.contains("iTXtXML:com.adobe.xmp"));
        QVERIFY(png.contains("tiff:Orientation=\"1\""));
        QVERIFY(s.f.services.reports().isEmpty());
    }

    // A YCCK photo saved as a new JPG holds YCbCr data and says so: no Adobe segment, no CMYK
    // profile but an RGB one, and libjpeg reads it without a warning, in the photo's colour
    // (inverted inks C 0, M 255, Y 255, K 0: red).
    void aYcckPhotoWrittenAnewSaysItIsYcbcr() {
        const uchar red[4] = {255, 0, 0, 255};
        const QByteArray ycck = YcckJpeg(48, 32, red);
        QVERIFY(ycck.contains("Adobe"));
        Session s(WriteJpeg("ycck.jpg", ycck));
        s.save(s.dest("anew"), 2);
        QVERIFY2(s.f.services.reports().isEmpty(), qPrintable(s.description()));
        const QByteArray written = ReadAll(s.dest("anew.jpg"));
        const JpegBlocks blocks = ReadJpegBlocks(written);
        QVERIFY(blocks.ok);
        QCOMPARE(blocks.warnings, 0);
        QCOMPARE(blocks.components.size(), 3);
        QStringList profiles;
        for (const auto &segment : jpegSegments(written)) {
            QVERIFY(!(segment.first == 0xEE && segment.second.startsWith("Adobe")));
            if (segment.first == 0xE2 && segment.second.startsWith("ICC_PROFILE"))
                profiles << QString::fromLatin1(segment.second.mid(14 + 16, 4));
        }
        QCOMPARE(profiles, QStringList{"RGB "});
        const QRgb c = QImage::fromData(written).pixel(24, 16);
        QVERIFY2(qRed(c) > 240 && qGreen(c) < 15 && qBlue(c) < 15,
                 qPrintable(QString::number(c, 16)));
    }
};

QTEST_MAIN(SaveKeepTest)
#include "test_save_keep.moc"
