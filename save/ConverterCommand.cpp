#include "save/ConverterCommand.h"

namespace {

constexpr QChar Quote = u'"';

// A path between double quotes. A double quote inside it is written three times, which
// QProcess::splitCommand (RunAndWait) reads back as one.
QString Quoted(QString path) {
    path.replace(Quote, QStringLiteral("\"\"\""));
    return Quote + path + Quote;
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
    return ConverterCommandLineTo(temp, quality, destination + QStringLiteral(".jpg"), tempBaseName,
                                  expectation);
}

QString ConverterCommandLineTo(const QString &temp, qint16 quality, const QString &output,
                               const QString &tempBaseName, const QString &expectation) {
    const QString expect =
        expectation.isEmpty() ? QString() : QStringLiteral(" -expect ") + expectation;
    // The blanks are as the converter has always been called: two before -out, three after jpeg.
    return Quoted(ConverterPath(temp)) + QStringLiteral(" ") + QStringLiteral(" -out ") +
           QStringLiteral("jpeg  ") + QStringLiteral(" -q ") + QString::number(quality) + expect +
           QStringLiteral(" -o ") + Quoted(output) + QStringLiteral(" ") +
           Quoted(IntermediateBitmapPath(temp, tempBaseName));
}

QString KeepCommandLine(const QString &temp, const QString &source, const QString &output,
                        const QString &tempBaseName, const QString &expectation) {
    const QString expect =
        expectation.isEmpty() ? QString() : QStringLiteral(" -expect ") + expectation;
    return Quoted(ConverterPath(temp)) + QStringLiteral(" -out jpeg -keep ") + Quoted(source) +
           expect + QStringLiteral(" -o ") + Quoted(output) + QStringLiteral(" ") +
           Quoted(IntermediateBitmapPath(temp, tempBaseName));
}
