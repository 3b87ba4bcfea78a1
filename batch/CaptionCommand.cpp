#include "batch/CaptionCommand.h"

#include "SafeReplace.h"
#include "app/ErrorReport.h"
#include "batch/CaptionList.h"
#include "batch/CaptionOptions.h"
#include "batch/CaptionPicture.h"
#include "batch/CaptionReport.h"
#include "batch/CaptionWriter.h"
#include "batch/Interrupt.h"
#include "platform/FileNames.h"
#include "platform/Services.h"
#include "save/Destination.h"
#include "save/FileUtils.h"
#include "save/PrivateFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Text for the terminal: file names in it with their own bytes.
QByteArray Printed(const QString &text) {
    return FileNameBytes(text);
}

// One picture's outcome.
struct Outcome {
    bool done = false;
    bool skipped = false;
    QString failure;
    int quality = 0;
    QString notKept;              // why its blocks could not be kept, when it was written anew
    bool droppedPictures = false; // its pictures after the first were left out
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
            std::fprintf(stderr, "\r%-78s", Printed(line).constData());
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
int ReportInterruptedRun(const CaptionOptions &options, const CaptionRun &run,
                         const std::vector<Outcome> &outcomes, int signal) {
    int written = 0;
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const QString &input = options.files.at(run.pictures[i]);
        if (!outcomes[i].done) {
            std::printf("not written: %s (not started)\n", Printed(input).constData());
        } else if (!outcomes[i].failure.isEmpty()) {
            std::printf("not written: %s: %s\n", Printed(input).constData(),
                        Printed(outcomes[i].failure).constData());
        } else {
            ++written;
            std::printf("written: %s\n", Printed(OutputFor(options, input).path).constData());
        }
    }
    std::printf("interrupted by %s: captioned %d of %d pictures into %s\n",
                signal == SIGINT ? "SIGINT" : "SIGTERM", written, int(outcomes.size()),
                Printed(QDir::toNativeSeparators(options.outFolder)).constData());
    std::fflush(stdout);
    return 128 + signal;
}

} // namespace

int RunCaptionCommand(const QStringList &arguments) {
    const ParsedCaptionCommand parsed = ParseCaptionCommand(arguments);
    if (!parsed.options) {
        std::fprintf(parsed.exitCode == 0 ? stdout : stderr, "%s\n",
                     Printed(parsed.message.trimmed()).constData());
        return parsed.exitCode;
    }
    CaptionOptions options = *parsed.options;
    CaptionReport report;
    try {
        if (!options.filesFrom.isEmpty()) {
            options.files += ReadFileList(options.filesFrom, options.nulSeparated);
        }
        if (!options.reportPath.isEmpty() && !report.open(options.reportPath)) {
            throw RuntimeError(QStringLiteral("cannot write the report %1: %2")
                                   .arg(options.reportPath, report.error())
                                   .toStdString());
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "glyphtack caption: %s\n", e.what());
        return 2;
    }
    std::error_code notMade;
    std::filesystem::create_directories(NativePath(options.outFolder), notMade);
    if (!StatusOf(options.outFolder).isDir) {
        std::fprintf(stderr, "glyphtack caption: cannot make the output folder %s\n",
                     Printed(options.outFolder).constData());
        return 2;
    }

    // This run's share of the list; two inputs that would write the same file are not both
    // written.
    const CaptionRun run = PlanCaptionRun(options);
    const int total = int(run.pictures.size());
    std::vector<Outcome> outcomes(static_cast<size_t>(total));

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
        for (int k = next++; k < total && InterruptWatch::signal() == 0; k = next++) {
            const PictureResult result =
                CaptionListedPicture(options, run, run.pictures[size_t(k)], writer);
            report.add(result);
            Outcome &outcome = outcomes[size_t(k)];
            outcome.done = true;
            outcome.skipped = result.status == QLatin1String("skipped");
            outcome.quality = result.quality;
            outcome.notKept = result.notKept;
            outcome.droppedPictures = result.droppedPictures;
            if (result.status == QLatin1String("failed")) {
                outcome.failure = result.reason;
            }
            progress.finished(result.input);
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
        return ReportInterruptedRun(options, run, outcomes, InterruptWatch::signal());
    }

    int failed = 0;
    int skipped = 0;
    int notKept = 0;
    int dropped = 0;
    for (int k = 0; k < total; ++k) {
        const Outcome &outcome = outcomes[size_t(k)];
        skipped += outcome.skipped ? 1 : 0;
        if (!outcome.notKept.isEmpty() && outcome.failure.isEmpty()) {
            ++notKept;
            std::printf("written anew at quality %d: %s: its blocks cannot be kept: %s\n",
                        outcome.quality,
                        Printed(options.files.at(run.pictures[size_t(k)])).constData(),
                        Printed(outcome.notKept).constData());
        }
        if (outcome.droppedPictures && outcome.failure.isEmpty()) {
            ++dropped;
            std::printf("written without its second pictures: %s: they do not match the "
                        "picture as written\n",
                        Printed(options.files.at(run.pictures[size_t(k)])).constData());
        }
        if (!outcome.failure.isEmpty()) {
            ++failed;
            std::fprintf(stderr, "failed: %s: %s\n",
                         Printed(options.files.at(run.pictures[size_t(k)])).constData(),
                         Printed(outcome.failure).constData());
        }
    }
    std::printf("captioned %d of %d pictures into %s", total - failed - skipped, total,
                Printed(QDir::toNativeSeparators(options.outFolder)).constData());
    if (options.shards > 1) {
        std::printf(" (shard %d/%d)", options.shard, options.shards);
    }
    if (skipped > 0) {
        std::printf("; %d skipped, already complete", skipped);
    }
    if (notKept > 0) {
        std::printf("; %d written anew", notKept);
    }
    if (dropped > 0) {
        std::printf("; %d without their second pictures", dropped);
    }
    if (failed > 0) {
        std::printf("; %d failed", failed);
    }
    std::printf("\n");
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}
