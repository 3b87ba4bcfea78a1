#pragma once

#include <QString>

class QMimeData;

// The picture a drag from a file manager carries: the first of its URLs that names an existing
// local file (not a folder) whose name ends in a type the open dialog of "Load Picture" lists
// (.bmp, .jpg, .gif, .ico, .wmf, .png, .jpeg, .jpe, .jfif, .tif, .tiff, .webp, .heic, .heif, .hif,
// .avif, .jxl; any case). Empty
// when there is none: such a drag is refused, so several files dropped at once load the first
// picture among them or nothing.
QString DroppedPicture(const QMimeData *data);
