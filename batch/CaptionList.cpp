#include "batch/CaptionList.h"

#include "app/ErrorReport.h"
#include "batch/CaptionReport.h"
#include "batch/CaptionTemplate.h"
#include "platform/FileNames.h"

#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <optional>

namespace fs = std::filesystem;

QList<fs::path> ReadFileList(const fs::path &from, bool nulSeparated) {
    QByteArray bytes;
    const auto cannotRead = [&](const std::string &why) {
        return RuntimeError("cannot read the list " + from.string() + ": " + why);
    };
    if (from == "-") {
        QFile in;
        if (!in.open(stdin, QIODevice::ReadOnly) || (bytes = in.readAll(), false) ||
            in.error() != QFileDevice::NoError) {
            throw cannotRead(in.errorString().toStdString());
        }
    } else {
        std::ifstream in(from, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        if (!in.is_open() || in.bad()) {
            throw cannotRead(std::strerror(errno));
        }
        bytes = QByteArray::fromStdString(text);
    }
    QList<fs::path> paths;
    for (QByteArray entry : bytes.split(nulSeparated ? '\0' : '\n')) {
        if (!nulSeparated && entry.endsWith('\r')) {
            entry.chop(1);
        }
        if (!entry.isEmpty()) {
            paths.push_back(PathFromBytes(entry));
        }
    }
    return paths;
}

quint64 PathHash(const fs::path &path) {
    quint64 hash = 14695981039346656037ULL;
    for (const char byte : PathBytes(path)) {
        hash ^= quint64(uchar(byte));
        hash *= 1099511628211ULL;
    }
    return hash;
}

CaptionRun PlanCaptionRun(const CaptionOptions &options) {
    CaptionRun run;
    const int count = int(options.files.size());
    // Each picture's output name as a number, with its place in the list: a list of a million
    // pictures keeps two numbers per picture, not a path. Outputs share one folder, so the name
    // tells which write one file; it is taken without its extension, which may depend on what
    // the file holds, so that no file is read here but where two names meet.
    std::vector<std::pair<quint64, int>> names(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const fs::path &input = options.files.at(i);
        if (PathHash(input) % quint64(options.shards) == quint64(options.shard)) {
            run.pictures.push_back(i);
        }
        names[size_t(i)] = {PathHash(PathFromBytes(OutputNameKey(options, input))), i};
    }
    std::sort(names.begin(), names.end());
    std::vector<bool> mine(static_cast<size_t>(count), false);
    for (const int i : run.pictures) {
        mine[size_t(i)] = true;
    }
    // Among the pictures of one name, the first in the list that is there writes it; a later one
    // of this shard is not written. A picture that is not there writes nothing, so it takes no
    // name from one that is. Only pictures whose names meet are looked at, each output found
    // once (reading the file's start when its name leaves the format open).
    for (size_t first = 0; first < names.size();) {
        size_t end = first + 1;
        while (end < names.size() && names[end].first == names[first].first) {
            ++end;
        }
        std::vector<std::optional<fs::path>> outputs(end - first);
        const auto outputOf = [&](size_t k) -> const std::optional<fs::path> & {
            std::optional<fs::path> &output = outputs[k - first];
            if (!output) {
                const fs::path &input = options.files.at(names[k].second);
                output = StatusOf(input).isFile ? OutputFor(options, input).path : fs::path();
            }
            return output;
        };
        for (size_t k = first + 1; k < end; ++k) {
            const int later = names[k].second;
            if (!mine[size_t(later)] || outputOf(k)->empty()) {
                continue;
            }
            for (size_t e = first; e < k; ++e) {
                if (*outputOf(e) == *outputOf(k)) {
                    run.clashes.insert(later,
                                       QStringLiteral("would write %1, as %2 does")
                                           .arg(ShownName(*outputOf(k)),
                                                ShownName(options.files.at(names[e].second))));
                    break;
                }
            }
        }
        first = end;
    }
    return run;
}

namespace {

// Whether what stands at an output lets --skip-existing skip its picture: only a complete
// picture that this command could have written there (it places its files whole, by a rename),
// never a link nor anything else; those are the picture's failure, and stay as they are.
bool AlreadyWritten(const CaptionOutput &output, bool overwrite, const fs::path &input) {
    const NameStatus at = StatusOf(output.path);
    if (!at.exists && !at.isLink) {
        return false;
    }
    if (!at.isLink && at.isFile && IsCompleteOutput(output.path, output.format, input)) {
        return true;
    }
    if (overwrite) {
        return false;
    }
    const std::string name = output.path.string();
    if (at.isLink) {
        throw RuntimeError("the output " + name +
                           " is a link; it is left as it is (use --overwrite to write through it)");
    }
    throw RuntimeError("the output " + name +
                       " is not a complete picture; it is left as it is (use --overwrite to "
                       "replace it)");
}

} // namespace

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
        if (options.skipExisting && AlreadyWritten(output, options.overwrite, result.input)) {
            result.status = QStringLiteral("skipped");
            result.reason = QStringLiteral("the output is already complete");
            result.milliseconds = clock.elapsed();
            return result;
        }
        CaptionOptions own = options;
        own.caption.text =
            CaptionTextFor(options.caption.text, result.input, index + 1, options.dateFormat);
        const CaptionResult written = CaptionPictureFile(own, result.input, output, writer, index);
        result.quality = written.quality;
        result.kept = written.kept;
        result.notKept = written.notKept;
        result.droppedPictures = written.droppedPictures;
        if (!written.notKept.isEmpty()) {
            result.reason =
                QStringLiteral("written anew: its blocks cannot be kept: ") + written.notKept;
        }
        result.status = QStringLiteral("written");
    } catch (const std::exception &e) {
        result.status = QStringLiteral("failed");
        result.reason = QString::fromLocal8Bit(e.what());
    } catch (...) {
        result.status = QStringLiteral("failed");
        result.reason = QStringLiteral("unknown failure");
    }
    result.milliseconds = clock.elapsed();
    return result;
}
