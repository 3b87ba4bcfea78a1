// What a user feels on big photos: the real window under Xvfb, from the click on Zoom In or Zoom
// Out (or a scroll-bar arrow) to the frame painted on the X server, through every level the
// limits allow from 0.25 up and back, on generated photos of 1, 24 and 96 megapixels; the load,
// to its first painted frame and to the whole picture on screen, beside libjpeg-turbo's own
// decode of the same file in the same process; a small PNG loaded after the photo; memory
// during the load and the walk; a caption stamped at 0.25. Each photo runs in a child process
// of its own, so that its memory figures are its own.
#include "app/Form1.h"
#include "bench/Bench.h"
#include "bench/ChildRun.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QThread>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

struct Photo {
    const char *tag;
    int width;
    int height;
};
const Photo Photos[] = {{"1mp", 1224, 816}, {"24mp", 6000, 4000}, {"96mp", 12000, 8000}};

// Resident memory now and its high-water mark, in bytes, from the kernel's own account.
qint64 StatusBytes(const char *field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field)) {
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').value(0).toLongLong() *
                   1024;
        }
    }
    return 0;
}

// Starts the high-water mark afresh at the resident memory of now.
void ResetPeak() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly)) {
        clear.write("5");
    }
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return -1.0;
    }
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// Answers the zoom warning before placing with Yes, as the user going on at 0.25 does.
class ViewServices : public BenchServices {
public:
    MsgAnswer messageBox(QWidget *parent, const MessageRequest &request) override {
        if (request.text.startsWith(QStringLiteral("Editing on zoomed picture"))) {
            return MsgAnswer::Yes;
        }
        return BenchServices::messageBox(parent, request);
    }
    bool fontDialog(QWidget *, FontChoice &font, bool) override {
        font = FontChoice{QStringLiteral("Arial"), 40.0f, true, false};
        return true;
    }
};

// Lets the window paint what the last command changed and waits until the X server has the
// frame: a one-pixel read of the window comes back only after everything sent before it.
double PaintedFrameMs(Form1 &form, QElapsedTimer &timer) {
    const qint64 paints = form.Picture1->paintStats().paints;
    for (int i = 0; i < 1000; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (form.Picture1->paintStats().paints != paints) {
            break;
        }
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (QScreen *screen = form.screen()) {
        screen->grabWindow(form.winId(), 0, 0, 1, 1);
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

double ClickMs(Form1 &form, QPushButton *button) {
    QElapsedTimer timer;
    timer.start();
    button->click();
    return PaintedFrameMs(form, timer);
}

// Scroll-bar arrow clicks at the current level, there and back.
void ScrollSteps(Form1 &form, std::vector<double> &steps) {
    for (QScrollBar *bar : {form.HScroll1, form.VScroll1}) {
        if (!bar->isEnabled()) {
            continue;
        }
        for (int i = 0; i < 12; ++i) {
            QElapsedTimer timer;
            timer.start();
            bar->triggerAction(i < 6 ? QAbstractSlider::SliderSingleStepAdd
                                     : QAbstractSlider::SliderSingleStepSub);
            steps.push_back(PaintedFrameMs(form, timer));
        }
    }
}

// A caption filling the lower third of the view at 0.25, stamped; the picture outside the text
// must not change.
void StampAtQuarter(Form1 &form) {
    const QImage before = form.Zoom_Ori->picture().copy();
    form.PushButton5_Click();
    form.Picture1_MouseMove(Qt::NoButton, Qt::NoModifier, 30.0f, 250.0f);
    form.Picture1_Click();
    form.Text1->resize(470, 100);
    form.Text1->setCursorWidth(0);
    form.Text1->setText(QStringLiteral("Glyphtack 2026"));
    QCoreApplication::processEvents();
    const QRect box = form.Text1->geometry();
    // The text's pixels on screen: the box over the picture against the picture alone.
    const QImage with = form.Picture1->grab(box).toImage().convertToFormat(QImage::Format_RGB32);
    form.Text1->hide();
    const QImage without = form.Picture1->grab(box).toImage().convertToFormat(QImage::Format_RGB32);
    form.Text1->show();
    QRect text;
    for (int y = 0; y < with.height(); ++y) {
        for (int x = 0; x < with.width(); ++x) {
            if (with.pixel(x, y) != without.pixel(x, y)) {
                text |= QRect(box.x() + x, box.y() + y, 1, 1);
            }
        }
    }
    const double ms = ClickMs(form, form.PushButton3);
    // The text's box on screen grown by a pixel of the screen and of the picture, in the
    // picture's pixels.
    const qreal zoom = form.doc.ZoomFactor;
    const QRect grown = text.adjusted(-1, -1, 1, 1);
    const QRect inPicture(
        QPoint(int(std::floor(grown.left() / zoom)) - 1, int(std::floor(grown.top() / zoom)) - 1),
        QPoint(int(std::ceil((grown.right() + 1) / zoom)),
               int(std::ceil((grown.bottom() + 1) / zoom))));
    const QImage &after = form.Zoom_Ori->picture();
    qint64 outside = 0;
    qint64 inside = 0;
    for (int y = 0; y < after.height(); ++y) {
        const auto *a = reinterpret_cast<const QRgb *>(after.constScanLine(y));
        const auto *b = reinterpret_cast<const QRgb *>(before.constScanLine(y));
        for (int x = 0; x < after.width(); ++x) {
            if (a[x] != b[x]) {
                (inPicture.contains(x, y) ? inside : outside) += 1;
            }
        }
    }
    PrintFigure(QStringLiteral("stamp_at_0.25"), ms, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("stamp_changed_inside_text_box"), double(inside),
                QStringLiteral("pixels"));
    PrintFigure(QStringLiteral("stamp_changed_outside_text_box"), double(outside),
                QStringLiteral("pixels"));
    PrintFigure(QStringLiteral("zoom_source_after_stamp"), after.width(), QStringLiteral("wide"));
}

// One photo in this process: load, walk, scroll, stamp.
int RunOne(const QString &path, bool stamp) {
    ViewServices services;
    services.openPath = path;
    Form1 form(services);
    form.Form_Load();
    form.show();
    for (int i = 0; i < 500 && !(form.windowHandle() && form.windowHandle()->isExposed()); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    QCoreApplication::processEvents();

    const double bareMs = BareDecodeMs(path);
    const qint64 rssBefore = StatusBytes("VmRSS:");
    ResetPeak();
    form.Picture1->resetPaintStats();
    const qint64 start = SteadyNs();
    const double loadMs = ClickMs(form, form.PushButton1);
    const double firstFrameMs = double(form.Picture1->paintStats().firstPaintEndNs - start) / 1e6;
    const qint64 loadPeak = StatusBytes("VmHWM:");
    const qint64 decoded = form.Zoom_Ori->picture().sizeInBytes();
    const qint64 rssAfterLoad = StatusBytes("VmRSS:");
    PrintFigure(QStringLiteral("load"), loadMs, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("load_first_frame"), firstFrameMs, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("bare_decode"), bareMs, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("decoded_picture"), double(decoded) / 1048576.0,
                QStringLiteral("MB"));
    PrintFigure(QStringLiteral("load_peak_growth"), double(loadPeak - rssBefore) / 1048576.0,
                QStringLiteral("MB"));

    ResetPeak();
    std::vector<double> zoomSteps;
    std::vector<double> scrollSteps;
    QStringList levels;
    // Down to 0.25, up as far as the limits allow, and back down to 0.25.
    while (form.doc.ZoomFactor > 0.25f) {
        zoomSteps.push_back(ClickMs(form, form.PushButton11));
    }
    for (QPushButton *button : {form.PushButton10, form.PushButton11}) {
        for (;;) {
            levels << QString::number(double(form.doc.ZoomFactor), 'f', 2);
            ScrollSteps(form, scrollSteps);
            const float before = form.doc.ZoomFactor;
            const double ms = ClickMs(form, button);
            if (form.doc.ZoomFactor == before) {
                break;
            }
            zoomSteps.push_back(ms);
        }
    }
    const qint64 walkPeak = StatusBytes("VmHWM:");
    PrintFigure(QStringLiteral("levels_walked"), double(levels.size()), QStringLiteral("levels"));
    std::fprintf(stderr, "levels: %s\n", qPrintable(levels.join(QLatin1Char(' '))));
    PrintFigure(QStringLiteral("median_zoom_step"), Median(zoomSteps), QStringLiteral("ms"));
    PrintFigure(QStringLiteral("worst_zoom_step"),
                zoomSteps.empty() ? -1.0 : *std::max_element(zoomSteps.begin(), zoomSteps.end()),
                QStringLiteral("ms"));
    PrintFigure(QStringLiteral("median_scroll_step"), Median(scrollSteps), QStringLiteral("ms"));
    PrintFigure(QStringLiteral("walk_peak_growth"), double(walkPeak - rssAfterLoad) / 1048576.0,
                QStringLiteral("MB"));
    if (stamp) {
        StampAtQuarter(form);
    }
    // A small picture after the big one: nothing in a load is the previous picture's size.
    const QString small = QFileInfo(path).absolutePath() + QStringLiteral("/small.png");
    QImage(300, 200, QImage::Format_RGB32).save(small);
    services.openPath = small;
    PrintFigure(QStringLiteral("small_load_after"), ClickMs(form, form.PushButton1),
                QStringLiteral("ms"));
    QFile::remove(small);
    if (stamp) {
        // The undo history full of loads, the stamped photo still within its reach: what it
        // holds at most (a load past it asks first; the bench's answer is No).
        services.openPath = path;
        for (int i = 0; i < 12 && form.history.undoSteps() < StampHistory::DefaultMaxSteps; ++i) {
            ClickMs(form, form.PushButton1);
        }
        PrintFigure(QStringLiteral("history_steps"), form.history.undoSteps(),
                    QStringLiteral("steps"));
        PrintFigure(QStringLiteral("history_held"), double(form.history.bytes()) / 1048576.0,
                    QStringLiteral("MB"));
        PrintFigure(QStringLiteral("rss_with_full_history"), CurrentRssMb(), QStringLiteral("MB"));
    }
    return 0;
}

// A display for the children: the one this process has, or an Xvfb of its own.
class BenchDisplay {
public:
    bool start() {
        if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
            name_ = qEnvironmentVariable("DISPLAY");
            return true;
        }
        for (int n = 91; n < 140; ++n) {
            if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) ||
                QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n))) {
                continue;
            }
            name_ = QStringLiteral(":%1").arg(n);
            xvfb_.start(QStringLiteral("Xvfb"),
                        {name_, QStringLiteral("-screen"), QStringLiteral("0"),
                         QStringLiteral("1280x1024x24"), QStringLiteral("-noreset"),
                         QStringLiteral("-nolisten"), QStringLiteral("tcp")});
            if (!xvfb_.waitForStarted(5000)) {
                return false;
            }
            for (int i = 0; i < 100; ++i) {
                if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n))) {
                    return true;
                }
                QThread::msleep(50);
            }
            return false;
        }
        return false;
    }
    ~BenchDisplay() {
        if (xvfb_.state() != QProcess::NotRunning) {
            xvfb_.terminate();
            xvfb_.waitForFinished(3000);
        }
    }
    QString name() const { return name_; }

private:
    QProcess xvfb_;
    QString name_;
};

// The figure lines of a child's output, by name.
QMap<QString, double> Figures(const QByteArray &output) {
    QMap<QString, double> figures;
    for (const QByteArray &line : output.split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() >= 2) {
            figures.insert(QString::fromLatin1(parts[0]), parts[1].toDouble());
        }
    }
    return figures;
}

} // namespace

int RunViewOne(int argc, char *argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: glyphtack-bench view-one PHOTO.jpg [stamp]\n");
        return 2;
    }
    return RunOne(QString::fromLocal8Bit(argv[2]), argc > 3);
}

int RunViewBench() {
    BenchDisplay display;
    if (!display.start()) {
        std::fprintf(stderr, "view: no X display and no Xvfb to start one\n");
        return 1;
    }
    qputenv("DISPLAY", display.name().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QMap<QString, QMap<QString, double>> all;
    for (const Photo &photo : Photos) {
        const QString path =
            BenchFolder() + QStringLiteral("/view-%1.jpg").arg(QLatin1String(photo.tag));
        {
            QImageWriter writer(path, "jpeg");
            writer.setQuality(90);
            if (!writer.write(MakePhoto(photo.width, photo.height))) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
                return 1;
            }
        }
        QStringList argv{QCoreApplication::applicationFilePath(), QStringLiteral("view-one"), path};
        if (QLatin1String(photo.tag) == QLatin1String("24mp")) {
            argv << QStringLiteral("stamp");
        }
        const ChildRun run = RunChild(argv, true);
        QFile::remove(path);
        if (!run.started || run.exitCode != 0) {
            std::fprintf(stderr, "view: the %s run failed (exit %d)\n", photo.tag, run.exitCode);
            return 1;
        }
        const QMap<QString, double> figures = Figures(run.output);
        for (auto it = figures.begin(); it != figures.end(); ++it) {
            PrintFigure(QStringLiteral("%1_%2").arg(QLatin1String(photo.tag), it.key()), it.value(),
                        QString());
        }
        all.insert(QLatin1String(photo.tag), figures);
    }
    const auto ratio = [&](const QString &over, const QString &under, const QString &figure) {
        return all[over].value(figure) / std::max(all[under].value(figure), 0.001);
    };
    PrintRatio(
        QStringLiteral("zoom_step_96mp_over_1mp"),
        ratio(QStringLiteral("96mp"), QStringLiteral("1mp"), QStringLiteral("median_zoom_step")));
    PrintRatio(
        QStringLiteral("scroll_step_96mp_over_1mp"),
        ratio(QStringLiteral("96mp"), QStringLiteral("1mp"), QStringLiteral("median_scroll_step")));
    // Memory against the picture: the worse of the two big photos (on the small one the
    // program's own few megabytes of start-up dominate).
    double walk = 0.0;
    double load = 0.0;
    for (const QString &tag : {QStringLiteral("24mp"), QStringLiteral("96mp")}) {
        const double decoded = std::max(all[tag].value(QStringLiteral("decoded_picture")), 0.001);
        walk = std::max(walk, all[tag].value(QStringLiteral("walk_peak_growth")) / decoded);
        load = std::max(load, all[tag].value(QStringLiteral("load_peak_growth")) / decoded);
    }
    PrintRatio(QStringLiteral("walk_memory_growth_over_decoded_picture"), walk);
    PrintRatio(QStringLiteral("load_peak_over_decoded_picture"), load);
    // The load against the decoder alone, to the first painted frame and to the whole picture on
    // screen: the worse of the two big photos.
    double firstFrame = 0.0;
    double whole = 0.0;
    for (const QString &tag : {QStringLiteral("24mp"), QStringLiteral("96mp")}) {
        const double bare = std::max(all[tag].value(QStringLiteral("bare_decode")), 0.001);
        firstFrame =
            std::max(firstFrame, all[tag].value(QStringLiteral("load_first_frame")) / bare);
        whole = std::max(whole, all[tag].value(QStringLiteral("load")) / bare);
    }
    PrintRatio(QStringLiteral("load_over_bare_decode"), firstFrame);
    PrintRatio(QStringLiteral("whole_load_over_bare_decode"), whole);
    return 0;
}
