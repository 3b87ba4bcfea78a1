#pragma once

#include "workspace/PictureLoader.h"

class QFile;

// A JPEG file loaded as LoadPicture loads it (its bytes read once; see there), from the open
// file.
LoadedPicture LoadJpegPicture(QFile &file, qint64 maxDecodedBytes, const WindowLoad *window);
