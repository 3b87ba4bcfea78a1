#pragma once

#include <QByteArray>
#include <QString>
#include <filesystem>

// What a photo's camera data says about it; each empty where the data has no such entry.
struct CameraFacts {
    QString taken; // DateTimeOriginal as written: "YYYY:MM:DD HH:MM:SS"
    QString make;
    QString model;
};

// Reads the camera facts from an EXIF block ("Exif\0\0" and its TIFF structure, as
// ReadJpegExif returns it). Every offset and count is checked against the block: a damaged
// block gives what could be read of it, never a read outside it.
CameraFacts ReadCameraFacts(const QByteArray &exif);

// The caption's text for one picture: {name} becomes the input's file name without its
// extension, {date} the date it was taken (its camera data, else the file's modification time)
// written in `dateFormat` (Qt's date format), {camera} the camera's make and model (the model
// alone when it starts with the make), {n} `number`. Other braces stay as they are.
QString CaptionTextFor(const QString &text, const std::filesystem::path &input, int number,
                       const QString &dateFormat);
