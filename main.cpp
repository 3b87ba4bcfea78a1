#include "app/Form1.h"
#include "batch/CaptionCommand.h"
#include "platform/Services.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <cstring>

int main(int argc, char *argv[]) {
    // `glyphtack caption ...` captions pictures from the command line: no window opens, and no
    // display is needed.
    if (argc > 1 && std::strcmp(argv[1], "caption") == 0) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        return RunCaptionCommand(QGuiApplication::arguments().mid(2));
    }
    QApplication app(argc, argv);
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
    return app.exec();
}
