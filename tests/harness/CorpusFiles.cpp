#include "CorpusFiles.h"
#include "FileHeaders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
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

QMap<QString, MagickDecoding> DecodeWithMagick(const QStringList &files) {
    QMap<QString, MagickDecoding> decoded;
    const QString program = MagickProgram();
    if (program.isEmpty()) {
        return decoded;
    }
    const int atOnce = qMax(2, QThread::idealThreadCount());
    struct Run {
        QString file;
        std::unique_ptr<QProcess> process;
    };
    std::deque<Run> running;
    qsizetype next = 0;
    auto finish = [&](Run &run) {
        run.process->waitForFinished(60000);
        MagickDecoding result;
        result.errors = QString::fromLocal8Bit(run.process->readAllStandardError());
        // The page offset comes first on the error output, as "+X +Y".
        const QStringList first = result.errors.section('\n', 0, 0).split(' ');
        if (first.size() == 2 && first.at(0).startsWith('+') && first.at(1).startsWith('+')) {
            result.at = QPoint(first.at(0).toInt(), first.at(1).toInt());
        }
        if (run.process->exitStatus() == QProcess::NormalExit) {
            result.image.loadFromData(run.process->readAllStandardOutput(), "PNG");
        }
        decoded.insert(run.file, result);
    };
    while (next < files.size() || !running.empty()) {
        while (next < files.size() && running.size() < std::size_t(atOnce)) {
            const QString file = files.at(next++);
            QStringList args = {file + QStringLiteral("[0]")};
            const QByteArray start = FileStart(file, 8);
            args << QStringLiteral("-auto-orient");
            if (IsGifFile(start)) {
                args << QStringLiteral("-format") << QStringLiteral("%X %Y\n")
                     << QStringLiteral("-write") << QStringLiteral("info:fd:2");
            }
            if (IsBitmapFile(start)) {
                args << QStringLiteral("-alpha") << QStringLiteral("off");
            }
            // Without its metadata: some files carry values the PNG writer refuses.
            args << QStringLiteral("-strip") << QStringLiteral("png:-");
            Run run{file, std::make_unique<QProcess>()};
            run.process->start(program, args);
            running.push_back(std::move(run));
        }
        finish(running.front());
        running.pop_front();
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
