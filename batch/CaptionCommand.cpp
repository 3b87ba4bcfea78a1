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
#include "save/FileUtils.h"
#include "save/PrivateFolder.h"

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

// A name on the terminal: its own bytes, as the user's system shows them.
QByteArray Printed(const std::filesystem::path &path) {
    return PathBytes(path);
}
QByteArray Printed(const QString &text) {
    return text.toLocal8Bit();
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
    void finished(const std::filesystem::path &file) {
        const QMutexLocker lock(&mutex_);
        ++done_;
        if (terminal_) {
            const QByteArray line = QByteArrayLiteral("captioned ") + QByteArray::number(done_) +
                                    " of " + QByteArray::number(total_) + ": " +
                                    Printed(file.filename());
            std::fprintf(stderr, "\r%-78s", line.left(78).constData());
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

// The counts of a run, each apart.
struct Counts {
    int total = 0;
    int written = 0;
    int skipped = 0;
    int failed = 0;
    int notKept = 0;
    int dropped = 0; // written without their pictures after the first
    int notStarted = 0;
};

// "captioned W of T pictures into DIR (shard K/N); S skipped, already complete; ..."
void PrintSummary(const CaptionOptions &options, const Counts &counts) {
    std::printf("captioned %d of %d pictures into %s", counts.written, counts.total,
                Printed(options.outFolder).constData());
    if (options.shards > 1) {
        std::printf(" (shard %d/%d)", options.shard, options.shards);
    }
    if (counts.skipped > 0) {
        std::printf("; %d skipped, already complete", counts.skipped);
    }
    if (counts.notKept > 0) {
        std::printf("; %d written anew", counts.notKept);
    }
    if (counts.dropped > 0) {
        std::printf("; %d without their second pictures", counts.dropped);
    }
    if (counts.failed > 0) {
        std::printf("; %d failed", counts.failed);
    }
    if (counts.notStarted > 0) {
        std::printf("; %d not started", counts.notStarted);
    }
    std::printf("\n");
    std::fflush(stdout);
}

// The summary of a run cut short by a signal: what was written, skipped, failed and not started
// (in the report too, as "interrupted"); 128 + the signal's number is the exit status.
int ReportInterruptedRun(const CaptionOptions &options, const CaptionRun &run,
                         const std::vector<Outcome> &outcomes, CaptionReport &report, int signal) {
    const char *name = signal == SIGINT ? "SIGINT" : "SIGTERM";
    Counts counts;
    counts.total = int(outcomes.size());
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const std::filesystem::path &input = options.files.at(run.pictures[i]);
        const Outcome &outcome = outcomes[i];
        if (!outcome.done) {
            ++counts.notStarted;
            std::printf("not written: %s (not started)\n", Printed(input).constData());
            PictureResult result;
            result.input = input;
            result.output = OutputFor(options, input).path;
            result.status = QStringLiteral("interrupted");
            result.reason =
                QStringLiteral("not started: the run was stopped by ") + QLatin1String(name);
            report.add(result);
        } else if (!outcome.failure.isEmpty()) {
            ++counts.failed;
            std::printf("not written: %s: %s\n", Printed(input).constData(),
                        Printed(outcome.failure).constData());
        } else if (outcome.skipped) {
            ++counts.skipped;
            std::printf("skipped: %s (already complete)\n",
                        Printed(OutputFor(options, input).path).constData());
        } else {
            ++counts.written;
            std::printf("written: %s\n", Printed(OutputFor(options, input).path).constData());
        }
    }
    std::printf("interrupted by %s: ", name);
    PrintSummary(options, counts);
    return 128 + signal;
}

// A report that could not be written fails the run: the pictures are named in nothing else.
int Closed(CaptionReport &report, const CaptionOptions &options, int status) {
    if (!report.close()) {
        std::fprintf(stderr, "glyphtack caption: cannot write the report %s: %s\n",
                     Printed(options.reportPath).constData(), Printed(report.error()).constData());
        return status == 0 ? 1 : status;
    }
    return status;
}

} // namespace

int RunCaptionCommand(const QList<QByteArray> &arguments) {
    const ParsedCaptionCommand parsed = ParseCaptionCommand(arguments);
    if (!parsed.options) {
        std::fprintf(parsed.exitCode == 0 ? stdout : stderr, "%s\n",
                     Printed(parsed.message.trimmed()).constData());
        return parsed.exitCode;
    }
#ifdef SIGPIPE
    // A report or summary into a pipe that closed is a failed write, not the end of the run.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    CaptionOptions options = *parsed.options;
    CaptionReport report;
    try {
        if (!options.filesFrom.empty()) {
            options.files += ReadFileList(options.filesFrom, options.nulSeparated);
        }
        if (!options.reportPath.empty() && !report.open(options.reportPath)) {
            throw RuntimeError("cannot write the report " + options.reportPath.string() + ": " +
                               report.error().toStdString());
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "glyphtack caption: %s\n", e.what());
        return 2;
    }
    std::error_code notMade;
    std::filesystem::create_directories(options.outFolder, notMade);
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
    // runs left there, and their partial files in the output folder, go first, once: no picture
    // looks through the folders again.
    RealServices services;
    const QString temp = CommandTempFolder(services);
    PrivateFolder::removeAbandoned(temp);
    safe::removeLeftovers(options.outFolder);
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
        const int signal = InterruptWatch::signal();
        return Closed(report, options,
                      ReportInterruptedRun(options, run, outcomes, report, signal));
    }

    Counts counts;
    counts.total = total;
    for (int k = 0; k < total; ++k) {
        const Outcome &outcome = outcomes[size_t(k)];
        const std::filesystem::path &input = options.files.at(run.pictures[size_t(k)]);
        if (!outcome.failure.isEmpty()) {
            ++counts.failed;
            std::fprintf(stderr, "failed: %s: %s\n", Printed(input).constData(),
                         Printed(outcome.failure).constData());
            continue;
        }
        if (outcome.skipped) {
            ++counts.skipped;
            continue;
        }
        ++counts.written;
        if (!outcome.notKept.isEmpty()) {
            ++counts.notKept;
            std::printf("written anew at quality %d: %s: its blocks cannot be kept: %s\n",
                        outcome.quality, Printed(input).constData(),
                        Printed(outcome.notKept).constData());
        }
        if (outcome.droppedPictures) {
            ++counts.dropped;
            std::printf("written without its second pictures: %s: they do not match the "
                        "picture as written\n",
                        Printed(input).constData());
        }
    }
    PrintSummary(options, counts);
    return Closed(report, options, counts.failed == 0 ? 0 : 1);
}
