#include "diag/tfrmdebug.h"

#include "bookmarks/bookmark.h"
#include "ui/widgets.h"
#include "util/appstate.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TfrmDebug::TfrmDebug(const TAppState& appState, QWidget* parent) : QDialog(parent), app(appState) {
    setObjectName(QStringLiteral("frmDebug"));
    setWindowTitle(QStringLiteral("Debug"));
    setSizeGripEnabled(true);

    pnlTop = new QWidget(this);
    pnlTop->setObjectName(QStringLiteral("pnlTop"));
    cmdData = new QPushButton(QStringLiteral("&Data"), pnlTop);
    cmdData->setObjectName(QStringLiteral("cmdData"));
    cmdData->setAutoDefault(false);
    cmdClose = new QPushButton(QStringLiteral("Close"), pnlTop);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setAutoDefault(false);
    auto* top = new QHBoxLayout(pnlTop);
    top->setContentsMargins(4, 4, 4, 4);
    top->addWidget(cmdData);
    top->addWidget(cmdClose);
    top->addStretch(1);

    mem = new QPlainTextEdit(this);
    mem->setObjectName(QStringLiteral("mem"));
    mem->setReadOnly(true);
    mem->setLineWrapMode(QPlainTextEdit::NoWrap);
    mem->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mem->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(20);
    font.setBold(true);
    mem->setFont(font);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(pnlTop);
    root->addWidget(mem, 1);
    resize(900, 480);

    connect(cmdData, &QPushButton::clicked, this, [this] { cmdDataClick(); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { cmdCloseClick(); });
}

void TfrmDebug::cmdDataClick() {
    QString store = StorePath;
    if (store.isEmpty()) store = app.StorePath;
    mem->clear();
    if (store.isEmpty()) return;
    // Read errors are not reported: the listing simply ends.
    mem->setPlainText(DebugListing(store).join(QLatin1Char('\n')));
}

void TfrmDebug::cmdCloseClick() {
    close();
}

bool TfrmDebug::event(QEvent* event) {
    // Esc closes this window only, never the main window behind it.
    if (event->type() == QEvent::ShortcutOverride &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        event->accept();
        return true;
    }
    return QDialog::event(event);
}

void TfrmDebug::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (centred) return;
    centred = true;
    CenterOnScreen(this);
}
