#include "app/filedrop.h"

#include "playback/session.h"
#include "tags/tagformat.h"
#include "util/qorext.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

TFileDrop::TFileDrop(QWidget* w, TListeningSession& s) : QObject(w), window(w), session(s) {
    setObjectName(QStringLiteral("FileDrop"));
    window->setAcceptDrops(true);
    window->installEventFilter(this);
}

QString TFileDrop::PlayableFile(const QMimeData* data) {
    if (!data || !data->hasUrls()) return {};
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) continue;
        const QString path = url.toLocalFile();
        if (!QFileInfo(path).isFile()) continue;
        if (IsPlayableFile(path)) return path;
        switch (DetectTagFormat(path)) {
        case TTagFormat::Mp4:
        case TTagFormat::OggVorbis:
        case TTagFormat::Opus:
        case TTagFormat::OggFlac:
        case TTagFormat::Flac:
            return path; // an audio book under another name
        default:
            break;
        }
    }
    return {};
}

bool TFileDrop::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window) return false;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* e = static_cast<QDropEvent*>(event);
        if (PlayableFile(e->mimeData()).isEmpty()) return false;
        e->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto* e = static_cast<QDropEvent*>(event);
        const QString path = PlayableFile(e->mimeData());
        if (path.isEmpty()) return false;
        e->acceptProposedAction();
        // After the drop has ended: opening may ask a question.
        TListeningSession* s = &session;
        QTimer::singleShot(0, s, [s, path] { s->OpenPicked(path); });
        return true;
    }
    default:
        return false;
    }
}
