// Every picture of the corpus through the program's own loader, judged by its class in INDEX.tsv:
// valid files load and look like a rendering of them made elsewhere (the corpus's own, or else
// ImageMagick's decoding of the same file made now, or for HEIF, AVIF and JPEG XL their library's
// plain decoding); malformed files raise the load error or
// load safely; questionable files may do either; none crashes or hangs. Files are judged by
// rules about their content, never by their names.
#include "CorpusFiles.h"
#include "FileHeaders.h"
#include "Harness.h"
#include "LibraryDecoding.h"
#include "workspace/PictureLoader.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <lcms2.h>

namespace {

const QStringList RasterFolders = {"bmp",  "gif",  "ico",  "jpeg", "png",
                                   "tiff", "webp", "heic", "avif", "jxl"};
const QString MetafileFolder = QStringLiteral("wmf");

// A load that takes this long counts as hanging (how fast loads are is for the benchmarks).
constexpr qint64 HangingLoadMs = 60000;
// The largest picture the program decodes, in bytes at 4 bytes a pixel.
constexpr qint64 TwoGigabytes = qint64(2) * 1024 * 1024 * 1024;

struct Outcome {
    QString error; // the load error's text; empty when the file loaded
    QImage image;
    qint64 milliseconds = 0;
};

// How close a loaded raster picture must be to another rendering of the same file.
// Pixels stored exactly (bitmaps, GIF, icons, PNG): decoders agree up to the rounding of channels
// narrower or wider than 8 bits, so at most 0.1% of the pixels may be more than 3 levels apart;
// or else the picture's levels must be the rendering's renamed in order (readers scale channels
// of 1 to 4 bits by shifting or by repeating the bits) with a mean difference under 64 levels.
// Pixels that may be lossy or colour-subsampled (JPEG, WebP, TIFF): decoders differ in their
// transforms and in how they spread subsampled colour, so the mean may be up to 3 levels and at
// most 10% of the pixels more than 8 levels apart.
QString verdictOf(const PixelDifference &d, bool exact, QSize size, QSize referenceSize) {
    if (!d.sameSize) {
        return QStringLiteral("loaded at %1 x %2, the rendering is %3 x %4")
            .arg(size.width())
            .arg(size.height())
            .arg(referenceSize.width())
            .arg(referenceSize.height());
    }
    const bool close = exact ? d.shareOver3 <= 0.001 || (d.levelsInOrder && d.mean < 64.0)
                             : d.mean <= 3.0 && d.shareOver8 <= 0.10;
    if (close) {
        return QString();
    }
    return QStringLiteral("%1 of the pixels more than 3 levels off, %2 more than 8, mean %3 "
                          "(largest %4; stored %5)")
        .arg(d.shareOver3, 0, 'f', 4)
        .arg(d.shareOver8, 0, 'f', 4)
        .arg(d.mean, 0, 'f', 2)
        .arg(d.largest)
        .arg(exact ? "exactly" : "lossy");
}

// skipTransparent leaves out the pixels the rendering leaves wholly transparent: whatever colour
// a reader gives them, they show the background.
QString judgeRaster(const QString &path, const QImage &picture, const QImage &reference,
                    bool skipTransparent) {
    const PixelDifference d = ComparePictures(picture, reference, skipTransparent);
    return verdictOf(d, StoredExactly(path), picture.size(), reference.size());
}

// The same for ImageMagick's decoding, which shows a GIF's first image without its canvas: only
// the part of the canvas that image covers is compared, the canvas being the size the GIF
// declares.
QString judgeAgainstMagick(const QString &path, const QImage &picture, const MagickDecoding &m) {
    if (!IsGifFile(FileStart(path, 6))) {
        return judgeRaster(path, picture, m.image, true);
    }
    const QSize canvas = DeclaredSize(path);
    if (picture.size() != canvas) {
        return QStringLiteral("loaded at %1 x %2, its canvas is %3 x %4")
            .arg(picture.width())
            .arg(picture.height())
            .arg(canvas.width())
            .arg(canvas.height());
    }
    const QRect covered = QRect(m.at, m.image.size()).intersected(picture.rect());
    const PixelDifference d =
        ComparePictures(picture.copy(covered), m.image.copy(covered.translated(-m.at)), true);
    return verdictOf(d, true, covered.size(), covered.size());
}

// Metafile renderers differ in anti-aliasing, fonts and the size they give the picture: the mean
// channel difference once scaled to the rendering's size must stay under 40 levels.
QString judgeMetafile(const QImage &picture, const QImage &reference) {
    QImage scaled(reference.size(), QImage::Format_RGB32);
    {
        QPainter painter(&scaled);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(scaled.rect(), picture);
    }
    const PixelDifference d = ComparePictures(scaled, reference);
    return d.mean <= 40.0 ? QString() : QStringLiteral("mean %1 from the rendering").arg(d.mean);
}

bool isJpegFile(const QString &path) {
    return FileStart(path, 2) == "\xFF\xD8";
}

// A CMYK JPEG that carries its own colour profile: its colours are meant to be read through it.
// Told by the segments before the frame header: an ICC profile, then a frame of four components.
bool isProfiledCmykJpeg(const QString &path) {
    QFile file(path);
    if (!isJpegFile(path) || !file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray bytes = file.readAll();
    bool profile = false;
    for (qsizetype at = 2; at + 4 <= bytes.size() && quint8(bytes[at]) == 0xFF;) {
        const quint8 marker = quint8(bytes[at + 1]);
        const int length = quint8(bytes[at + 2]) << 8 | quint8(bytes[at + 3]);
        if (marker >= 0xC0 && marker <= 0xC2) {
            return profile && at + 9 < bytes.size() && bytes[at + 9] == 4;
        }
        profile = profile || bytes.mid(at + 4, 12) == QByteArray("ICC_PROFILE\0", 12);
        at += 2 + length;
    }
    return false;
}

// ImageMagick's rendering of a file through its embedded profile into sRGB (a profile made by
// Little CMS here), as a colour-managed viewer shows it.
QImage magickThroughProfile(const QString &path) {
    QTemporaryDir work;
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    const QString profile = work.filePath("srgb.icc");
    const bool saved = cmsSaveProfileToFile(srgb, QFile::encodeName(profile).constData());
    cmsCloseProfile(srgb);
    QProcess convert;
    convert.start(MagickProgram(), {path, "-profile", profile, work.filePath("out.png")});
    if (!saved || !convert.waitForFinished(60000) || convert.exitCode() != 0) {
        return {};
    }
    return QImage(work.filePath("out.png")).convertToFormat(QImage::Format_RGB32);
}

} // namespace

class CorpusTest : public QObject {
    Q_OBJECT

    QString corpus;
    QList<CorpusEntry> judged;
    QMap<QString, Outcome> outcomes;
    QMap<QString, CorpusExpectation> expectations;
    QMap<QString, MagickDecoding> magick;
    bool haveMagick = false;

    QString full(const QString &path) const { return corpus + '/' + path; }

    // Why the program may refuse a valid file, when a rule says so: a picture larger than the
    // program decodes; a JPEG the system's libjpeg does not decode (a lossless or 12-bit one) or
    // finds damaged (a scan whose data ends early): the same library says so, "Unsupported JPEG"
    // or "Corrupt JPEG data", when ImageMagick reads the file with it.
    QString refusalRule(const QString &path) const {
        const QSize declared = DeclaredSize(full(path));
        if (declared.isValid() && qint64(declared.width()) * declared.height() * 4 > TwoGigabytes) {
            return QStringLiteral("larger than 2 GB decoded");
        }
        if (!isJpegFile(full(path))) {
            return QString();
        }
        const QString libjpeg = magick.value(full(path)).errors;
        if (libjpeg.contains(QStringLiteral("Unsupported JPEG"))) {
            return QStringLiteral("a JPEG libjpeg does not decode");
        }
        if (libjpeg.contains(QStringLiteral("Corrupt JPEG data"))) {
            return QStringLiteral("damaged JPEG data");
        }
        return QString();
    }

private slots:
    void initTestCase() {
        corpus = CorpusFolder();
        const QList<CorpusEntry> entries = ReadCorpusIndex(corpus);
        if (entries.isEmpty()) {
            QSKIP(qPrintable("no corpus index in " + corpus));
        }
        expectations = CorpusExpectations(corpus, entries);
        QStringList forMagick, refusedJpegs;
        QMap<QString, MagickDecoding> byLibrary;
        for (const CorpusEntry &e : entries) {
            const QString top = e.path.section('/', 0, 0);
            if ((!RasterFolders.contains(top) && top != MetafileFolder) ||
                (e.kind != "valid" && e.kind != "malformed" && e.kind != "questionable")) {
                continue;
            }
            judged << e;
            Outcome o;
            QElapsedTimer timer;
            timer.start();
            try {
                o.image = LoadPicture(full(e.path)).image;
            } catch (const std::exception &ex) {
                o.error = QString::fromUtf8(ex.what());
            }
            o.milliseconds = timer.elapsed();
            outcomes.insert(e.path, o);
            // ImageMagick renders the valid raster files the corpus has no rendering of, and
            // reads the valid JPEGs refused, for its libjpeg's opinion of their data.
            if (e.kind == "valid" && top != MetafileFolder && !o.error.isEmpty() &&
                isJpegFile(full(e.path))) {
                refusedJpegs << full(e.path);
            } else if (e.kind == "valid" && IsPhotoFormatFile(full(e.path))) {
                // ImageMagick 6 reads no JPEG XL and leaves out HEIF alpha: these are compared
                // with their library's plain decoding instead.
                byLibrary.insert(full(e.path), {DecodeWithItsLibrary(full(e.path)), {}, {}});
            } else if (e.kind == "valid" && top != MetafileFolder &&
                       !expectations.contains(e.path)) {
                forMagick << full(e.path);
            }
        }
        haveMagick = !MagickProgram().isEmpty();
        if (haveMagick) {
            QElapsedTimer timer;
            timer.start();
            magick = DecodeWithMagick(forMagick);
            magick.insert(DecodeWithMagick(refusedJpegs, 1));
            magick.insert(byLibrary);
            qInfo("ImageMagick decoded %lld files in %lld ms",
                  qint64(forMagick.size() + refusedJpegs.size()), timer.elapsed());
        }
    }

    void noFileHangs() {
        QStringList hanging;
        QString slowest;
        qint64 slowestMs = -1;
        for (const CorpusEntry &e : judged) {
            const qint64 ms = outcomes.value(e.path).milliseconds;
            if (ms > HangingLoadMs) {
                hanging << QStringLiteral("%1: %2 ms").arg(e.path).arg(ms);
            }
            if (ms > slowestMs) {
                slowestMs = ms;
                slowest = e.path;
            }
        }
        qInfo("%lld files loaded; the slowest took %lld ms (%s)", qint64(judged.size()), slowestMs,
              qPrintable(slowest));
        QVERIFY2(hanging.isEmpty(), qPrintable(hanging.join('\n')));
    }

    void validFilesLoad() {
        QStringList failures;
        QMap<QString, int> refused;
        int loaded = 0;
        for (const CorpusEntry &e : judged) {
            if (e.kind != "valid") {
                continue;
            }
            const Outcome &o = outcomes[e.path];
            if (o.error.isEmpty()) {
                if (o.image.isNull() || o.image.width() <= 0 || o.image.height() <= 0) {
                    failures << e.path + ": an empty picture";
                } else {
                    ++loaded;
                }
                continue;
            }
            QString rule = refusalRule(e.path);
            if (rule.isEmpty() && expectations.value(e.path).expectsError) {
                rule = QStringLiteral("the corpus expects no picture");
            }
            if (rule.isEmpty() && !haveMagick && isJpegFile(full(e.path))) {
                qInfo("%s refused (%s); without ImageMagick its data cannot be judged",
                      qPrintable(e.path), qPrintable(o.error));
                continue;
            }
            if (rule.isEmpty()) {
                failures << e.path + ": refused with " + o.error;
            } else {
                refused[rule]++;
            }
        }
        qInfo("valid files loaded: %d", loaded);
        for (auto it = refused.cbegin(); it != refused.cend(); ++it) {
            qInfo("valid files refused, %s: %d", qPrintable(it.key()), it.value());
        }
        for (const QString &f : failures) {
            qInfo("FAILED %s", qPrintable(f));
        }
        QVERIFY2(failures.isEmpty(), qPrintable(QString::number(failures.size()) + " failed"));
    }

    // Where the corpus's rendering of a raster file and ImageMagick's decoding of it disagree (the
    // corpus's makers read a few files their own way: premultiplied alpha taken as plain, the
    // images of a GIF shown together, a PNG's animation instead of its still image), matching
    // ImageMagick's decoding is accepted instead.
    void validFilesMatchTheCorpusRenderings() {
        QStringList failures;
        QMap<QString, QString> disagreeing; // file -> verdict against the corpus's rendering
        int compared = 0;
        for (const CorpusEntry &e : judged) {
            const Outcome &o = outcomes[e.path];
            const CorpusExpectation expected = expectations.value(e.path);
            if (e.kind != "valid" || !o.error.isEmpty() || expected.image.isNull()) {
                continue;
            }
            ++compared;
            if (e.path.startsWith(MetafileFolder + '/')) {
                const QString verdict = judgeMetafile(o.image, expected.image);
                if (!verdict.isEmpty()) {
                    failures << e.path + ": " + verdict;
                }
                continue;
            }
            const QString verdict = judgeRaster(full(e.path), o.image, expected.image, false);
            if (!verdict.isEmpty()) {
                disagreeing.insert(e.path, verdict + " (" + expected.source + ")");
            }
        }
        QStringList files;
        for (const QString &path : disagreeing.keys()) {
            files << full(path);
        }
        const QMap<QString, MagickDecoding> second = DecodeWithMagick(files);
        for (auto it = disagreeing.cbegin(); it != disagreeing.cend(); ++it) {
            const MagickDecoding other = second.value(full(it.key()));
            if (!haveMagick) {
                qInfo("%s differs from the corpus's rendering; without ImageMagick there is no "
                      "second rendering to judge it by: %s",
                      qPrintable(it.key()), qPrintable(it.value()));
            } else if (!other.image.isNull() &&
                       judgeAgainstMagick(full(it.key()), outcomes[it.key()].image, other)
                           .isEmpty()) {
                qInfo("%s: matches ImageMagick's decoding, not the corpus's rendering: %s",
                      qPrintable(it.key()), qPrintable(it.value()));
            } else if (isProfiledCmykJpeg(full(it.key())) &&
                       judgeRaster(full(it.key()), outcomes[it.key()].image,
                                   magickThroughProfile(full(it.key())), false)
                           .isEmpty()) {
                qInfo("%s: matches ImageMagick's rendering through its own profile, not the "
                      "corpus's rendering without it: %s",
                      qPrintable(it.key()), qPrintable(it.value()));
            } else {
                failures << it.key() + ": " + it.value();
            }
        }
        qInfo("valid files compared with the corpus's renderings: %d", compared);
        QVERIFY(compared > 100);
        for (const QString &f : failures) {
            qInfo("FAILED %s", qPrintable(f));
        }
        QVERIFY2(failures.isEmpty(), qPrintable(QString::number(failures.size()) + " failed"));
    }

    void validFilesMatchImageMagick() {
        if (!haveMagick) {
            QSKIP("ImageMagick's convert is not installed: valid files without a rendering in the "
                  "corpus are not compared");
        }
        QStringList failures;
        QStringList undecoded;
        int compared = 0;
        for (const CorpusEntry &e : judged) {
            const Outcome &o = outcomes[e.path];
            if (e.kind != "valid" || !o.error.isEmpty() || expectations.contains(e.path) ||
                e.path.startsWith(MetafileFolder + '/')) {
                continue;
            }
            const MagickDecoding decoding = magick.value(full(e.path));
            if (decoding.image.isNull()) {
                // A file ImageMagick cannot read has nothing to be compared with.
                undecoded << e.path;
                continue;
            }
            const QString verdict = judgeAgainstMagick(full(e.path), o.image, decoding);
            if (!verdict.isEmpty()) {
                failures << e.path + ": " + verdict;
            }
            ++compared;
        }
        qInfo("valid files compared with ImageMagick's decoding: %d; not decoded by it: %s",
              compared, qPrintable(undecoded.join(", ")));
        QVERIFY(compared > 150);
        for (const QString &f : failures) {
            qInfo("FAILED %s", qPrintable(f));
        }
        QVERIFY2(failures.isEmpty(), qPrintable(QString::number(failures.size()) + " failed"));
    }

    // A malformed file is refused with the load error, or loads safely: at the size its header
    // declares (a plain metafile, which declares none, within the player's 2048-pixel frame), never
    // beyond the decoded-size limit. Damage in fields the decoders do not need, bytes after the
    // image, or pixels the data leaves out (they stay background) is what lets such a file load.
    void malformedFilesAreRefusedOrLoadSafely() {
        QStringList failures;
        int refused = 0, lenient = 0;
        for (const CorpusEntry &e : judged) {
            if (e.kind != "malformed") {
                continue;
            }
            const Outcome &o = outcomes[e.path];
            if (!o.error.isEmpty()) {
                ++refused;
                continue;
            }
            const QSize size = o.image.size();
            const QSize declared = DeclaredSize(full(e.path));
            if (o.image.isNull()) {
                failures << e.path + ": no error and no picture";
            } else if (qint64(size.width()) * size.height() * 4 > TwoGigabytes) {
                failures << e.path + ": loaded beyond the size limit";
            } else if (declared.isValid() && size != declared) {
                failures << QStringLiteral("%1: loaded at %2 x %3, its header declares %4 x %5")
                                .arg(e.path)
                                .arg(size.width())
                                .arg(size.height())
                                .arg(declared.width())
                                .arg(declared.height());
            } else if (!declared.isValid() && e.path.startsWith(MetafileFolder + '/') &&
                       (size.width() > 2048 || size.height() > 2048)) {
                failures << e.path + ": a plain metafile beyond the player's frame";
            } else {
                ++lenient;
            }
        }
        qInfo("malformed files refused: %d; loaded safely: %d", refused, lenient);
        QVERIFY(refused > 50);
        for (const QString &f : failures) {
            qInfo("FAILED %s", qPrintable(f));
        }
        QVERIFY2(failures.isEmpty(), qPrintable(QString::number(failures.size()) + " failed"));
    }

    void questionableFilesSurvive() {
        int loaded = 0, refused = 0;
        for (const CorpusEntry &e : judged) {
            if (e.kind == "questionable") {
                const Outcome &o = outcomes[e.path];
                (o.error.isEmpty() ? loaded : refused)++;
                // Whatever they do, a picture that loads has an area.
                QVERIFY2(!o.error.isEmpty() || !o.image.isNull(), qPrintable(e.path));
            }
        }
        qInfo("questionable files loaded: %d; refused: %d", loaded, refused);
        QVERIFY(loaded + refused > 40);
    }
};

QTEST_MAIN(CorpusTest)
#include "test_corpus.moc"
