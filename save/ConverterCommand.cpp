#include "save/ConverterCommand.h"

#include "platform/FileNames.h"
#include "save/Destination.h"

QString QuotedPath(QString path) {
    constexpr QChar Quote = u'"';
    path.replace(Quote, QStringLiteral("\"\"\""));
    return Quote + path + Quote;
}

namespace {

// A file name for the converter: between quotes, or where the name holds bytes a command line
// of text cannot carry, those bytes in hexadecimal after the option's -hex form.
QString NamedAfter(const QString &option, const std::filesystem::path &path) {
    const QString text = QtName(path);
    if (text.isEmpty() && !path.empty()) {
        return QStringLiteral(" %1-hex %2")
            .arg(option, QString::fromLatin1(PathBytes(path).toHex()));
    }
    return QStringLiteral(" %1 ").arg(option) + QuotedPath(text);
}

} // namespace

QString ConverterPath(const QString &temp) {
    return temp + PathSeparator + QStringLiteral("nconvert.exe");
}

QString IntermediateBitmapPath(const QString &temp, const QString &tempBaseName) {
    return temp + PathSeparator + tempBaseName + QStringLiteral(".bmp");
}

QString CameraDataPath(const QString &temp, const QString &tempBaseName) {
    return temp + PathSeparator + tempBaseName + QStringLiteral(".exif");
}

QString ConverterCommandLine(const QString &temp, qint16 quality, const QString &destination,
                             const QString &tempBaseName, const QString &expectation) {
    return ConverterCommandLineTo(temp, quality, NativePath(destination + QStringLiteral(".jpg")),
                                  tempBaseName, expectation);
}

QString ConverterCommandLineTo(const QString &temp, qint16 quality,
                               const std::filesystem::path &output, const QString &tempBaseName,
                               const QString &expectation) {
    const QString expect =
        expectation.isEmpty() ? QString() : QStringLiteral(" -expect ") + expectation;
    // The blanks are as the converter has always been called: two before -out, three after jpeg.
    return QuotedPath(ConverterPath(temp)) + QStringLiteral(" ") + QStringLiteral(" -out ") +
           QStringLiteral("jpeg  ") + QStringLiteral(" -q ") + QString::number(quality) + expect +
           NamedAfter(QStringLiteral("-o"), output) + QStringLiteral(" ") +
           QuotedPath(IntermediateBitmapPath(temp, tempBaseName));
}

QString KeepCommandLine(const QString &temp, const std::filesystem::path &source,
                        const std::filesystem::path &output, const QString &tempBaseName,
                        const QString &expectation) {
    const QString expect =
        expectation.isEmpty() ? QString() : QStringLiteral(" -expect ") + expectation;
    return QuotedPath(ConverterPath(temp)) + QStringLiteral(" -out jpeg") +
           NamedAfter(QStringLiteral("-keep"), source) + expect +
           NamedAfter(QStringLiteral("-o"), output) + QStringLiteral(" ") +
           QuotedPath(IntermediateBitmapPath(temp, tempBaseName));
}
