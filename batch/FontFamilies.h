#pragma once

#include <QString>
#include <QStringList>

// The installed font families closest in spelling to family (case ignored), nearest first, at
// most `count`; empty when family itself is installed. The caption command refuses a family it
// does not know rather than quietly drawing another face.
QStringList NearestFontFamilies(const QString &family, int count = 3);
