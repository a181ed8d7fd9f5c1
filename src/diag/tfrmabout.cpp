#include "diag/tfrmabout.h"

#include "util/options.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Narrabel"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(24, 20, 24, 16);
    lay->setSpacing(6);
    auto addLabel = [&](const char* name, const QString& text) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        lay->addWidget(l);
        return l;
    };
    QLabel* product = addLabel("lblProduct", QStringLiteral("Narrabel"));
    QFont big = product->font();
    big.setPointSizeF(big.pointSizeF() * 2);
    big.setBold(true);
    product->setFont(big);
    addLabel("lblTagline", QStringLiteral("audio book reader and (skinless!) MP3 player"));
    addLabel("lblVersion", QStringLiteral("Version %1").arg(QStringLiteral(NARRABEL_VERSION)));
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    lay->addSpacing(6);
    lay->addWidget(line);
    lay->addSpacing(6);
    QLabel* help = addLabel("lblHelp", QStringLiteral("Optional command-line parameters (to create "
                                                      "sound bite shortcuts)"));
    QFont boldFont = help->font();
    boldFont.setBold(true);
    help->setFont(boldFont);
    addLabel("lblP1", QStringLiteral("p1 - /path/to/file.mp3"));
    addLabel("lblP2", QStringLiteral("p2 - start position in milliseconds"));
    addLabel("lblP3", QStringLiteral("p3 - exit after playing for p3 seconds"));
    lay->addSpacing(6);
    QLabel* keys = addLabel("lblKeys", QStringLiteral("Keys"));
    keys->setFont(boldFont);
    // One line per key, key and what it does side by side.
    QLabel* list = addLabel(
        "lblKeyList",
        QStringLiteral(
            "<table cellspacing=0 cellpadding=1>"
            "<tr><td>Ctrl+Left / Ctrl+Right&nbsp;&nbsp;</td><td>back %1 s / forward %2 s</td></tr>"
            "<tr><td>Ctrl+] / Ctrl+[ / Ctrl+\\</td><td>faster / slower / normal speed</td></tr>"
            "<tr><td>Ctrl+PgUp / Ctrl+PgDown</td><td>previous / next chapter</td></tr>"
            "<tr><td>Ctrl+T</td><td>sleep timer</td></tr>"
            "<tr><td>Ctrl+Shift+Up / Ctrl+Shift+Down&nbsp;&nbsp;</td><td>more / less volume boost "
            "for the book</td></tr>"
            "<tr><td>Insert</td><td>create a bookmark</td></tr>"
            "<tr><td>Enter / Delete</td><td>go to / delete the bookmarks selected in the "
            "tree</td></tr>"
            "<tr><td>Right-click on the position bar&nbsp;&nbsp;</td><td>go to a position "
            "(ms, m:ss or h:mm:ss)</td></tr>"
            "<tr><td>F1</td><td>the bookmark store's records</td></tr>"
            "<tr><td>Esc</td><td>close</td></tr>"
            "</table>")
            .arg(AppOptions().SkipBackSeconds)
            .arg(AppOptions().SkipForwardSeconds));
    list->setTextFormat(Qt::RichText);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("cmdOk"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    lay->addSpacing(10);
    lay->addWidget(buttons);
    setFixedSize(sizeHint());
}
