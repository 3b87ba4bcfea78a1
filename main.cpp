#include "app/Form1.h"
#include "platform/Services.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char *argv[]) {
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
