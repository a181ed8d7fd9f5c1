// The chapter list in the column beside the bookmark tree, the chapter keys
// and the chapter marks on the position bar. The list is a view of the
// session's chapters; a row activated plays from its start.

#include "app/tfrmmain.h"
#include "playback/chapterlist.h"
#include "playback/listeningsettings.h"
#include "playback/session.h"
#include "ui/coverview.h"
#include "ui/widgets.h"
#include "util/appstate.h"

#include <QHeaderView>
#include <QKeySequence>
#include <QLayout>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QTreeView>
#include <QVBoxLayout>

void TfrmMain::SetUpChapters() {
    TChapterNav& chapters = session.Chapters;
    lvChapters = new QTreeView(pnlSide);
    lvChapters->setObjectName(QStringLiteral("lvChapters"));
    auto* model = new TChapterListModel(chapters, lvChapters);
    lvChapters->setModel(model);
    lvChapters->setRootIsDecorated(false);
    lvChapters->setItemsExpandable(false);
    // Every row one line high: the view never measures thousands of them.
    lvChapters->setUniformRowHeights(true);
    lvChapters->setAllColumnsShowFocus(true);
    lvChapters->setSelectionMode(QAbstractItemView::SingleSelection);
    lvChapters->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvChapters->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvChapters->setTextElideMode(Qt::ElideRight);
    lvChapters->setToolTip(QStringLiteral("Double-click or Enter plays a chapter from its start"));
    // The times get what "10:00:00" needs; the title the rest.
    QHeaderView* header = lvChapters->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(TChapterListModel::ColTitle, QHeaderView::Stretch);
    const int timeWidth =
        lvChapters->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00")) + 18;
    for (int c : {int(TChapterListModel::ColStart), int(TChapterListModel::ColLength)}) {
        header->setSectionResizeMode(c, QHeaderView::Fixed);
        header->resizeSection(c, timeWidth);
    }
    pnlSide->AddWidget(lvChapters, 1);
    pnlSide->setMinimumWidth(180);

    connect(lvChapters, &QAbstractItemView::activated, this,
            [this](const QModelIndex& index) { session.GoToChapter(index.row()); });

    auto* positionBar = static_cast<TPositionBar*>(sbPos);
    connect(&chapters, &TChapterNav::RowsChanged, this, [this, positionBar, model] {
        // The list goes while the book has none, as the cover does.
        ShowChapterList(cmdChapters->isChecked());
        // A file's own chapters are marked on its bar; a book's files are not.
        QVector<int> starts;
        if (session.Chapters.OwnChapters())
            for (const TBookChapter& c : session.Chapters.Rows())
                if (c.Start > 0) starts.append(c.Start);
        positionBar->SetMarks(starts);
        const int row = session.Chapters.Current();
        if (row >= 0)
            lvChapters->scrollTo(model->index(row, 0), QAbstractItemView::PositionAtCenter);
    });
    // The chapter playing stays in view, unless the listener scrolled it away
    // to look at others.
    auto followed = std::make_shared<int>(-1);
    connect(&chapters, &TChapterNav::CurrentChanged, this, [this, model, followed](int row) {
        const int before = std::exchange(*followed, row);
        if (row < 0 || !lvChapters->isVisible()) return;
        const QRect was = before >= 0 ? lvChapters->visualRect(model->index(before, 0)) : QRect();
        const bool beforeInView = was.isValid() && lvChapters->viewport()->rect().intersects(was);
        if (beforeInView || before < 0 || !lvChapters->hasFocus())
            lvChapters->scrollTo(model->index(row, 0), QAbstractItemView::EnsureVisible);
    });

    // The chapter keys belong to the window, like the skips.
    const struct {
        int key;
        void (TListeningSession::*step)();
    } keys[] = {{Qt::Key_PageDown, &TListeningSession::NextChapter},
                {Qt::Key_PageUp, &TListeningSession::PreviousChapter}};
    for (const auto& k : keys) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | k.key), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, &session, k.step);
    }

    const bool shown = LoadChapterListShown(
        app.DataFolder.isEmpty() ? QString() : app.DataFile(ListeningSettingsFileName()));
    cmdChapters->setChecked(shown);
    ShowChapterList(shown);
    connect(cmdChapters, &QPushButton::toggled, this, [this](bool on) {
        ShowChapterList(on);
        // Remembered at once; a file that cannot be written only forgets it.
        if (!app.DataFolder.isEmpty())
            SaveChapterListShown(app.DataFile(ListeningSettingsFileName()), on);
    });
}

void TfrmMain::ShowChapterList(bool shown) {
    // The side column shows while anything in it does.
    const bool wasHidden = lvChapters->isHidden();
    lvChapters->setVisible(shown && !session.Chapters.Rows().isEmpty());
    // A list that comes gets room for its titles: two fifths of the width,
    // unless the listener made the column wider.
    const QList<int> sizes = splSide->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    if (wasHidden && !lvChapters->isHidden() && sizes.size() == 2 && sizes[1] < total * 2 / 5)
        splSide->setSizes({total - total * 2 / 5, total * 2 / 5});
    const int row = session.Chapters.Current();
    if (shown && row >= 0)
        lvChapters->scrollTo(lvChapters->model()->index(row, 0),
                             QAbstractItemView::PositionAtCenter);
}
