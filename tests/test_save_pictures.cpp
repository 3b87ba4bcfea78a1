// What a JPEG photo holds besides its first picture reaches a JPG saved from it: a phone's HDR
// photo (gain map and large preview listed by its MPF index, a maker's trailer after them),
// kept as it was or written anew; the index read back with the test's own reader. Saved at a
// zoom, the pictures that no longer match are left out with what announces them.
#include "MpfFiles.h"
#include "SaveTestTools.h"

#include <QtTest>

using namespace savetest;

namespace {

// A smooth picture: two encoders give nearly the same pixels of it.
QImage Smooth(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, 128));
    return image;
}

// Pixels of `a` that differ from `b`'s by more than `by` in some channel.
QRect Differing(const QImage &a, const QImage &b, int by) {
    QRect bounds;
    for (int y = 0; y < qMin(a.height(), b.height()); ++y)
        for (int x = 0; x < qMin(a.width(), b.width()); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            if (qAbs(qRed(p) - qRed(q)) > by || qAbs(qGreen(p) - qGreen(q)) > by ||
                qAbs(qBlue(p) - qBlue(q)) > by)
                bounds |= QRect(x, y, 1, 1);
        }
    return bounds;
}

} // namespace

class SavePicturesTest : public QObject {
    Q_OBJECT
private slots:
    void picturesAfterTheFirstTravel_data() {
        QTest::addColumn<int>("filter");
        QTest::newRow("kept as it was") << 4;
        QTest::newRow("written anew") << 2;
    }
    // Every entry of the index lands on its picture's start and ends on its end; the gain map
    // and the trailer are the source's bytes, the preview shows the caption.
    void picturesAfterTheFirstTravel() {
        QFETCH(int, filter);
        const mpf::Photo photo = mpf::HdrPhoto(Smooth(160, 120));
        const QString path = QDir(TestDataFolder()).filePath("hdr.jpg");
        WriteAll(path, photo.file);
        Session s(path);
        s.f->Picture1_MouseMove(Qt::NoButton, Qt::NoModifier, 30.0f, 30.0f);
        s.f->Picture1_Click();
        s.f->Text1->setText("Captioned");
        s.f->PushButton3_Click();
        const QRect caption = s.f->RichTextBox1->geometry();
        s.save(s.dest("saved"), filter);
        QVERIFY2(s.f.services.reports().isEmpty(), qPrintable(s.description()));
        const QByteArray out = ReadAll(s.dest("saved.jpg"));
        qsizetype tiff = -1;
        const QList<mpf::Entry> entries = mpf::ReadIndex(out, &tiff);
        QCOMPARE(entries.size(), 3);
        QCOMPARE(entries[0].offset, 0u);
        QCOMPARE(out.mid(entries[0].size - 2, 2), QByteArray("\xFF\xD9", 2));
        QList<QByteArray> pictures;
        for (const mpf::Entry &e : entries.mid(1)) {
            const QByteArray bytes = out.mid(tiff + e.offset, e.size);
            QCOMPARE(bytes.left(2), QByteArray("\xFF\xD8", 2));
            QCOMPARE(bytes.right(2), QByteArray("\xFF\xD9", 2));
            pictures << bytes;
        }
        QCOMPARE(pictures[0], photo.gainMap);
        QCOMPARE(tiff + entries[1].offset, entries[0].size); // right after the first picture
        QCOMPARE(out.mid(tiff + entries[2].offset + entries[2].size), photo.trailer);
        // The preview is the saved picture: the caption where it stands, nothing else changed.
        const QImage preview = QImage::fromData(pictures[1]), old = QImage::fromData(photo.preview);
        QCOMPARE(preview.size(), QSize(80, 60));
        const QRect changed = Differing(preview, old, 48);
        const QRect half(caption.topLeft() / 2, caption.size() / 2);
        QVERIFY2(!changed.isEmpty() && half.adjusted(-3, -3, 3, 3).contains(changed),
                 qPrintable(QString("%1 %2").arg(changed.x()).arg(changed.y())));
        // The gain map's announcements stay with it.
        QVERIFY(out.contains("hdrgm:Version=\"1.0\"") && out.contains(mpf::IsoGainMap));
        QVERIFY(s.cleanedUp());

        // A PNG holds no picture after its first: its XMP announces no gain map.
        s.save(s.dest("flat"), 3);
        const QByteArray png = ReadAll(s.dest("flat.png"));
        QVERIFY(png.contains("XML:com.adobe.xmp"));
        QVERIFY(!png.contains("hdrgm:Version") && !png.contains("\"GainMap\""));

        // At a zoom the pictures no longer match: left out, with every index that names them;
        // the trailer stays.
        s.f->PushButton10_Click();
        s.save(s.dest("zoomed"), 2);
        const QByteArray zoomed = ReadAll(s.dest("zoomed.jpg"));
        QVERIFY(mpf::ReadIndex(zoomed).isEmpty());
        QVERIFY(!zoomed.contains(photo.gainMap) && !zoomed.contains(mpf::IsoGainMap));
        QVERIFY(!zoomed.contains("hdrgm:Version") && !zoomed.contains("\"GainMap\""));
        QVERIFY(zoomed.endsWith(QByteArray("\xFF\xD9", 2) + photo.trailer));
        QVERIFY(s.cleanedUp());
    }
};

QTEST_MAIN(SavePicturesTest)
#include "test_save_pictures.moc"
