#include "text/StampHistory.h"

#include <QPainter>
#include <QSet>
#include <utility>

namespace {

// Bytes of the distinct images in the lists, plus extra unless it is one of them.
qint64 distinctBytes(const QList<PictureChange> &a, const QList<PictureChange> &b,
                     const QImage &extra = QImage()) {
    QSet<qint64> seen;
    qint64 total = 0;
    const auto add = [&](const QImage &image) {
        if (!image.isNull() && !seen.contains(image.cacheKey())) {
            seen.insert(image.cacheKey());
            total += image.sizeInBytes();
        }
    };
    for (const PictureChange &c : a) {
        add(c.pixels);
    }
    for (const PictureChange &c : b) {
        add(c.pixels);
    }
    add(extra);
    return total;
}

} // namespace

bool StampHistory::keeps(const PictureChange &change) const {
    if (change.whole && change.pixels.isNull()) {
        return false;
    }
    return canKeep(change.pixels.sizeInBytes());
}

StampHistory::Room StampHistory::roomFor(const QImage &incoming, Push push) const {
    Room room;
    for (;;) {
        // A new step forgets what could be redone before it is pushed.
        const QList<PictureChange> undo = undo_.mid(room.undoDrops);
        const QList<PictureChange> redo =
            push == Push::Step ? redo_.mid(room.redoDrops) : QList<PictureChange>();
        if (undo.isEmpty() && redo.isEmpty()) {
            break;
        }
        const bool tooMany = undo.size() + redo.size() + 1 > maxSteps_;
        const bool tooLarge = distinctBytes(undo, redo, incoming) > maxBytes_;
        if (!tooMany && !tooLarge) {
            break;
        }
        // Unsaved stamps behind a load stay for as long as only the count is against them (a
        // stamp's own pixels are few); a load pushes them out, having asked.
        const bool kept = !undo.isEmpty() && leavesUnsaved(undo.first()) &&
                          (push == Push::Step || (push == Push::Stamp && !tooLarge));
        if (!undo.isEmpty() && !kept) {
            ++room.undoDrops;
        } else if (!redo.isEmpty()) {
            ++room.redoDrops;
        } else {
            break;
        }
    }
    return room;
}

void StampHistory::makeRoom(const QImage &incoming, Push push) {
    const Room room = roomFor(incoming, push);
    undo_.remove(0, room.undoDrops);
    redo_.remove(0, room.redoDrops);
}

void StampHistory::recordStamp(PictureChange before) {
    record(std::move(before), Push::Stamp);
}

void StampHistory::recordLoad(PictureChange before) {
    before.load = true;
    record(std::move(before), Push::Load);
    stamped_.remove(state_);
    markClean();
}

void StampHistory::record(PictureChange before, Push push) {
    redo_.clear();
    before.stateBefore = state_;
    state_ = ++lastState_;
    stamped_.insert(state_);
    before.stateAfter = state_;
    if (!keeps(before)) {
        undo_.clear();
        return;
    }
    makeRoom(before.pixels, push);
    undo_.append(std::move(before));
}

void StampHistory::markClean() {
    clean_ = state_;
    saved_.insert(state_);
}

QList<UnsavedPicture> StampHistory::unsavedEarlierPictures() const {
    QList<UnsavedPicture> pictures;
    for (qsizetype i = undo_.size() - 1; i >= 0; --i) {
        if (leavesUnsaved(undo_[i])) {
            pictures.append({undo_[i].record.path, int(undo_.size() - i)});
        }
    }
    return pictures;
}

QList<UnsavedPicture> StampHistory::unsavedLostBy(const PictureChange &incoming) const {
    QList<UnsavedPicture> lost;
    qsizetype drops = undo_.size();
    if (keeps(incoming)) {
        drops = roomFor(incoming.pixels, incoming.load ? Push::Load : Push::Stamp).undoDrops;
    } else if (incoming.load && showsUnsavedStamps()) {
        lost.append({incoming.record.path, 0});
    }
    for (qsizetype i = drops - 1; i >= 0; --i) {
        if (leavesUnsaved(undo_[i])) {
            lost.append({undo_[i].record.path, int(undo_.size() - i)});
        }
    }
    return lost;
}

bool StampHistory::step(QList<PictureChange> &from, QList<PictureChange> &to,
                        PictureState &picture) {
    if (from.isEmpty()) {
        return false;
    }
    const PictureChange change = from.takeLast();
    std::optional<PictureChange> back = Apply(picture, change);
    if (!back) {
        // The history no longer fits the picture: nothing in it can be trusted.
        clear();
        return false;
    }
    lastWhole_ = change.whole;
    back->stateBefore = change.stateBefore;
    back->stateAfter = change.stateAfter;
    back->load = change.load;
    state_ = &from == &undo_ ? change.stateBefore : change.stateAfter;
    if (keeps(*back)) {
        makeRoom(back->pixels, Push::Step);
        to.append(std::move(*back));
    } else {
        // The picture as it was cannot be kept, so there is nothing to come back to.
        to.clear();
    }
    return true;
}

bool StampHistory::undo(PictureState &picture) {
    return step(undo_, redo_, picture);
}

bool StampHistory::redo(PictureState &picture) {
    return step(redo_, undo_, picture);
}

void StampHistory::clear() {
    undo_.clear();
    redo_.clear();
}

qint64 StampHistory::bytes() const {
    return distinctBytes(undo_, redo_);
}

std::optional<PictureChange> StampHistory::Apply(PictureState &picture,
                                                 const PictureChange &change) {
    PictureChange back;
    back.whole = change.whole;
    if (change.whole) {
        back.pixels = std::exchange(picture.image, change.pixels);
        back.himetric = std::exchange(picture.himetric, change.himetric);
        back.record = std::exchange(picture.record, change.record);
        return back;
    }
    if (!change.area.isEmpty() && (!picture.image.rect().contains(change.area) ||
                                   change.pixels.size() != change.area.size())) {
        return std::nullopt;
    }
    back.area = change.area;
    back.himetric = std::exchange(picture.himetric, change.himetric);
    if (!change.area.isEmpty()) {
        back.pixels = picture.image.copy(change.area);
        QPainter painter(&picture.image);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(change.area.topLeft(), change.pixels);
    }
    return back;
}
