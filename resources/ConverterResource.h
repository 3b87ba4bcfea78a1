// The JPG converter program, embedded in the core library (see converter.cmake).
#pragma once

#include <QByteArray>

// The bytes of the converter executable stored as ":/CUSTOM/101". The caller writes them to a
// file in the temporary folder and runs that. Throws std::runtime_error("Resource not found")
// when the resource is missing from the build.
QByteArray LoadConverterResource();
