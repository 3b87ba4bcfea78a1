#include "app/ErrorReport.h"
#include "app/Form1.h"
#include "save/Quality.h"
#include "workspace/PictureLoader.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QScopeGuard>

namespace {

// Leading and trailing blanks removed (blanks only, not other white space).
QString TrimBlanks(const QString &text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text.at(start) == QLatin1Char(' ')) {
        ++start;
    }
    while (end > start && text.at(end - 1) == QLatin1Char(' ')) {
        --end;
    }
    return text.mid(start, end - start);
}

void AssignPicture(PictureBox *box, const LoadedPicture &picture) {
    if (picture.image.isNull()) {
        box->clearPicture();
    } else {
        box->setPicture(picture.image, picture.himetric);
    }
}

// Loads the file for the window and assigns it to the display; true once done. A big photo shows
// its first part, where the viewport shows it, while the rest is decoded. A file that cannot be
// read throws the load error before anything is assigned, the display showing what it showed.
bool LoadInto(Form1 &form, const QString &path, LoadedPicture *loaded) {
    bool firstViewShown = false;
    WindowLoad window;
    window.firstViewArea = QSize(form.Picture2->scaleWidth(), form.Picture2->scaleHeight());
    window.showFirstView = [&](const QImage &part, QSize whole) {
        firstViewShown = true;
        form.Picture1->showFirstView(part, whole);
        form.Picture1->move(0, 0);
        form.Picture1->show();
        form.setMousePointer(vbHourglass);
        // Painted now, with the place the closed open dialog leaves: the window's own events run
        // once (none of the user's), then the display is painted for sure.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        form.Picture1->repaint();
    };
    form.doc.loading = true;
    const auto done = qScopeGuard([&form] { form.doc.loading = false; });
    try {
        *loaded = LoadPicture(path, MaxDecodedPictureBytes, &window);
    } catch (...) {
        if (firstViewShown) {
            form.setMousePointer(vbDefault);
            form.Picture1->release();
            form.ApplyZoom();
        }
        throw;
    }
    AssignPicture(form.Picture1, *loaded);
    return true;
}

// The fingerprint of the JPEG file the picture came from: of the bytes decoded, or read anew.
SourceFingerprint FingerprintFor(const QString &path, const LoadedPicture &picture) {
    if (picture.jpegHead.isEmpty()) {
        return {};
    }
    return picture.jpegFile.isSet() ? picture.jpegFile : FingerprintOf(path);
}

// The open dialog's filter: the five formats of old first, as they always were, then the other
// pictures the loader reads.
const QString OpenFilter = QStringLiteral(
    "All Pictures (*.bmp;*.jpg;*.gif;*.ico;*.wmf)|*.bmp;*.jpg;*.gif;*.ico;*.wmf|"
    "Other Pictures (*.png;*.jpeg;*.jpe;*.jfif;*.tif;*.tiff;*.webp;*.heic;*.heif;"
    "*.hif;*.avif;*.jxl)|"
    "*.png;*.jpeg;*.jpe;*.jfif;*.tif;*.tiff;*.webp;*.heic;*.heif;*.hif;*.avif;*.jxl");

// Where the picture on screen came from. Set only once its file has loaded: a file that could
// not be read leaves the record of the picture still on screen, so that Reload Original Picture
// and a Smart-Detect save keep working with it.
void RecordSource(PictureDocument &doc, const QString &path, const LoadedPicture &picture) {
    doc.OriginalPath = path;
    doc.SourceExif = picture.exif;
    doc.SourceHead = picture.jpegHead;
    doc.SourceFile = FingerprintFor(path, picture);
}

} // namespace

void Form1::PushButton1_Click() {
    if (saving.busy || doc.loading) {
        return;
    }
    Steps s(*this, "PushButton1_Click");
    QStringList parts;
    QString path;
    s(100, [&] { CommonDialog1->FileName = QString(); });
    s(102, [&] {
        CommonDialog1->DialogTitle =
            QStringLiteral("Add File(s) - Hold Ctrl or Shift to select multiple files");
    });
    s(104, [&] { CommonDialog1->Filter = OpenFilter; });
    s(106, [&] { CommonDialog1->ShowOpen(); });
    s(108, [&] {
        const QString name = CommonDialog1->FileName;
        parts = name.isEmpty() ? QStringList() : name.split(QChar(u'\0'));
    });
    if (s.test(110, [&] { return parts.size() - 1 != 0; })) {
        return;
    }
    s(112, [&] { path = parts.at(0); });
    // Unsaved stamps that this load would put out of undo's reach are asked about first.
    if (s.test(113, [&] { return !mayLoadOverUnsavedStamps(); })) {
        return;
    }
    LoadedPicture loaded;
    bool fileLoaded = false;
    s(116, [&] { fileLoaded = LoadInto(*this, TrimBlanks(path), &loaded); });
    // The picture area shows once there is a picture for it: a first load that fails leaves it
    // hidden, so there is no empty box to click on.
    s(114, [&] { Picture1->setVisible(fileLoaded || Zoom_Ori->hasPicture()); });
    if (fileLoaded) {
        // The estimate measures the same file that was loaded, blanks trimmed.
        s(118, [&] { doc.DetectedQuality = DetectJpgQuality(*Picture1, TrimBlanks(path)); });
        s(120, [&] { RecordSource(doc, TrimBlanks(path), loaded); });
    }
    s(122, [&] { SetPicture(); });
    s(124, [&] { ScrollBars(); });
    s(126, [&] { PushButton4->setEnabled(true); });
}

void Form1::PushButton7_Click() {
    if (saving.busy || doc.loading) {
        return;
    }
    Steps s(*this, "PushButton7_Click");
    QString path;
    s(100, [&] { path = ProgramFile(QStringLiteral("/Samples/sample.jpg")); });
    if (s.test(101, [&] { return !mayLoadOverUnsavedStamps(); })) {
        return;
    }
    LoadedPicture loaded;
    bool fileLoaded = false;
    s(104, [&] { fileLoaded = LoadInto(*this, TrimBlanks(path), &loaded); });
    s(102, [&] { Picture1->setVisible(fileLoaded || Zoom_Ori->hasPicture()); });
    if (fileLoaded) {
        s(106, [&] { RecordSource(doc, TrimBlanks(path), loaded); });
        s(108, [&] { doc.DetectedQuality = DetectJpgQuality(*Picture1, path); });
    }
    s(110, [&] { SetPicture(); });
    s(112, [&] { ScrollBars(); });
}

void Form1::PushButton12_Click() {
    if (saving.busy || doc.loading) {
        return;
    }
    Steps s(*this, "PushButton12_Click");
    MsgAnswer answer = MsgAnswer::No;
    s(100, [&] { setMousePointer(vbHourglass); });
    s(102, [&] {
        answer = MsgBox(QStringLiteral("Are You sure?\r\n\r\nAll edited text will lost."),
                        MsgButtons::YesNo, 2);
    });
    if (answer == MsgAnswer::Yes && s.test(103, [&] { return !mayLoadOverUnsavedStamps(); })) {
        answer = MsgAnswer::No;
    }
    if (answer == MsgAnswer::Yes) {
        // The file is read before anything is cleared, so a file that can no longer be read
        // leaves the picture on screen as it was instead of a blank box.
        LoadedPicture reloaded;
        bool loaded = false;
        s(108, [&] {
            const WindowLoad fingerprinted;
            reloaded = LoadPicture(doc.OriginalPath, MaxDecodedPictureBytes, &fingerprinted);
            loaded = true;
        });
        if (loaded) {
            s(104, [&] { Picture1->cls(); });
            s(106, [&] { Picture1->clearPicture(); });
            s(108, [&] {
                AssignPicture(Picture1, reloaded);
                // The camera data comes with the pixels, as Load Picture takes it.
                doc.SourceExif = reloaded.exif;
                doc.SourceHead = reloaded.jpegHead;
                doc.SourceFile = FingerprintFor(doc.OriginalPath, reloaded);
            });
        }
        s(110, [&] { SetPicture(); });
        s(112, [&] { ScrollBars(); });
        s(114, [&] { TextEditing = vbFalse; });
    }
    s(116, [&] { setMousePointer(vbDefault); });
}
