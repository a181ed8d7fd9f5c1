#pragma once
// Audio files dropped on the main window open and play as if picked with
// Browse: MP3 and the audio books (M4B, M4A, AAC, Opus, Ogg, FLAC), the other
// formats with the option More formats, and any file whose content is audio in
// one of the books' containers, whatever its name.

#include <QObject>
#include <QString>

class QMimeData;
class QWidget;
class TListeningSession;

class TFileDrop : public QObject {
    Q_OBJECT
public:
    // Takes drops on window (which owns this object).
    TFileDrop(QWidget* window, TListeningSession& session);
    // The first file of a drop that plays here; empty when there is none.
    static QString PlayableFile(const QMimeData* data);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window;
    TListeningSession& session;
};
