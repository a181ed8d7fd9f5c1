// The listening session's steps through chapters and its "End of this
// chapter" sleep timer.

#include "playback/session.h"

#include <QFileInfo>

namespace {

bool Paused(const TListeningSession& s) {
    return s.PlayCaption() == QLatin1String("&Play");
}

} // namespace

void TListeningSession::NextChapter() {
    if (fileText.isEmpty() || !mp->IsOpen()) return;
    goToChapterTarget(Chapters.Next(mp->Position()), !Paused(*this));
}

void TListeningSession::PreviousChapter() {
    if (fileText.isEmpty() || !mp->IsOpen()) return;
    goToChapterTarget(Chapters.Previous(mp->Position()), !Paused(*this));
}

void TListeningSession::GoToChapter(int row) {
    if (fileText.isEmpty() || !mp->IsOpen()) return;
    goToChapterTarget(Chapters.At(row), true);
}

void TListeningSession::goToChapterTarget(const TChapterNav::TTarget& target, bool play) {
    if (target.File.isEmpty()) return;
    if (target.File == mp->FileName()) {
        // A place in the open file: the sound runs on from there.
        SeekInFile(target.Position);
        if (play && Paused(*this)) PlayPause();
        return;
    }
    // A file of the book renamed or removed since the list was read.
    if (!QFileInfo(target.File).isFile()) return;
    playOnInto(target.File, target.Position, play);
}

QString TListeningSession::fileHint(const QString& file) const {
    const QString chapter = mp->FileName() == file ? Chapters.Hint() : QString();
    return chapter.isEmpty() ? file : file + QLatin1Char('\n') + chapter;
}

void TListeningSession::showChapter() {
    if (mp->IsOpen()) setStatusHint(2, fileHint(mp->FileName()));
    updateClock();
    updateChapterStop();
}

void TListeningSession::updateChapterStop(int32_t at) {
    if (!mp->IsOpen()) return;
    const int32_t stop = Sleep.Choice() == TSleepTimer::EndOfChapter
                             ? Chapters.ChapterEndAt(at >= 0 ? at : mp->Position())
                             : -1;
    if (stop != mp->StopPoint()) mp->SetStopPoint(stop);
}

void TListeningSession::onStopPointReached() {
    if (Sleep.Choice() != TSleepTimer::EndOfChapter) {
        // Called off meanwhile: nothing was meant to stop here.
        if (!Paused(*this)) mp->Play();
        return;
    }
    // No fade: the chapter ends, and the book waits there; Play goes on into
    // the next chapter from its start. Paused before the sleep panel changes
    // (which lets events run).
    pauseNow(false);
    pausedAtEnd = true;
    Sleep.ChapterEnded();
}
