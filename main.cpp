#include "app/Form1.h"
#include "batch/CaptionCommand.h"
#include "batch/RuntimeFolder.h"
#include "converter/HugePages.h"
#include "platform/Services.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const char Help[] =
    "Usage: glyphtack [FILE]          opens the window, with the picture FILE loaded\n"
    "       glyphtack caption OPTIONS  stamps a caption onto many pictures, without a window\n"
    "       glyphtack --version        prints the version\n"
    "       glyphtack --help           prints this text\n"
    "\n"
    "The window loads a picture, places and styles text on it in a box, stamps the text into\n"
    "the pixels and saves the result as BMP, PNG or JPG. `glyphtack caption --help` lists the\n"
    "caption command's options. See glyphtack(1).\n";

} // namespace

int main(int argc, char *argv[]) {
    // Answered before any part of Qt starts, so that they work without a display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("glyphtack %s\n", GLYPHTACK_VERSION);
        return 0;
    }
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(Help, stdout);
        return 0;
    }
    // `glyphtack caption ...` captions pictures from the command line: no window opens, and no
    // display is needed.
    if (argc > 1 && std::strcmp(argv[1], "caption") == 0) {
        // JPEG photos are kept from their blocks, held in large arrays (converter/HugePages.h);
        // the memory of one picture serves the next.
        keepLargeArraysInHugePages();
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // File names are taken as the bytes they are, whatever their encoding.
        QList<QByteArray> arguments;
        for (int i = 2; i < argc; ++i) {
            arguments << QByteArray(argv[i]);
        }
        auto lent = std::make_unique<LentRuntimeFolder>();
        QGuiApplication app(argc, argv);
        lent.reset();
        return RunCaptionCommand(arguments);
    }
    QApplication app(argc, argv);
    // What Qt leaves of the command line: at most one picture to open (after "--", a name
    // starting with "-" too).
    const bool named = argc > 1 && std::strcmp(argv[1], "--") == 0;
    const int first = named ? 2 : 1;
    if (argc > first + 1 || (!named && argc == 2 && argv[1][0] == '-')) {
        std::fputs(Help, stderr);
        return 2;
    }
    const QString startFile = argc > first ? QFile::decodeName(argv[first]) : QString();
    QApplication::setApplicationName(QStringLiteral("Glyphtack"));
    QApplication::setOrganizationName(QStringLiteral("Pellorin"));
    RealServices services;
    Form1 form(services);
    form.Form_Load();
    // Centred on the screen when first shown.
    if (const QScreen *screen = QApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        form.move(area.center() - form.rect().center());
    }
    form.show();
    if (!startFile.isEmpty()) {
        // Loaded once the window shows, as Load Picture would load it; a report goes over it.
        QTimer::singleShot(0, &form, [&form, startFile] { form.LoadStartFile(startFile); });
    }
    return app.exec();
}
