// The metafile player on arbitrary bytes, text records included (they need the application).
#include "FuzzQt.h"
#include "workspace/MetafilePlayer.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <exception>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    StartFuzzApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        if (looksLikeMetafile(bytes)) {
            const MetafilePicture picture = playMetafile(bytes, FuzzPictureBudgetBytes / 4);
            (void)picture;
        }
    } catch (const std::exception &) {
        // "Invalid picture" and its kin: the refusal the program reports.
    }
    return 0;
}
