// The whole picture-loading path as "Load Picture" uses it: the bytes become a file and
// LoadPicture reads it, choosing BMP, JPG, GIF, ICO, WMF, PNG, TIFF or WebP by the content.
#include "FuzzQt.h"
#include "app/ErrorReport.h"
#include "workspace/PictureLoader.h"

#include <QFile>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    StartFuzzApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const QString path = FuzzScratchFolder() + QStringLiteral("/picture");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            abort();
        }
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    try {
        const LoadedPicture picture = LoadPicture(path, FuzzPictureBudgetBytes);
        (void)picture;
    } catch (const RuntimeError &) {
        // The error the load step reports; anything else escaping is a finding.
    }
    return 0;
}
