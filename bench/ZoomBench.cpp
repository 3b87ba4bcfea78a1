// Zoom and scroll figures on a generated 5000 x 4000 picture: each level's redraw (the zoom and
// the paint of what the viewport shows) beside a bare QPainter stretch of the whole picture to
// that size into a fresh image, which is what showing a level cost before the display became a
// view, and the cost of a scroll step. The real window is measured by `glyphtack-bench view`.
#include "app/Form1.h"
#include "bench/Bench.h"

#include <QApplication>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <vector>

namespace {

QImage makePicture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            line[x] = qRgb((x * 255) / width, (y * 255) / height, ((x ^ y) & 0xff));
        }
    }
    return image;
}

// The floor: one stretch of the whole source into a freshly allocated image.
double bareStretchMs(const QImage &source, int width, int height) {
    QElapsedTimer timer;
    timer.start();
    QImage target(width, height, QImage::Format_RGB32);
    QPainter painter(&target);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QRect(0, 0, width, height), source, source.rect());
    painter.end();
    return double(timer.nsecsElapsed()) / 1e6;
}

// Average time of one scroll step from one end of the horizontal bar to the other, painting
// what each step exposes.
double scrollStepMs(Form1 &form) {
    QScrollBar *bar = form.HScroll1;
    if (!bar->isEnabled() || bar->maximum() <= 0) {
        return -1.0;
    }
    const int steps = 60;
    QElapsedTimer timer;
    timer.start();
    for (int i = 1; i <= steps; ++i) {
        bar->setValue(bar->maximum() * i / steps);
        form.repaint();
        QCoreApplication::processEvents();
    }
    return double(timer.nsecsElapsed()) / 1e6 / steps;
}

} // namespace

int RunZoomBench() {
    const int width = 5000;
    const int height = 4000;
    const QString path = BenchFolder() + QStringLiteral("/zoom-5000x4000.bmp");
    {
        const QImage picture = makePicture(width, height);
        if (!picture.save(path, "BMP")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    BenchServices services;
    services.openPath = path;
    Form1 form(services);
    form.Form_Load();
    form.show();
    QCoreApplication::processEvents();
    // Warm up the painting path once so the first level's figures are not the odd ones out.
    {
        QImage warm(64, 64, QImage::Format_RGB32);
        warm.fill(Qt::gray);
        bareStretchMs(warm, 640, 480);
    }

    QElapsedTimer timer;
    timer.start();
    form.PushButton1_Click();
    PrintFigure(QStringLiteral("load_5000x4000"), double(timer.nsecsElapsed()) / 1e6,
                QStringLiteral("ms"));
    PrintFigure(QStringLiteral("rss_after_load"), CurrentRssMb(), QStringLiteral("MB"));

    const QImage source = form.Zoom_Ori->picture();
    double worstRatio = 0.0;
    std::vector<double> scrollSteps;
    // Down to 0.25 first, then every level up to the last one the limits allow.
    for (int i = 0; i < 3; ++i) {
        form.PushButton11_Click();
    }
    float previous = -1.0f;
    while (form.doc.ZoomFactor != previous) {
        previous = form.doc.ZoomFactor;
        const QString level = QString::number(double(form.doc.ZoomFactor), 'f', 2);
        const float factor = form.doc.ZoomFactor;
        // Best of three for both, so one slow page fault does not decide the figure.
        double redraw = 1e300;
        for (int run = 0; run < 3; ++run) {
            timer.restart();
            form.SetZoom(factor);
            form.repaint();
            redraw = std::min(redraw, double(timer.nsecsElapsed()) / 1e6);
        }
        const double rss = CurrentRssMb();
        const double peak = PeakRssMb();
        double floor = 1e300;
        for (int run = 0; run < 3; ++run) {
            floor =
                std::min(floor, bareStretchMs(source, form.doc.ZoomedWidth, form.doc.ZoomedHeight));
        }
        PrintFigure(QStringLiteral("redraw_%1").arg(level), redraw, QStringLiteral("ms"));
        PrintFigure(QStringLiteral("floor_%1").arg(level), floor, QStringLiteral("ms"));
        PrintFigure(QStringLiteral("rss_%1").arg(level), rss, QStringLiteral("MB"));
        PrintFigure(QStringLiteral("peak_rss_%1").arg(level), peak, QStringLiteral("MB"));
        worstRatio = std::max(worstRatio, redraw / std::max(floor, 0.001));
        const double step = scrollStepMs(form);
        if (step >= 0.0) {
            PrintFigure(QStringLiteral("scroll_step_%1").arg(level), step, QStringLiteral("ms"));
            scrollSteps.push_back(step);
        }
        form.PushButton10_Click();
    }
    PrintFigure(QStringLiteral("top_level"), double(form.doc.ZoomFactor), QStringLiteral("x"));
    PrintFigure(QStringLiteral("peak_rss"), PeakRssMb(), QStringLiteral("MB"));
    PrintRatio(QStringLiteral("worst_redraw_over_floor"), worstRatio);
    if (!scrollSteps.empty()) {
        const auto [lo, hi] = std::minmax_element(scrollSteps.begin(), scrollSteps.end());
        PrintRatio(QStringLiteral("largest_scroll_step_over_smallest"), *hi / std::max(*lo, 0.001));
    }
    return 0;
}
