// Every picture of the corpus through the program's own loader, judged by its class: valid files
// load (close to their reference rendering where one stands beside them), malformed files raise
// the load error, questionable files may do either; none crashes or hangs.
#include "Harness.h"
#include "workspace/PictureLoader.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMap>
#include <QPainter>
#include <QtTest>

namespace {

struct Entry {
    QString path;
    QString kind;
};

const QStringList PictureFolders = {"bmp", "gif", "ico", "jpeg", "wmf"};

// Files of the shared corpus judged against their class on purpose, each with its reason.
// Valid files the program refuses:
const QMap<QString, QString> RefusedValid = {
    {"bmp/pillow/l2rgb_read.bmp", "its header is filled with text: 3158064 pixels wide"},
    {"gif/gdk-pixbuf/gif-test-suite/max-size.gif", "65535 x 65535 is beyond the 2 GB limit"},
    {"jpeg/gdk-pixbuf/issue205.jpg", "64250 x 64250 is beyond the 2 GB limit"},
    {"jpeg/jpeg-decoder/reftest/lossless/1/jpeg_lossless_sel1.jpg",
     "lossless JPEG: the system's libjpeg does not decode it"},
    {"jpeg/libjpeg-turbo/monkey12.jpg", "12-bit JPEG: the system's libjpeg decodes 8-bit only"},
    {"jpeg/jpeg-decoder/reftest/mozilla/jpg-size-6x6.jpg", "a PNG file named .jpg"},
    {"jpeg/jpeg-decoder/reftest/partial_progressive.jpg", "truncated: image data is missing"},
};
// Malformed files that decode safely to a sensible picture: the damage is in a field the
// decoders do not need (sizes, densities, masks of unused channels), in bytes after the image,
// or in a few pixels that stay at the background.
const QStringList LoadedMalformed = {
    "bmp/bmpsuite-2.8/b/badbitssize.bmp",
    "bmp/bmpsuite-2.8/b/baddens1.bmp",
    "bmp/bmpsuite-2.8/b/baddens2.bmp",
    "bmp/bmpsuite-2.8/b/badfilesize.bmp",
    "bmp/image-rs/imagemagick_invalid_run_length_issue_2321.bmp",
    "bmp/image-rs/lenient/V5_A8_R8_G8_B8_Rgb_BadMask.bmp",
    "bmp/image-rs/lenient/rle_overflow.bmp",
    "bmp/pillow/hopper_rle8_row_overflow.bmp",
    "gif/gdk-pixbuf/gif-test-suite/extra-data.gif",
    "gif/gdk-pixbuf/gif-test-suite/invalid-background.gif",
    "gif/gdk-pixbuf/gif-test-suite/invalid-colors.gif",
    "gif/gdk-pixbuf/gif-test-suite/invalid-transparent.gif",
    "gif/gdk-pixbuf/gif-test-suite/missing-pixels.gif",
    "gif/gdk-pixbuf/gif-test-suite/no-clear-and-eoi.gif",
    "gif/gdk-pixbuf/gif-test-suite/overflow-codes.gif",
    "gif/image-gif/crashtest/issue-117-out-of-range.gif",
    "gif/image-gif/crashtest/issue-96-small-codesize-2.gif",
    "gif/image-rs/anim/issue_1455_undersized.gif",
    "gif/pillow/decompression_bomb_extents.gif",
    "ico/gdk-pixbuf/randomly-modified/invalid.2.ico",
    "ico/image-rs/bad/ico/Bad_smile-incorrect-image-length.ico",
    "ico/pillow/decompression_bomb.ico",
    "jpeg/jpeg-decoder/crashtest/extraneous-bytes-after-sos.jpg",
    "jpeg/jpeg-decoder/crashtest/imagetestsuite/255015e07b6f9137b53b0f97d67a8aef.jpg",
    "jpeg/jpeg-decoder/crashtest/imagetestsuite/316be81dfdeeb942e904feb3a77f4f83.jpg",
    "jpeg/jpeg-decoder/crashtest/imagetestsuite/3cc4a7fc6481ea3681138da4643f3d16.jpg",
    "jpeg/jpeg-decoder/crashtest/imagetestsuite/eecb78b937a7c5f04aae2f5b0f5b5acc.jpg",
    "jpeg/jpeg-decoder/crashtest/multiple-0xff-before-eoi.jpg",
    "jpeg/jpeg-decoder/crashtest/subtract-with-overflow.jpg",
    "jpeg/pillow/junk_jpeg_header.jpg",
    "jpeg/pillow/photoshop-200dpi-broken.jpg",
    "wmf/libwmf-vuln-poc/evil_poly_extreme.wmf",
    "wmf/wmfreader-libreoffice/visio_import_source.wmf",
};

QList<Entry> readIndex(const QString &corpus) {
    QList<Entry> entries;
    QFile index(corpus + "/INDEX.tsv");
    if (!index.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return entries;
    }
    while (!index.atEnd()) {
        const QString line = QString::fromUtf8(index.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith('#')) {
            continue;
        }
        const QStringList fields = line.split('\t');
        if (fields.size() >= 4) {
            entries.append({fields.at(0), fields.at(3)});
        }
    }
    return entries;
}

// The source file a reference rendering shows: same name in the same folder, or in the folders
// beside a "reference" folder, with "-output" dropped.
QMap<QString, QString> pairReferences(const QList<Entry> &entries) {
    QMap<QString, QString> sources;
    QMap<QString, QString> byStem; // folder/stem -> path of a non-reference file
    for (const Entry &e : entries) {
        if (e.kind != "reference") {
            const QFileInfo info(e.path);
            byStem.insert(info.path() + '/' + info.completeBaseName(), e.path);
        }
    }
    for (const Entry &e : entries) {
        if (e.kind != "reference") {
            continue;
        }
        const QFileInfo info(e.path);
        QString stem = info.completeBaseName();
        stem.remove("-output");
        QStringList folders = {info.path()};
        if (info.dir().dirName() == "reference") {
            const QString parent = QFileInfo(info.path()).path();
            folders << parent << parent + "/g" << parent + "/q" << parent + "/x";
        }
        for (const QString &folder : folders) {
            const QString source = byStem.value(folder + '/' + stem);
            if (!source.isEmpty()) {
                sources.insert(source, e.path);
                break;
            }
        }
    }
    return sources;
}

// Mean absolute difference per channel (0..255) after scaling the picture to the reference's
// size and putting both on white.
double meanDifference(const QImage &picture, const QImage &reference) {
    QImage ref(reference.size(), QImage::Format_RGB32);
    ref.fill(Qt::white);
    {
        QPainter p(&ref);
        p.drawImage(0, 0, reference);
    }
    QImage pic = picture.size() == ref.size()
                     ? picture.convertToFormat(QImage::Format_RGB32)
                     : picture.scaled(ref.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                           .convertToFormat(QImage::Format_RGB32);
    double total = 0;
    for (int y = 0; y < ref.height(); ++y) {
        const auto *a = reinterpret_cast<const QRgb *>(ref.constScanLine(y));
        const auto *b = reinterpret_cast<const QRgb *>(pic.constScanLine(y));
        for (int x = 0; x < ref.width(); ++x) {
            total += std::abs(qRed(a[x]) - qRed(b[x])) + std::abs(qGreen(a[x]) - qGreen(b[x])) +
                     std::abs(qBlue(a[x]) - qBlue(b[x]));
        }
    }
    return total / (3.0 * ref.width() * ref.height());
}

} // namespace

class CorpusTest : public QObject {
    Q_OBJECT
private slots:
    void everyPictureByItsClass() {
        const QString corpus = CorpusFolder();
        const QList<Entry> entries = readIndex(corpus);
        if (entries.isEmpty()) {
            QSKIP(qPrintable("no corpus index in " + corpus));
        }
        const QMap<QString, QString> references = pairReferences(entries);
        QMap<QString, int> passed;
        QMap<QString, int> total;
        QStringList failures;
        int lenient = 0;
        int refused = 0;
        double worstReference = 0;
        QString worstReferenceFile;
        for (const Entry &e : entries) {
            const QString top = e.path.section('/', 0, 0);
            if (!PictureFolders.contains(top) ||
                (e.kind != "valid" && e.kind != "malformed" && e.kind != "questionable")) {
                continue;
            }
            const QString path = corpus + '/' + e.path;
            total[e.kind]++;
            QElapsedTimer timer;
            timer.start();
            LoadedPicture picture;
            QString error;
            try {
                picture = LoadPicture(path);
            } catch (const std::exception &ex) {
                error = QString::fromUtf8(ex.what());
            }
            if (timer.elapsed() > 5000) {
                failures << QStringLiteral("%1: took %2 ms").arg(e.path).arg(timer.elapsed());
                continue;
            }
            if (e.kind == "questionable") {
                passed[e.kind]++;
            } else if (e.kind == "malformed") {
                if (!error.isEmpty()) {
                    passed[e.kind]++;
                } else if (LoadedMalformed.contains(e.path) && !picture.image.isNull()) {
                    lenient++;
                } else {
                    failures << e.path + ": malformed but loaded";
                }
            } else if (!error.isEmpty()) {
                if (RefusedValid.contains(e.path)) {
                    refused++;
                } else {
                    failures << e.path + ": " + error;
                }
            } else if (picture.image.isNull() || picture.image.width() <= 0) {
                failures << e.path + ": empty picture";
            } else if (references.contains(e.path)) {
                const QImage reference(corpus + '/' + references.value(e.path));
                const double diff = meanDifference(picture.image, reference);
                if (diff > worstReference) {
                    worstReference = diff;
                    worstReferenceFile = e.path;
                }
                // Raster decoders agree to within a few levels; metafile renderings differ in
                // anti-aliasing and fonts, so they get a looser bound.
                const double tolerance = top == "wmf" ? 40.0 : 8.0;
                if (diff > tolerance) {
                    failures << QStringLiteral("%1: %2 from its reference").arg(e.path).arg(diff);
                } else {
                    passed[e.kind]++;
                }
            } else {
                passed[e.kind]++;
            }
        }
        for (const QString &kind : total.keys()) {
            qInfo("%s: %d of %d pass", qPrintable(kind), passed.value(kind), total.value(kind));
        }
        qInfo("malformed files loaded safely on purpose: %d; valid files refused on purpose: %d",
              lenient, refused);
        qInfo("worst reference difference: %.2f (%s)", worstReference,
              qPrintable(worstReferenceFile));
        for (const QString &f : failures) {
            qInfo("FAILED %s", qPrintable(f));
        }
        QVERIFY2(failures.isEmpty(), qPrintable(QString::number(failures.size()) + " failures"));
    }
};

QTEST_MAIN(CorpusTest)
#include "test_corpus.moc"
