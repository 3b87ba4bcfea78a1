#include "batch/CaptionList.h"

#include "app/ErrorReport.h"
#include "batch/CaptionReport.h"
#include "batch/CaptionTemplate.h"
#include "platform/FileNames.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <exception>

QStringList ReadFileList(const QString &from, bool nulSeparated) {
    QFile file(from);
    const bool opened = from == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                   : file.open(QIODevice::ReadOnly);
    const QByteArray bytes = opened ? file.readAll() : QByteArray();
    if (!opened || file.error() != QFileDevice::NoError) {
        throw RuntimeError(QStringLiteral("cannot read the list %1: %2")
                               .arg(from, file.errorString())
                               .toStdString());
    }
    QStringList paths;
    for (QByteArray entry : bytes.split(nulSeparated ? '\0' : '\n')) {
        if (!nulSeparated && entry.endsWith('\r')) {
            entry.chop(1);
        }
        if (!entry.isEmpty()) {
            paths << FileNameFromBytes(entry);
        }
    }
    return paths;
}

quint64 PathHash(const QString &path) {
    quint64 hash = 14695981039346656037ULL;
    for (const char byte : FileNameBytes(path)) {
        hash ^= quint64(uchar(byte));
        hash *= 1099511628211ULL;
    }
    return hash;
}

CaptionRun PlanCaptionRun(const CaptionOptions &options) {
    CaptionRun run;
    // The first picture to claim each output file, by the hash of its full path: a list of a
    // million pictures keeps a number per picture, not a path.
    QHash<quint64, int> claimed;
    const auto target = [&](int i) {
        return QFileInfo(OutputFor(options, options.files.at(i)).path).absoluteFilePath();
    };
    for (int i = 0; i < int(options.files.size()); ++i) {
        const bool mine =
            PathHash(options.files.at(i)) % quint64(options.shards) == quint64(options.shard);
        // A picture that is not there writes nothing, so it takes no name from one that is.
        if (!StatusOf(options.files.at(i)).isFile) {
            if (mine) {
                run.pictures.push_back(i);
            }
            continue;
        }
        const QString path = target(i);
        const auto it = claimed.constFind(PathHash(path));
        if (it == claimed.constEnd()) {
            claimed.insert(PathHash(path), i);
        } else if (mine && target(*it) == path) {
            run.clashes.insert(
                i, QStringLiteral("would write %1, as %2 does")
                       .arg(OutputFor(options, options.files.at(i)).path, options.files.at(*it)));
        }
        if (mine) {
            run.pictures.push_back(i);
        }
    }
    return run;
}

PictureResult CaptionListedPicture(const CaptionOptions &options, const CaptionRun &run, int index,
                                   CaptionWriter &writer) {
    QElapsedTimer clock;
    clock.start();
    PictureResult result;
    result.input = options.files.at(index);
    const CaptionOutput output = OutputFor(options, result.input);
    result.output = output.path;
    try {
        if (const auto clash = run.clashes.constFind(index); clash != run.clashes.constEnd()) {
            throw RuntimeError(clash->toStdString());
        }
        CaptionOptions own = options;
        if (options.skipExisting && StatusOf(output.path).exists) {
            if (IsCompleteOutput(OpenableName(output.path).path(), output.format,
                                 OpenableName(result.input).path())) {
                result.status = QStringLiteral("skipped");
                result.reason = QStringLiteral("the output is already complete");
                result.milliseconds = clock.elapsed();
                return result;
            }
            // Left unfinished by a run that was stopped: written again, unless it is the input.
            own.overwrite = options.overwrite || !SameFile(output.path, result.input);
        }
        own.caption.text =
            CaptionTextFor(options.caption.text, result.input, index + 1, options.dateFormat);
        const CaptionResult written = CaptionPictureFile(own, result.input, output, writer, index);
        result.quality = written.quality;
        result.notKept = written.notKept;
        result.droppedPictures = written.droppedPictures;
        if (!written.notKept.isEmpty()) {
            result.reason =
                QStringLiteral("written anew: its blocks cannot be kept: ") + written.notKept;
        }
        result.status = QStringLiteral("written");
    } catch (const std::exception &e) {
        result.status = QStringLiteral("failed");
        result.reason = QString::fromUtf8(e.what());
    } catch (...) {
        result.status = QStringLiteral("failed");
        result.reason = QStringLiteral("unknown failure");
    }
    result.milliseconds = clock.elapsed();
    return result;
}
