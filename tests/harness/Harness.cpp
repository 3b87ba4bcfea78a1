#include "Harness.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>

FormFixture::FormFixture(bool runFormLoad) {
    form = std::make_unique<Form1>(services);
    if (runFormLoad) {
        form->Form_Load();
    }
}

void FormFixture::loadPicture(const QString &path) {
    services.openAnswers << path;
    form->PushButton1_Click();
}

QString TestDataFolder() {
    static QTemporaryDir dir;
    return dir.path();
}

const QColor TestRed(220, 60, 40);
const QColor TestYellow(250, 230, 90);
const QColor TestBlue(40, 120, 200);

bool NearColour(QRgb pixel, const QColor &colour, int tolerance) {
    return std::abs(qRed(pixel) - colour.red()) <= tolerance &&
           std::abs(qGreen(pixel) - colour.green()) <= tolerance &&
           std::abs(qBlue(pixel) - colour.blue()) <= tolerance;
}

QString WriteTestPicture(const QString &name, int width, int height, const char *format,
                         int quality) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(TestBlue);
    QPainter painter(&image);
    painter.fillRect(QRect(0, 0, width / 2, height / 2), TestRed);
    painter.fillRect(QRect(width / 2, height / 2, width - width / 2, height - height / 2),
                     TestYellow);
    painter.end();
    const QString path = QDir(TestDataFolder()).filePath(name);
    image.save(path, format, quality);
    return path;
}

QString CorpusFolder() {
    const QByteArray env = qgetenv("GLYPHTACK_CORPUS");
    if (!env.isEmpty()) {
        return QString::fromLocal8Bit(env);
    }
    const QByteArray source = qgetenv("GLYPHTACK_SOURCE_DIR");
    return QDir(QString::fromLocal8Bit(source))
        .absoluteFilePath(QStringLiteral("../shared/corpus"));
}

QString BuildFolder() {
    return QString::fromLocal8Bit(qgetenv("GLYPHTACK_BUILD_DIR"));
}

QString PrivateFolderIn(const QString &temp) {
    const QStringList found = QDir(temp).entryList({QStringLiteral("glyphtack-??????")},
                                                   QDir::Dirs | QDir::Hidden | QDir::NoSymLinks);
    return found.size() == 1 ? QDir(temp).filePath(found.first()) : QString();
}

QStringList Entries(const QString &folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
}

QByteArray ReadAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(bytes);
    }
}

QRect InkBounds(const QImage &image, QRgb background) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != background) {
                bounds |= QRect(x, y, 1, 1);
            }
        }
    }
    return bounds;
}

QRect DifferingBounds(const QImage &a, const QImage &b) {
    QRect bounds;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) {
                bounds |= QRect(x, y, 1, 1);
            }
        }
    }
    return bounds;
}
