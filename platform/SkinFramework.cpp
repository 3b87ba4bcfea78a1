#include "platform/SkinFramework.h"

#include <QFile>
#include <QStringDecoder>
#include <QWidget>
#include <stdexcept>

void SkinFramework::LoadSkin(const QString &path, const QString & /*settingsFileName*/) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error("File not found");
    }
    constexpr qint64 maxSkinBytes = 4 * 1024 * 1024;
    if (file.size() > maxSkinBytes) {
        throw std::runtime_error("Invalid skin file");
    }
    const QByteArray bytes = file.readAll();
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError() || bytes.contains('\0') || text.trimmed().isEmpty() ||
        text.count(QLatin1Char('{')) != text.count(QLatin1Char('}'))) {
        throw std::runtime_error("Invalid skin file");
    }
    styleSheet_ = text;
}

void SkinFramework::ApplyWindow(QWidget *window) {
    if (window == nullptr || styleSheet_.isEmpty()) {
        throw std::runtime_error("No skin loaded");
    }
    window->setStyleSheet(styleSheet_);
}
