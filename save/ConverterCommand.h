#pragma once

#include <QChar>
#include <QString>
#include <QtGlobal>
#include <filesystem>

// The separator the temporary folder and the file names are joined with.
#ifdef Q_OS_WIN
constexpr QChar PathSeparator = u'\\';
#else
constexpr QChar PathSeparator = u'/';
#endif

// A path between double quotes. A double quote inside it is written three times, which
// QProcess::splitCommand (RunAndWait) reads back as one.
QString QuotedPath(QString path);
// Where the converter copy is written in the temporary folder.
QString ConverterPath(const QString &temp);
// The intermediate bitmap of a JPG save: a blank and one to three digits name it.
QString IntermediateBitmapPath(const QString &temp, const QString &tempBaseName);
// The camera data the converter adds to the JPG, beside the intermediate bitmap: " NNN.exif".
QString CameraDataPath(const QString &temp, const QString &tempBaseName);

// The converter's command line, piece by piece:
//   "TEMP/nconvert.exe"  -out jpeg   -q QUALITY -o "DESTINATION.jpg" "TEMP/ NNN.bmp"
// The destination comes without its extension. A name whose bytes a command line of text cannot
// carry (see platform/FileNames.h) goes as -o-hex BYTES, the bytes in hexadecimal. A double
// quote in a path is written as three, which RunAndWait reads back as one. With an expectation
// (Destination::expectation), the option -expect WHAT goes before -o: the converter then writes
// only over what was decided.
QString ConverterCommandLine(const QString &temp, qint16 quality, const QString &destination,
                             const QString &tempBaseName, const QString &expectation = QString());
// The same command line for an output file named in full, extension included.
QString ConverterCommandLineTo(const QString &temp, qint16 quality,
                               const std::filesystem::path &output, const QString &tempBaseName,
                               const QString &expectation = QString());
// The command line that writes the JPEG `source` again at `output`, its blocks kept but where
// the stamps changed it (the bitmap holds those pixels, the areas and metadata lie beside it):
//   "TEMP/nconvert.exe" -out jpeg -keep "SOURCE" [-expect WHAT] -o "OUTPUT" "TEMP/ NNN.bmp"
QString KeepCommandLine(const QString &temp, const std::filesystem::path &source,
                        const std::filesystem::path &output, const QString &tempBaseName,
                        const QString &expectation = QString());
