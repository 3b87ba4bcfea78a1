#include "batch/CaptionCommand.h"

#include "batch/CaptionOptions.h"
#include "batch/CaptionPicture.h"
#include "batch/CaptionWriter.h"
#include "platform/Services.h"
#include "save/FileUtils.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <atomic>
#include <cstdio>
#include <exception>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// One picture's outcome.
struct Outcome {
    bool done = false;
    QString failure;
    CaptionResult result;
};

// The progress line on a terminal: how many pictures are done, and the last one.
class Progress {
public:
    explicit Progress(int total) : total_(total), terminal_(isatty(STDERR_FILENO) != 0) {}
    void finished(const QString &file) {
        const QMutexLocker lock(&mutex_);
        ++done_;
        if (terminal_) {
            const QString line = QStringLiteral("captioned %1 of %2: %3")
                                     .arg(done_)
                                     .arg(total_)
                                     .arg(QFileInfo(file).fileName())
                                     .left(78);
            std::fprintf(stderr, "\r%-78s", qPrintable(line));
            std::fflush(stderr);
        }
    }
    void end() {
        if (terminal_ && done_ > 0) {
            std::fprintf(stderr, "\r%-78s\r", "");
            std::fflush(stderr);
        }
    }

private:
    QMutex mutex_;
    int total_;
    int done_ = 0;
    bool terminal_;
};

} // namespace

int RunCaptionCommand(const QStringList &arguments) {
    const ParsedCaptionCommand parsed = ParseCaptionCommand(arguments);
    if (!parsed.options) {
        std::fprintf(parsed.exitCode == 0 ? stdout : stderr, "%s\n",
                     qPrintable(parsed.message.trimmed()));
        return parsed.exitCode;
    }
    const CaptionOptions &options = *parsed.options;
    if (!QDir().mkpath(options.outFolder) || !QFileInfo(options.outFolder).isDir()) {
        std::fprintf(stderr, "glyphtack caption: cannot make the output folder %s\n",
                     qPrintable(options.outFolder));
        return 2;
    }

    // Where each picture goes; two inputs that would write the same file are not both written.
    const int total = int(options.files.size());
    std::vector<CaptionOutput> outputs(static_cast<size_t>(total));
    std::vector<Outcome> outcomes(static_cast<size_t>(total));
    QHash<QString, int> claimed;
    for (int i = 0; i < total; ++i) {
        outputs[size_t(i)] = OutputFor(options, options.files.at(i));
        const QString key = QFileInfo(outputs[size_t(i)].path).absoluteFilePath();
        if (const auto it = claimed.constFind(key); it != claimed.constEnd()) {
            outcomes[size_t(i)].failure = QStringLiteral("would write %1, as %2 does")
                                              .arg(outputs[size_t(i)].path, options.files.at(*it));
            outcomes[size_t(i)].done = true;
        } else {
            claimed.insert(key, i);
        }
    }

    // JPGs go through the converter in a private folder inside the temporary folder.
    RealServices services;
    CaptionWriter writer(TempFolder(services));

    // One picture per worker at a time: memory stays bounded by the pictures in flight.
    Progress progress(total);
    std::atomic<int> next{0};
    const auto work = [&] {
        for (int i = next++; i < total; i = next++) {
            Outcome &outcome = outcomes[size_t(i)];
            if (!outcome.done) {
                try {
                    outcome.result = CaptionPictureFile(options, options.files.at(i),
                                                        outputs[size_t(i)], writer, i);
                } catch (const std::exception &e) {
                    outcome.failure = QString::fromUtf8(e.what());
                } catch (...) {
                    outcome.failure = QStringLiteral("unknown failure");
                }
                outcome.done = true;
            }
            progress.finished(options.files.at(i));
        }
    };
    const int workers = qMax(1, qMin(options.jobs, total));
    std::vector<std::thread> threads;
    for (int w = 1; w < workers; ++w) {
        threads.emplace_back(work);
    }
    work();
    for (std::thread &t : threads) {
        t.join();
    }
    progress.end();

    int failed = 0, notKept = 0;
    for (int i = 0; i < total; ++i) {
        const CaptionResult &result = outcomes[size_t(i)].result;
        if (!result.notKept.isEmpty() && outcomes[size_t(i)].failure.isEmpty()) {
            ++notKept;
            std::printf("written anew at quality %d: %s: its blocks cannot be kept: %s\n",
                        result.quality, qPrintable(options.files.at(i)),
                        qPrintable(result.notKept));
        }
        if (!outcomes[size_t(i)].failure.isEmpty()) {
            ++failed;
            std::fprintf(stderr, "failed: %s: %s\n", qPrintable(options.files.at(i)),
                         qPrintable(outcomes[size_t(i)].failure));
        }
    }
    std::printf("captioned %d of %d pictures into %s", total - failed, total,
                qPrintable(QDir::toNativeSeparators(options.outFolder)));
    if (notKept > 0) {
        std::printf("; %d written anew", notKept);
    }
    if (failed > 0) {
        std::printf("; %d failed", failed);
    }
    std::printf("\n");
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}
