#include "platform/Fonts.h"

#include <QCoreApplication>

#ifdef GLYPHTACK_HAVE_FONTCONFIG
#include <fontconfig/fontconfig.h>
#endif

namespace {

bool provided = false;
bool standIn = false;

#ifdef GLYPHTACK_HAVE_FONTCONFIG

// The files of every face whose family list names the family exactly (no substitutes).
QList<QByteArray> filesOfFamily(FcConfig *config, const char *family) {
    QList<QByteArray> files;
    FcPattern *pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8 *>(family));
    FcObjectSet *objects = FcObjectSetBuild(FC_FILE, nullptr);
    if (FcFontSet *set = FcFontList(config, pattern, objects)) {
        for (int i = 0; i < set->nfont; ++i) {
            FcChar8 *file = nullptr;
            if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) == FcResultMatch) {
                files << QByteArray(reinterpret_cast<const char *>(file));
            }
        }
        FcFontSetDestroy(set);
    }
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    return files;
}

// While the stand-in's files are read again, Arial goes in front of their family names, so that
// Arial is the name they are listed under.
constexpr char ScanRule[] = R"(<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <match target="scan">
    <test name="family" compare="eq"><string>Liberation Sans</string></test>
    <edit name="family" mode="prepend_first" binding="same"><string>Arial</string></edit>
  </match>
</fontconfig>
)";

#endif

} // namespace

void ProvideArialFamily() {
    if (provided) {
        return;
    }
    provided = true;
#ifdef GLYPHTACK_HAVE_FONTCONFIG
    if (!FcInit()) {
        return;
    }
    FcConfig *config = FcConfigGetCurrent();
    if (!filesOfFamily(config, "Arial").isEmpty()) {
        return;
    }
    const QList<QByteArray> files = filesOfFamily(config, "Liberation Sans");
    if (files.isEmpty() || !FcConfigParseAndLoadFromMemory(
                               config, reinterpret_cast<const FcChar8 *>(ScanRule), FcFalse)) {
        return;
    }
    for (const QByteArray &file : files) {
        standIn |= FcConfigAppFontAddFile(config, reinterpret_cast<const FcChar8 *>(file.data())) ==
                   FcTrue;
    }
#endif
}

bool ArialIsStandIn() {
    return standIn;
}

Q_COREAPP_STARTUP_FUNCTION(ProvideArialFamily)
