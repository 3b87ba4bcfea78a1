#include "app/ErrorReport.h"
#include "app/Form1.h"
#include "save/ConverterCommand.h"
#include "save/ConverterRun.h"
#include "save/Destination.h"
#include "save/FileUtils.h"
#include "save/JpegMetadata.h"
#include "save/KeepPhoto.h"
#include "save/MultiPicture.h"
#include "save/SaveFiles.h"
#include "save/SaveWork.h"
#include "save/Shell32.h"

#include <QFileInfo>
#include <QProcess>
#include <QRadioButton>
#include <QSlider>

namespace {

const QString ZoomWarning = QStringLiteral("Editing on zoomed picture will cause quality loss.\r\n"
                                           "\r\nProceed anyway?\r\n\r\n"
                                           "(Cancel - reload original size.)");

// The question names the file that Yes replaces: a link's own name and the file at its end.
QString OverwritePrompt(const Destination &existing) {
    QString named = existing.name;
    if (!existing.linkTarget.isEmpty()) {
        named += QStringLiteral(", a link to ") + existing.linkTarget;
    }
    return QStringLiteral("This folder already contains a file named ") + named +
           QStringLiteral("\r\n") + QStringLiteral("Would you like to repace the existing file?");
}

// Marks the window as saving for as long as the save runs, so that a second save, a load or a
// stamp started while it works is ignored; a save that takes a while shows it.
class BusyGuard {
public:
    explicit BusyGuard(Form1 &form) : state_(form.saving), sign_(form) { state_.busy = true; }
    ~BusyGuard() { state_.busy = false; }
    BusyGuard(const BusyGuard &) = delete;
    BusyGuard &operator=(const BusyGuard &) = delete;

private:
    SaveState &state_;
    SavingSign sign_;
};

// The overwrite prompt for the file that would be replaced: true when the save may go on. A
// name that must not be followed (a link to nothing or to a folder) ends the save. What stands
// at the name is decided here, once: the write goes to exactly that (Destination.h).
bool MayReplace(Form1 &form, Steps &s, const QString &target, int line, Destination &existing) {
    MsgAnswer answer = MsgAnswer::No;
    if (!s(line, [&] { existing = DecideDestination(target); })) {
        return false;
    }
    if (s.test(line + 2, [&] { return !existing.name.isEmpty(); })) {
        s(line + 4, [&] { answer = form.MsgBox(OverwritePrompt(existing), MsgButtons::YesNo); });
        if (s.test(line + 6, [&] { return answer != MsgAnswer::Yes; })) {
            return false;
        }
    }
    return true;
}

// Each format's steps answer whether the picture was written.
bool SaveAsBmp(Form1 &form, Steps &s, const QString &path, const QImage &picture) {
    const QString target = path + QStringLiteral(".bmp");
    // 144 to 150
    Destination decided;
    if (!MayReplace(form, s, target, 144, decided)) {
        return false;
    }
    // 152: an existing file is not deleted first; the write below replaces it in one move once
    // the new file is complete, so a failed write leaves it as it was.
    return s(154, [&] {
        RunWhileResponsive([&] {
            const std::filesystem::path file = NativePath(target);
            RemoveLeftoversBeside(file);
            SaveImageReplacing(picture, file, "bmp", decided.decision());
        });
    });
}

// A lossless PNG, written by the program itself like the bitmap (colour profile included). A
// picture from a JPEG carries its camera data and XMP packet along, upright.
bool SaveAsPng(Form1 &form, Steps &s, const QString &path, const QImage &picture) {
    const QString target = path + QStringLiteral(".png");
    // 208 to 214
    Destination decided;
    if (!MayReplace(form, s, target, 208, decided)) {
        return false;
    }
    // 216: nothing is deleted first (see 152).
    return s(218, [&] {
        const QByteArray head = form.doc.SourceHead;
        RunWhileResponsive([&] {
            const std::filesystem::path file = NativePath(target);
            RemoveLeftoversBeside(file);
            const JpegHeader source = ReadJpegHeader(head);
            if (!source.valid) {
                SaveImageReplacing(picture, file, "png", decided.decision());
                return;
            }
            // A PNG holds no picture after its first: nothing may announce one.
            QList<JpegSegment> metadata = MetadataForSave(source, picture.size(), true, QImage());
            DropPictureIndexes(metadata);
            SaveImageReplacing(
                picture, file, "png", decided.decision(), [&](const QByteArray &png) {
                    return AddPngMetadata(png, ExifPayload(metadata), XmpPacket(metadata));
                });
        });
    });
}

// The bytes of the JPEG file the picture was loaded from, for what follows its first picture;
// empty when it has changed on disk since (nothing after the first picture is carried then).
QByteArray SourceBytes(const PictureRecord &record) {
    try {
        return ReadUnchangedFile(record.path, record.file);
    } catch (const RuntimeError &) {
        return {};
    }
}

// Runs the converter and makes sure it made the JPG; throws what went wrong.
void RunConverter(Form1 &form, const QString &command, bool placed, const QString &target) {
    if (!placed || command.isEmpty()) {
        throw RuntimeError("JPG converter could not be started");
    }
    RunConverterFor(form.saving.privateFolder, command, NativePath(target),
                    [&form](QProcess &process) {
                        form.services().processEvents();
                        WaitResponsive(process, 100);
                    });
}

bool SaveAsJpg(Form1 &form, Steps &s, const QString &path, const QImage &picture,
               bool converterPlaced) {
    Services &services = form.services();
    SaveState &saving = form.saving;
    const QString target = path + QStringLiteral(".jpg");
    // 158 to 164
    Destination decided;
    if (!MayReplace(form, s, target, 158, decided)) {
        return false;
    }
    // 166: the old file is not deleted: it stands at its name until the converter renames the
    // complete new one over it.
    s(168, [&] { services.seedRandomFromClock(); });
    s(170, [&] {
        saving.TempBaseName =
            QStringLiteral(" ") + QString::number(int(services.randomFraction() * 1000.0));
    });
    qint16 quality = 0;
    if (s.test(174, [&] { return form.Option21->isChecked(); })) {
        s(176, [&] { quality = form.doc.DetectedQuality; });
    } else if (s.test(178, [&] { return form.Option22->isChecked(); })) {
        s(180, [&] { quality = qint16(form.Slider1->value()); });
    }
    QString folder;
    // 182: a bitmap that cannot be made afresh is not converted: whatever stands at its name is
    // not ours. The camera data of the file loaded (a JPG's) goes beside it for the converter.
    if (!s(182, [&] {
            folder = saving.privateFolder.inside(TempFolder(services));
            const QString base = saving.TempBaseName;
            const QByteArray head = form.doc.SourceHead;
            const QByteArray exif = form.doc.SourceExif;
            const PictureRecord record = form.shownRecord;
            RunWhileResponsive([&] {
                SaveFreshBitmap(picture, IntermediateBitmapPath(folder, base));
                // The metadata of the JPEG the picture came from, upright and with a new
                // thumbnail; its camera data alone where its head could not be read.
                const JpegHeader source = ReadJpegHeader(head);
                if (source.valid) {
                    WriteSourceMetadata(folder, base, source, picture, SourceBytes(record));
                } else {
                    WriteCameraData(exif, CameraDataPath(folder, base));
                }
            });
        })) {
        return false;
    }
    // 184 to 190: the destination can be written.
    s(184, [&] { ProbeWritable(target); });
    s(192, [&] { services.sleep(500); });
    QString command;
    // 194 to 200
    s(194, [&] {
        command =
            ConverterCommandLine(folder, quality, path, saving.TempBaseName, decided.expectation());
    });
    const bool written = s(202, [&] { RunConverter(form, command, converterPlaced, target); });
    s(204, [&] { services.sleep(2500); });
    s(206, [&] {
        RemoveFile(IntermediateBitmapPath(folder, saving.TempBaseName));
        RemoveFile(CameraDataPath(folder, saving.TempBaseName));
        RemoveConverterFiles(folder, saving.TempBaseName);
    });
    return written;
}

// Why the picture on screen cannot be saved as the JPEG it was loaded from with only the
// caption's blocks encoded anew; empty when it can, with the file's verified bytes and header.
QString WhyPhotoCannotBeKept(Form1 &form, const QImage &picture, float zoom, QByteArray &source,
                             JpegHeader &header) {
    const PictureRecord record = form.shownRecord;
    if (!record.file.isSet()) {
        return QStringLiteral("the picture was not loaded from a JPEG file");
    }
    if (zoom != 1.0f) {
        return QStringLiteral("it would be saved at a zoom of %1%, not at its own size")
            .arg(qRound(zoom * 100));
    }
    QString why;
    RunWhileResponsive([&] {
        try {
            source = ReadUnchangedFile(record.path, record.file);
        } catch (const RuntimeError &e) {
            why = QString::fromUtf8(e.what());
            return;
        }
        header = ReadJpegHeader(source);
        why = WhyBlocksCannotBeKept(header, picture, record.stamped);
    });
    return why;
}

// Says why the photo cannot be saved as it was, and that nothing was saved.
void RefuseKeeping(Form1 &form, const QString &why) {
    form.MsgBox(QStringLiteral("The photo cannot be saved as it was: ") + why +
                    QStringLiteral(".\r\n\r\nNothing was saved. \"JPG Files (*.jpg)\" "
                                   "saves the picture as a new JPG."),
                MsgButtons::Ok, 1, MsgIcon::Warning);
}

// The loaded JPEG photo with only the MCUs under its stamps encoded anew: the same quality, size
// and metadata, every other block as it was. Nothing is written when the picture is not that
// photo plus stamps at its own size; a message says why.
bool SaveKeepingPhoto(Form1 &form, Steps &s, const QString &path, const QImage &picture, float zoom,
                      bool converterPlaced) {
    Services &services = form.services();
    SaveState &saving = form.saving;
    const QString target = path + QStringLiteral(".jpg");
    QString why;
    QByteArray source;
    JpegHeader header;
    s(230, [&] { why = WhyPhotoCannotBeKept(form, picture, zoom, source, header); });
    if (s.test(232, [&] { return !why.isEmpty(); })) {
        s(234, [&] { RefuseKeeping(form, why); });
        return false;
    }
    // 236 to 242
    Destination decided;
    if (!MayReplace(form, s, target, 236, decided)) {
        return false;
    }
    s(244, [&] { services.seedRandomFromClock(); });
    s(246, [&] {
        saving.TempBaseName =
            QStringLiteral(" ") + QString::number(int(services.randomFraction() * 1000.0));
    });
    QString folder;
    const QString base = saving.TempBaseName;
    // 248: the file's bytes as they were checked, the stamped pixels and the areas beside them.
    if (!s(248, [&] {
            folder = saving.privateFolder.inside(TempFolder(services));
            const QList<QRect> stamped = form.shownRecord.stamped;
            RunWhileResponsive([&] {
                WriteFreshFile(source, folder + PathSeparator + base + QStringLiteral(".jpg"));
                WriteKeepFiles(folder, base, header, picture, stamped, source);
            });
        })) {
        s(249, [&] { RemoveConverterFiles(folder, base); });
        return false;
    }
    s(250, [&] { ProbeWritable(target); });
    QString command;
    s(252, [&] {
        command = KeepCommandLine(
            folder, NativePath(folder + PathSeparator + base + QStringLiteral(".jpg")),
            NativePath(target), base, decided.expectation());
    });
    bool written = false;
    s(254, [&] {
        try {
            RunConverter(form, command, converterPlaced, target);
            written = true;
        } catch (const BlocksNotKept &refused) {
            // What only reading the blocks shows (a zero quantizer, coefficients out of range)
            // is said as the reasons found before.
            RefuseKeeping(form, refused.reason());
        }
    });
    s(256, [&] { RemoveConverterFiles(folder, base); });
    return written;
}

} // namespace

void Form1::PushButton4_Click() {
    if (saving.busy) {
        return;
    }
    Steps s(*this, "PushButton4_Click");
    // Before any picture has loaded there is nothing to write.
    if (s.test(100, [&] { return !Zoom_Ori->hasPicture(); })) {
        s(100, [&] {
            MsgBox(QStringLiteral("There is no picture to save yet.\r\n\r\nLoad a picture first."),
                   MsgButtons::Ok, 1, MsgIcon::Information);
        });
        return;
    }
    // What the open box shows is part of what is saved: it is stamped first, as Finish Editing
    // Text does. A box that cannot be stamped stays open, and nothing is saved.
    if (s.test(102, [&] { return !Text1->isHidden(); })) {
        s(104, [&] { FinishEditing(); });
        if (s.test(104, [&] { return !Text1->isHidden(); })) {
            return;
        }
    }
    bool proceed = false;
    QString path;
    s(106, [&] { proceed = false; });
    if (s.test(108, [&] { return doc.ZoomFactor == 1.0f; })) {
        s(110, [&] { proceed = true; });
    } else {
        MsgAnswer answer = MsgAnswer::No;
        s(112, [&] { answer = MsgBox(ZoomWarning, MsgButtons::YesNoCancel, 2); });
        if (s.test(114, [&] { return answer == MsgAnswer::Yes; })) {
            s(116, [&] { proceed = true; });
        } else if (s.test(118, [&] { return answer == MsgAnswer::Cancel; })) {
            s(120, [&] { PushButton13_Click(); });
            s(122, [&] { proceed = true; });
        }
    }
    if (s.test(124, [&] { return !proceed; })) {
        return;
    }
    s(126, [&] { path = AskSaveFileName(); });
    if (s.test(128, [&] { return path.isEmpty(); })) {
        return;
    }

    BusyGuard busy(*this);
    // What is saved is the picture as the window shows it now: the window works on while the save
    // writes (a zoom clicked meanwhile changes the view, not the file).
    PictureBox::Shown shown;
    const float shownZoom = doc.ZoomFactor;
    const bool pictured = s(129, [&] { shown = Picture1->shown(); });
    s(130, [&] { setMousePointer(vbHourglass); });
    QByteArray converter;
    bool converterPlaced = false;
    s(132, [&] { converter = services_.loadResource(QStringLiteral("CUSTOM"), 101); });
    s(134, [&] {
        saving.privateFolder.inside(TempFolder(services_));
        saving.privateFolder.placeConverter(converter);
        converterPlaced = true;
    });
    s(136, [&] { services_.processEvents(); });
    if (s.test(138, [&] {
            const QString ending = path.right(4).toLower();
            return ending == QLatin1String(".bmp") || ending == QLatin1String(".jpg") ||
                   ending == QLatin1String(".gif") || ending == QLatin1String(".png");
        })) {
        s(140, [&] { path.chop(4); });
    }
    qint16 format = 0;
    s(142, [&] { format = saving.SaveFormatIndex; });
    // A zoomed picture is scaled while the window goes on.
    QImage picture;
    bool written = false;
    if (!pictured || !s(143, [&] { RunWhileResponsive([&] { picture = shown.image(); }); })) {
        // Reported; nothing to write.
    } else if (format == 1) {
        written = SaveAsBmp(*this, s, path, picture);
    } else if (format == 2) {
        written = SaveAsJpg(*this, s, path, picture, converterPlaced);
    } else if (format == 3) {
        written = SaveAsPng(*this, s, path, picture);
    } else if (format == 4) {
        written = SaveKeepingPhoto(*this, s, path, picture, shownZoom, converterPlaced);
    }
    // What is on file now is the picture as it stands: closing asks nothing more of it.
    if (written) {
        history.markClean();
    }
    // Closing steps, on every way out once the hourglass shows.
    s(292, [&] {
        if (!saving.privateFolder.path().isEmpty()) {
            RemoveFile(ConverterPath(saving.privateFolder.path()));
        }
    });
    s(294, [&] { setMousePointer(vbDefault); });
}

QString Form1::AskSaveFileName() {
    const SaveDialogResult answer = services_.saveFileDialog(
        this, QStringLiteral("Save File"),
        {QStringLiteral("Bitmap Files (*.bmp)|*.bmp"), QStringLiteral("JPG Files (*.jpg)|*.jpg"),
         QStringLiteral("PNG Files (*.png)|*.png"),
         QStringLiteral("JPG Files, photo kept as it was (*.jpg)|*.jpg")},
        1);
    if (!answer.accepted) {
        return QString();
    }
    saving.SaveFormatIndex = qint16(answer.filterIndex);
    // The name without the blanks around it, and without any null character.
    QString name = answer.path;
    qsizetype start = 0;
    qsizetype end = name.size();
    while (start < end && name.at(start) == QLatin1Char(' ')) {
        ++start;
    }
    while (end > start && name.at(end - 1) == QLatin1Char(' ')) {
        --end;
    }
    name = name.mid(start, end - start);
    name.remove(QChar(u'\0'));
    return name;
}
