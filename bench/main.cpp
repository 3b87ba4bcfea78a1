#include "bench/Bench.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>

namespace {

struct Mode {
    const char *name;
    int (*run)();
};

const Mode modes[] = {
    {"zoom", RunZoomBench}, {"save", RunSaveBench},   {"road", RunRoadBench},
    {"view", RunViewBench}, {"batch", RunBatchBench}, {"keep", RunKeepBench},
};

} // namespace

void PrintFigure(const QString &name, double value, const QString &unit) {
    std::printf("%s %.3f %s\n", qPrintable(name), value, qPrintable(unit));
    std::fflush(stdout);
}

void PrintRatio(const QString &name, double value) {
    std::printf("ratio %s %.3f\n", qPrintable(name), value);
    std::fflush(stdout);
}

double PeakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

double CurrentRssMb() {
    long pages = 0;
    long resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(f);
    }
    return double(resident) * 4096.0 / (1024.0 * 1024.0);
}

QString BenchFolder() {
    static QTemporaryDir dir;
    return dir.path();
}

MsgAnswer BenchServices::messageBox(QWidget *, const MessageRequest &request) {
    std::fprintf(stderr, "message: %s\n", qPrintable(request.text));
    return DefaultAnswer(request);
}

std::unique_ptr<QSettings> BenchServices::openSettings() {
    return std::make_unique<QSettings>(BenchFolder() + QStringLiteral("/settings.ini"),
                                       QSettings::IniFormat);
}

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: glyphtack-bench MODE\nmodes:");
        for (const Mode &m : modes) {
            std::fprintf(stderr, " %s", m.name);
        }
        std::fprintf(stderr, "\n");
        return 2;
    }
    if (std::strcmp(argv[1], "view-one") == 0) {
        return RunViewOne(argc, argv);
    }
    for (const Mode &m : modes) {
        if (std::strcmp(argv[1], m.name) == 0) {
            return m.run();
        }
    }
    std::fprintf(stderr, "unknown mode: %s\n", argv[1]);
    return 2;
}
