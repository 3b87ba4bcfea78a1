#pragma once

#include "workspace/SourceFile.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QRect>
#include <QSet>
#include <QSize>
#include <QString>
#include <QtGlobal>
#include <optional>

// What the document says of a picture besides its pixels: the file it came from, its estimated
// JPG quality and camera data, and the zoom it was shown at.
struct PictureRecord {
    QString path;
    qint16 quality = 0;
    QByteArray exif;
    float zoom = 1.0f;
    // For a JPEG: the head of its file and what the file was when loaded.
    QByteArray head;
    SourceFingerprint file;
    // The areas of the picture (in its own pixels) that stamps changed since it was loaded,
    // undone ones included: a save that keeps the file's blocks encodes these anew.
    QList<QRect> stamped;
};

// A picture as the zoom source holds it: its pixels and its HiMetric size, and its record.
struct PictureState {
    QImage image;
    QSize himetric;
    PictureRecord record;
};

// One side of a step: either the whole picture with its record (a load that replaced the
// picture) or the pixels of one area of it (a stamp drawn over the picture's own pixels), with
// the HiMetric size the picture had.
struct PictureChange {
    bool whole = false;
    QRect area;    // where pixels go, when not whole
    QImage pixels; // the whole picture, or the area's pixels
    QSize himetric;
    PictureRecord record; // when whole
    // The history's own account of which state of the picture the step leads from and to.
    qint64 stateBefore = 0;
    qint64 stateAfter = 0;
    // A load that replaced the picture (not a stamp).
    bool load = false;
};

// A picture with stamps that were never saved, which a load replaced: the file it came from and
// how many undo steps bring it back.
struct UnsavedPicture {
    QString path;
    int stepsBack = 0;
};

// The undo and redo history of stamps and loads. At most maxSteps steps are kept in all; when
// the stored pixels would pass maxBytes together, the oldest steps go first. A change larger than
// maxBytes on its own is never kept. It also knows whether the picture is as it was when last
// loaded or saved (clean).
//
// A load that replaced a picture holding unsaved stamps keeps that picture within reach: stamps
// and undo or redo never push it out for the step count, only for the byte limit; loads push it
// out as they must, and the window asks first (unsavedLostBy).
class StampHistory {
public:
    static constexpr int DefaultMaxSteps = 10;
    static constexpr qint64 DefaultMaxBytes = qint64(1) << 30;

    explicit StampHistory(int maxSteps = DefaultMaxSteps, qint64 maxBytes = DefaultMaxBytes)
        : maxSteps_(maxSteps), maxBytes_(maxBytes) {}

    // True when a change of this many bytes could be kept at all.
    bool canKeep(qint64 bytes) const { return maxSteps_ > 0 && bytes <= maxBytes_; }

    // A stamp was made; before is what it changed, as it was. What could be redone is forgotten.
    // A whole picture without pixels (one too large to keep) ends the history: nothing before it
    // can be reached any more.
    void recordStamp(PictureChange before);
    // A picture was loaded over the one before (a whole change): the new picture is clean.
    void recordLoad(PictureChange before);

    bool canUndo() const { return !undo_.isEmpty(); }
    bool canRedo() const { return !redo_.isEmpty(); }
    // Takes the picture back over the last stamp, keeping what it undoes for redo; false when
    // there is nothing to undo. An area is drawn into the picture's own pixels, so the caller lets
    // go of other handles on them first to spare a copy of the whole picture.
    bool undo(PictureState &picture);
    // Makes the last undone stamp again; false when there is nothing to redo.
    bool redo(PictureState &picture);
    void clear();
    // True after an undo or redo that traded whole pictures.
    bool lastStepWasWhole() const { return lastWhole_; }

    // The picture as it is now has been saved.
    void markClean();
    // True when the picture is as it was when last loaded or saved.
    bool isClean() const { return state_ == clean_; }
    // True when closing would lose stamps that were never saved: the picture as it is now is not
    // the file it was last loaded from or saved to, or a picture that a later load replaced was
    // not (and undo can bring it back). Stamps taken out by undo do not count, nor states
    // between two saves.
    bool holdsUnsavedStamps() const {
        return showsUnsavedStamps() || !unsavedEarlierPictures().isEmpty();
    }
    // True when the picture as it is now holds such stamps.
    bool showsUnsavedStamps() const { return unsavedState(state_); }
    // The pictures with unsaved stamps that loads replaced and undo can still bring back, the
    // nearest first.
    QList<UnsavedPicture> unsavedEarlierPictures() const;
    // What recording this change would put out of reach for good: pictures with unsaved stamps
    // that loads replaced, and, for a load whose picture before it (the one now) cannot be kept,
    // that picture itself (stepsBack 0).
    QList<UnsavedPicture> unsavedLostBy(const PictureChange &incoming) const;
    // Which state the picture is in: the same number whenever the same steps lead to it.
    qint64 state() const { return state_; }

    int undoSteps() const { return int(undo_.size()); }
    int redoSteps() const { return int(redo_.size()); }
    // Bytes of pixel data held, each distinct image counted once.
    qint64 bytes() const;

    // Applies a change to the picture and returns the change that takes it back. A change that
    // does not fit the picture (an area outside it) leaves the picture alone and gives nothing.
    static std::optional<PictureChange> Apply(PictureState &picture, const PictureChange &change);

private:
    // How many of the oldest undo steps and of the farthest redo steps go to make room for a
    // change about to be pushed.
    struct Room {
        int undoDrops = 0;
        int redoDrops = 0;
    };
    // What the room is made for: a load, a stamp, or a step of undo or redo.
    enum class Push { Load, Stamp, Step };
    bool step(QList<PictureChange> &from, QList<PictureChange> &to, PictureState &picture);
    void record(PictureChange before, Push push);
    // The oldest undo steps go first, then the farthest redo steps; a load step that leads away
    // from unsaved stamps goes only for a load, or for the byte limit of a stamp.
    Room roomFor(const QImage &incoming, Push push) const;
    void makeRoom(const QImage &incoming, Push push);
    bool keeps(const PictureChange &change) const;
    // A load that replaced a picture with unsaved stamps.
    bool leavesUnsaved(const PictureChange &change) const {
        return change.load && unsavedState(change.stateBefore);
    }
    bool unsavedState(qint64 state) const {
        return stamped_.contains(state) && !saved_.contains(state);
    }

    int maxSteps_;
    qint64 maxBytes_;
    QList<PictureChange> undo_; // oldest first
    QList<PictureChange> redo_; // farthest first, next redo last
    qint64 state_ = 0;          // the picture's state now
    qint64 lastState_ = 0;      // the last state handed out
    qint64 clean_ = 0;          // the state last loaded or saved
    bool lastWhole_ = false;
    QSet<qint64> stamped_; // states a stamp led to
    QSet<qint64> saved_;   // states that were loaded from or saved to a file
};
