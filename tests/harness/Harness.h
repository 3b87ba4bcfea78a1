#pragma once

#include "ScriptedServices.h"
#include "app/Form1.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <memory>

// The real main window driven headless with scripted services.
struct FormFixture {
    ScriptedServices services;
    std::unique_ptr<Form1> form;

    // Creates the window and runs its start-up; the program folder is a fresh temporary folder
    // unless one is given.
    explicit FormFixture(bool runFormLoad = true);
    Form1 &operator*() { return *form; }
    Form1 *operator->() { return form.get(); }

    // Loads a file through "Load Picture" as the user would pick it in the open dialog.
    void loadPicture(const QString &path);
};

// A temporary folder shared by the tests of one executable.
QString TestDataFolder();
// The colours of WriteTestPicture's pattern: the top-left quarter red, the bottom-right one
// yellow, the rest blue.
extern const QColor TestRed;
extern const QColor TestYellow;
extern const QColor TestBlue;
// True when each channel of the pixel is within the tolerance of the colour's.
bool NearColour(QRgb pixel, const QColor &colour, int tolerance);
// Writes a picture file of the given size (a pattern that shows orientation) and returns its path.
QString WriteTestPicture(const QString &name, int width, int height, const char *format = nullptr,
                         int quality = 90);
// The corpus folder: GLYPHTACK_CORPUS, or ../shared/corpus beside the source tree.
QString CorpusFolder();
// The build folder that holds the program and the files it reads.
QString BuildFolder();

// The folder a running program keeps for itself inside a temporary folder, or empty text when
// there is none or more than one.
QString PrivateFolderIn(const QString &temp);
// Every entry of a folder, hidden ones included, by name.
QStringList Entries(const QString &folder);
// A file's bytes, or nothing when it cannot be read.
QByteArray ReadAll(const QString &path);
// Writes a file's bytes, replacing it.
void WriteAll(const QString &path, const QByteArray &bytes);

// The bounding rectangle of the pixels that differ from the background colour.
QRect InkBounds(const QImage &image, QRgb background = qRgb(255, 255, 255));
// The bounding rectangle of the pixels in which two images of one size differ.
QRect DifferingBounds(const QImage &a, const QImage &b);
