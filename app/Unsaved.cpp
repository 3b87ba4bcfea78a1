#include "app/Form1.h"
#include "text/UnsavedWords.h"

namespace {

const QString Placeholder = QStringLiteral("Your Text Goes Here");

} // namespace

bool Form1::boxHoldsTypedText() const {
    if (Text1->isHidden()) {
        return false;
    }
    // A re-edited stamp is in the box and no longer in the picture.
    if (editing.reEditing) {
        return true;
    }
    const QString text = Text1->text();
    return !text.trimmed().isEmpty() && text != Placeholder;
}

PictureChange Form1::shownPictureChange() const {
    PictureChange shown;
    shown.whole = true;
    shown.load = true;
    shown.pixels = Zoom_Ori->picture();
    shown.himetric = Zoom_Ori->pictureHimetric();
    shown.record = shownRecord;
    shown.record.zoom = doc.ZoomFactor;
    return shown;
}

// Text that was never saved is not dropped without a word: the text stamped into the picture on
// screen and the text typed in its open box may be saved (the window closes once the save has
// written them), left, or kept by staying; then stamps on pictures that later loads replaced,
// which undo can still bring back.
bool Form1::mayCloseWithUnsavedStamps() {
    if (saving.busy) {
        // A save is still writing the picture.
        return false;
    }
    const bool stamped = history.showsUnsavedStamps();
    const bool typed = boxHoldsTypedText();
    if (stamped || typed) {
        const QString name = PictureName(shownRecord.path);
        QString text;
        if (stamped && typed) {
            text = QStringLiteral("The text stamped into ") + name +
                   QStringLiteral(" and the text typed in its box have not been saved.\r\n\r\n"
                                  "Save them before closing?");
        } else if (stamped) {
            text = QStringLiteral("The text stamped into ") + name +
                   QStringLiteral(" has not been saved.\r\n\r\nSave it before closing?");
        } else {
            text = QStringLiteral("The text typed in the box on ") + name +
                   QStringLiteral(" has not been stamped or saved.\r\n\r\nSave it before closing?");
        }
        const MsgAnswer answer = MsgBox(text, MsgButtons::SaveDiscardCancel, 1, MsgIcon::Warning);
        if (answer == MsgAnswer::Discard) {
            return true;
        }
        if (answer != MsgAnswer::Save) {
            return false;
        }
        // The save stamps the open box first.
        PushButton4_Click();
        if (history.showsUnsavedStamps() || boxHoldsTypedText()) {
            // The save did not happen.
            return false;
        }
    }
    const QList<UnsavedPicture> earlier = history.unsavedEarlierPictures();
    if (earlier.isEmpty()) {
        return true;
    }
    const MsgAnswer answer =
        MsgBox(UnsavedEarlierText(earlier) + QStringLiteral(".\r\n\r\nClose without ") +
                   ItOrThem(earlier) + QStringLiteral("?"),
               MsgButtons::YesNo, 2, MsgIcon::Warning);
    return answer == MsgAnswer::Yes;
}

// A load keeps the picture it replaces for undo; when that would push a picture with unsaved
// stamps out of the history (or the picture now is too large to be kept), the user is asked
// first: the picture on screen may be saved, and an earlier one left or kept by not loading.
bool Form1::mayLoadOverUnsavedStamps() {
    if (!Zoom_Ori->hasPicture()) {
        return true;
    }
    QList<UnsavedPicture> lost = history.unsavedLostBy(shownPictureChange());
    if (!lost.isEmpty() && lost.first().stepsBack == 0) {
        const MsgAnswer answer =
            MsgBox(QStringLiteral("The text stamped into ") + PictureName(lost.first().path) +
                       QStringLiteral(" has not been saved, and the picture is too large for "
                                      "Undo Stamp to bring it back after another load.\r\n\r\n"
                                      "Save it first?"),
                   MsgButtons::SaveDiscardCancel, 1, MsgIcon::Warning);
        if (answer == MsgAnswer::Save) {
            PushButton4_Click();
            if (history.showsUnsavedStamps()) {
                return false;
            }
        } else if (answer != MsgAnswer::Discard) {
            return false;
        }
        lost.removeFirst();
    }
    if (lost.isEmpty()) {
        return true;
    }
    const MsgAnswer answer =
        MsgBox(UnsavedEarlierText(lost) + QStringLiteral(", but not after another load.\r\n\r\n"
                                                         "Load the picture anyway?"),
               MsgButtons::YesNo, 2, MsgIcon::Warning);
    return answer == MsgAnswer::Yes;
}

bool Form1::mayStampOverUnsavedStamps(const PictureChange &before) {
    const QList<UnsavedPicture> lost = history.unsavedLostBy(before);
    if (lost.isEmpty()) {
        return true;
    }
    const MsgAnswer answer =
        MsgBox(UnsavedEarlierText(lost) + QStringLiteral(", but not after this stamp.\r\n\r\n"
                                                         "Stamp the text anyway?"),
               MsgButtons::YesNo, 2, MsgIcon::Warning);
    return answer == MsgAnswer::Yes;
}
