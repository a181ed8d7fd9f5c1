#include "diag/tfrmabout.h"

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
    addLabel("lblP1", QStringLiteral("p1 - drive:\\path\\filename.ext"));
    addLabel("lblP2", QStringLiteral("p2 - seek point (integer, 0 = start of file)"));
    addLabel("lblP3", QStringLiteral("p3 - exit after playing for p3 seconds"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("cmdOk"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    lay->addSpacing(10);
    lay->addWidget(buttons);
    setFixedSize(sizeHint());
}
