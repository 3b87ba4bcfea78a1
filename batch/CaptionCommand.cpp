#include "batch/CaptionCommand.h"

#include "SafeReplace.h"

#include "batch/CaptionOptions.h"
#include "batch/CaptionPicture.h"
#include "batch/CaptionWriter.h"
#include "batch/Interrupt.h"
#include "platform/Services.h"
#include "save/Destination.h"
#include "save/FileUtils.h"
#include "save/PrivateFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <atomic>
#include <csignal>
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

// The summary of a run cut short by a signal: what was written, what failed, and what was not
// started; 128 + the signal's number is the exit status.
int ReportInterruptedRun(const CaptionOptions &options, const std::vector<CaptionOutput> &outputs,
                         const std::vector<Outcome> &outcomes, int signal) {
    int written = 0;
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const QString &input = options.files.at(qsizetype(i));
        if (!outcomes[i].done) {
            std::printf("not written: %s (not started)\n", qPrintable(input));
        } else if (!outcomes[i].failure.isEmpty()) {
            std::printf("not written: %s: %s\n", qPrintable(input),
                        qPrintable(outcomes[i].failure));
        } else {
            ++written;
            std::printf("written: %s\n", qPrintable(outputs[i].path));
        }
    }
    std::printf("interrupted by %s: captioned %d of %d pictures into %s\n",
                signal == SIGINT ? "SIGINT" : "SIGTERM", written, int(outcomes.size()),
                qPrintable(QDir::toNativeSeparators(options.outFolder)));
    std::fflush(stdout);
    return 128 + signal;
}

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
        // A picture that is not there writes nothing, so it takes no name from one that is.
        if (!QFileInfo(options.files.at(i)).isFile()) {
            outcomes[size_t(i)].failure = QStringLiteral("File not found");
            outcomes[size_t(i)].done = true;
            continue;
        }
        const QString key = QFileInfo(outputs[size_t(i)].path).absoluteFilePath();
        if (const auto it = claimed.constFind(key); it != claimed.constEnd()) {
            outcomes[size_t(i)].failure = QStringLiteral("would write %1, as %2 does")
                                              .arg(outputs[size_t(i)].path, options.files.at(*it));
            outcomes[size_t(i)].done = true;
        } else {
            claimed.insert(key, i);
        }
    }

    // JPGs go through the converter in a private folder inside the temporary folder. What killed
    // runs left there, and their partial files in the output folder, go first.
    RealServices services;
    const QString temp = TempFolder(services);
    PrivateFolder::removeAbandoned(temp);
    safe::removeLeftovers(NativePath(options.outFolder));
    CaptionWriter writer(temp);

    // One picture per worker at a time: memory stays bounded by the pictures in flight. After
    // SIGINT or SIGTERM no picture starts; those under way end as they would.
    const InterruptWatch interrupts;
    Progress progress(total);
    std::atomic<int> next{0};
    const auto work = [&] {
        for (int i = next++; i < total && InterruptWatch::signal() == 0; i = next++) {
            Outcome &outcome = outcomes[size_t(i)];
            if (!outcome.done) {
                try {
                    CaptionPictureFile(options, options.files.at(i), outputs[size_t(i)], writer, i);
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
    if (InterruptWatch::signal() != 0) {
        return ReportInterruptedRun(options, outputs, outcomes, InterruptWatch::signal());
    }

    int failed = 0;
    for (int i = 0; i < total; ++i) {
        if (!outcomes[size_t(i)].failure.isEmpty()) {
            ++failed;
            std::fprintf(stderr, "failed: %s: %s\n", qPrintable(options.files.at(i)),
                         qPrintable(outcomes[size_t(i)].failure));
        }
    }
    std::printf("captioned %d of %d pictures into %s", total - failed, total,
                qPrintable(QDir::toNativeSeparators(options.outFolder)));
    if (failed > 0) {
        std::printf("; %d failed", failed);
    }
    std::printf("\n");
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}
