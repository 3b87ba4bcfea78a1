#include "CorpusFiles.h"
#include "FileHeaders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>
#include <deque>
#include <memory>

namespace {

// Key/value lines of one section of a gif-test-suite .conf file.
QMap<QString, QString> confSection(const QStringList &lines, const QString &section) {
    QMap<QString, QString> values;
    bool inside = false;
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith('[')) {
            inside = line == '[' + section + ']';
        } else if (inside && line.contains('=') && !line.startsWith('#')) {
            values.insert(line.section('=', 0, 0).trimmed(), line.section('=', 1).trimmed());
        }
    }
    return values;
}

// The first frame a gif-test-suite .conf expects, or that the file must not load.
bool readGifExpectation(const QString &confPath, QString *input, CorpusExpectation *out) {
    QFile file(confPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return false;
    }
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    const QMap<QString, QString> config = confSection(lines, QStringLiteral("config"));
    *input = config.value(QStringLiteral("input"));
    if (input->isEmpty()) {
        return false;
    }
    out->source = confPath;
    const QStringList frames =
        config.value(QStringLiteral("frames")).split(',', Qt::SkipEmptyParts);
    if (frames.isEmpty()) {
        out->expectsError = true;
        return true;
    }
    const QString pixels = confSection(lines, frames.first().trimmed()).value("pixels");
    const QString pixelPath = QFileInfo(confPath).dir().filePath(pixels);
    const int width = config.value(QStringLiteral("width")).toInt();
    const int height = config.value(QStringLiteral("height")).toInt();
    if (pixels.endsWith(QStringLiteral(".rgba"))) {
        QFile raw(pixelPath);
        if (!raw.open(QIODevice::ReadOnly) || width <= 0 || height <= 0) {
            return false;
        }
        const QByteArray bytes = raw.readAll();
        if (bytes.size() != qint64(width) * height * 4) {
            return false;
        }
        out->image = QImage(reinterpret_cast<const uchar *>(bytes.constData()), width, height,
                            width * 4, QImage::Format_RGBA8888)
                         .copy();
    } else {
        out->image = QImage(pixelPath);
    }
    return !out->image.isNull();
}

} // namespace

QList<CorpusEntry> ReadCorpusIndex(const QString &corpus) {
    QList<CorpusEntry> entries;
    QFile index(corpus + QStringLiteral("/INDEX.tsv"));
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

QMap<QString, CorpusExpectation> CorpusExpectations(const QString &corpus,
                                                    const QList<CorpusEntry> &entries) {
    QMap<QString, CorpusExpectation> expectations;
    QMap<QString, QString> byStem; // folder/stem -> a file that is not itself a rendering
    for (const CorpusEntry &e : entries) {
        if (e.kind != QLatin1String("reference") && e.kind != QLatin1String("expected")) {
            const QFileInfo info(e.path);
            byStem.insert(info.path() + '/' + info.completeBaseName(), e.path);
        }
    }
    for (const CorpusEntry &e : entries) {
        const QFileInfo info(e.path);
        if (e.kind == QLatin1String("expected") && info.suffix() == QLatin1String("conf")) {
            QString input;
            CorpusExpectation expectation;
            if (readGifExpectation(corpus + '/' + e.path, &input, &expectation)) {
                expectations.insert(info.path() + '/' + input, expectation);
            }
            continue;
        }
        if (e.kind != QLatin1String("reference")) {
            continue;
        }
        QString stem = info.completeBaseName();
        stem.remove(QStringLiteral("-output"));
        QStringList folders = {info.path()};
        if (info.dir().dirName() == QLatin1String("reference")) {
            const QString parent = QFileInfo(info.path()).path();
            folders << parent << parent + "/g" << parent + "/q" << parent + "/x";
        }
        for (const QString &folder : folders) {
            const QString source = byStem.value(folder + '/' + stem);
            if (!source.isEmpty()) {
                expectations.insert(source, {QImage(corpus + '/' + e.path), false, e.path});
                break;
            }
        }
    }
    return expectations;
}

QString MagickProgram() {
    return QStandardPaths::findExecutable(QStringLiteral("convert"));
}

QMap<QString, MagickDecoding> DecodeWithMagick(const QStringList &files, int perRun) {
    QMap<QString, MagickDecoding> decoded;
    const QString program = MagickProgram();
    QTemporaryDir work;
    if (program.isEmpty() || !work.isValid() || !QDir(work.path()).mkpath("in") ||
        !QDir(work.path()).mkpath("out")) {
        return decoded;
    }
    // Each file under a numbered name, so that one program run reads many files and names each
    // output and each message after its file; bitmaps in runs of their own, with alpha off.
    QList<QStringList> runs;
    QStringList bitmaps, others;
    QMap<QString, QString> fileOf; // number -> file
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString number = QStringLiteral("%1").arg(i, 5, 10, QLatin1Char('0'));
        const QString link = work.filePath("in/" + number + '.' + QFileInfo(files[i]).suffix());
        if (!QFile::link(files[i], link)) {
            continue;
        }
        fileOf.insert(number, files[i]);
        QStringList &group = IsBitmapFile(FileStart(files[i], 8)) ? bitmaps : others;
        group << link + QStringLiteral("[0]");
        if (group.size() >= perRun) {
            runs << group;
            group.clear();
        }
    }
    for (const QStringList &group : {bitmaps, others}) {
        if (!group.isEmpty()) {
            runs << group;
        }
    }
    // Up to one run a core at a time. Each writes, for every file it read, its number and the
    // page offset of its first image ("00042 +0 +25") on its error output, among its messages.
    const int atOnce = qMax(2, QThread::idealThreadCount());
    std::deque<std::unique_ptr<QProcess>> running;
    QString messages;
    qsizetype next = 0;
    while (next < runs.size() || !running.empty()) {
        while (next < runs.size() && running.size() < std::size_t(atOnce)) {
            const QStringList &inputs = runs.at(next++);
            QStringList args = inputs;
            args << QStringLiteral("-auto-orient");
            if (IsBitmapFile(FileStart(inputs.first().chopped(3), 8))) {
                args << QStringLiteral("-alpha") << QStringLiteral("off");
            }
            args << QStringLiteral("-set") << QStringLiteral("filename:number")
                 << QStringLiteral("%t") << QStringLiteral("-format")
                 << QStringLiteral("%t %X %Y\n") << QStringLiteral("-write")
                 << QStringLiteral("info:fd:2")
                 // Without their metadata: some files carry values the PNG writer refuses.
                 << QStringLiteral("-strip") << QStringLiteral("+adjoin")
                 << work.filePath(QStringLiteral("out/%[filename:number].png"));
            running.push_back(std::make_unique<QProcess>());
            running.back()->start(program, args);
        }
        running.front()->waitForFinished(300000);
        messages += QString::fromLocal8Bit(running.front()->readAllStandardError());
        running.pop_front();
    }
    const QStringList lines = messages.split('\n');
    for (auto it = fileOf.cbegin(); it != fileOf.cend(); ++it) {
        MagickDecoding result;
        result.image = QImage(work.filePath("out/" + it.key() + ".png"), "PNG");
        for (const QString &line : lines) {
            const QStringList words = line.split(' ');
            if (words.size() == 3 && words.at(0) == it.key()) {
                result.at = QPoint(words.at(1).toInt(), words.at(2).toInt());
            } else if (line.contains("in/" + it.key() + '.')) {
                result.errors += line + '\n';
            }
        }
        decoded.insert(it.value(), result);
    }
    return decoded;
}

PixelDifference ComparePictures(const QImage &picture, const QImage &reference,
                                bool skipTransparent) {
    PixelDifference d;
    if (picture.size() != reference.size() || picture.isNull()) {
        return d;
    }
    d.sameSize = true;
    const QImage alpha = reference.convertToFormat(QImage::Format_ARGB32);
    QImage ref(reference.size(), QImage::Format_RGB32);
    ref.fill(Qt::white);
    {
        QPainter painter(&ref);
        painter.drawImage(0, 0, reference);
    }
    const QImage pic = picture.convertToFormat(QImage::Format_RGB32);
    // For each channel and each reference level: the lowest and highest level of the picture.
    int lowest[3][256], highest[3][256];
    for (int c = 0; c < 3; ++c) {
        std::fill(std::begin(lowest[c]), std::end(lowest[c]), 256);
        std::fill(std::begin(highest[c]), std::end(highest[c]), -1);
    }
    qint64 counted = 0, over3 = 0, over8 = 0;
    double total = 0;
    for (int y = 0; y < ref.height(); ++y) {
        const auto *a = reinterpret_cast<const QRgb *>(ref.constScanLine(y));
        const auto *b = reinterpret_cast<const QRgb *>(pic.constScanLine(y));
        const auto *t = reinterpret_cast<const QRgb *>(alpha.constScanLine(y));
        for (int x = 0; x < ref.width(); ++x) {
            if (skipTransparent && qAlpha(t[x]) == 0) {
                continue;
            }
            const int ra[3] = {qRed(a[x]), qGreen(a[x]), qBlue(a[x])};
            const int pb[3] = {qRed(b[x]), qGreen(b[x]), qBlue(b[x])};
            int diff = 0;
            for (int c = 0; c < 3; ++c) {
                diff = std::max(diff, std::abs(ra[c] - pb[c]));
                lowest[c][ra[c]] = std::min(lowest[c][ra[c]], pb[c]);
                highest[c][ra[c]] = std::max(highest[c][ra[c]], pb[c]);
            }
            ++counted;
            d.largest = std::max(d.largest, diff);
            total += diff;
            over3 += diff > 3;
            over8 += diff > 8;
        }
    }
    if (counted == 0) {
        return d;
    }
    d.mean = total / double(counted);
    d.shareOver3 = double(over3) / double(counted);
    d.shareOver8 = double(over8) / double(counted);
    d.levelsInOrder = true;
    int referenceLevels[3] = {0, 0, 0}, pictureLevels[3] = {0, 0, 0}, lastCounted[3] = {-1, -1, -1};
    for (int c = 0; c < 3; ++c) {
        int previousLow = -1, previousHigh = -1;
        for (int level = 0; level < 256; ++level) {
            if (highest[c][level] < 0) {
                continue; // the reference has no pixel at this level
            }
            // Neighbouring levels may meet where the two readers round differently.
            if (highest[c][level] - lowest[c][level] > 1 || lowest[c][level] < previousLow ||
                highest[c][level] < previousHigh) {
                d.levelsInOrder = false;
            }
            previousLow = lowest[c][level];
            previousHigh = highest[c][level];
            referenceLevels[c]++;
            pictureLevels[c] += highest[c][level] > lastCounted[c] ? 1 : 0;
            lastCounted[c] = highest[c][level];
        }
        // Levels that merge by rounding are fine; a channel that loses its levels is not.
        if (pictureLevels[c] * 2 < referenceLevels[c]) {
            d.levelsInOrder = false;
        }
    }
    return d;
}
