#include "bookmarks/tfrmmissing.h"

#include "ui/widgets.h"
#include "util/qorext.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

TfrmMissing::TfrmMissing(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmMissing"));
    setWindowTitle(QStringLiteral("Missing Audio Source"));
    setModal(true);
    auto* lay = new QVBoxLayout(this);
    auto* form = new QFormLayout();
    pnlSrc = MakePanel(this, "pnlSrc", 380);
    pnlTime = MakePanel(this, "pnlTime", 380);
    pnlPos = MakePanel(this, "pnlPos", 380);
    form->addRow(QStringLiteral("Audio Source"), pnlSrc);
    form->addRow(QStringLiteral("Timestamp"), pnlTime);
    form->addRow(QStringLiteral("File Position"), pnlPos);
    lay->addLayout(form);
    auto* question = new QLabel(QStringLiteral("What do you want to do with this bookmark?"), this);
    question->setObjectName(QStringLiteral("lblQuestion"));
    QFont f = question->font();
    f.setPointSizeF(f.pointSizeF() * 1.25);
    f.setBold(true);
    question->setFont(f);
    lay->addSpacing(6);
    lay->addWidget(question);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    const struct {
        QPushButton** button;
        const char* name;
        const char* caption;
        Answer answer;
    } defs[] = {{&cmdIgnore, "cmdIgnore", "&Ignore", Ignore},
                {&cmdRepoint, "cmdRepoint", "&Repoint", Repoint},
                {&cmdDelete, "cmdDelete", "&Delete", Delete}};
    for (const auto& d : defs) {
        *d.button = new QPushButton(QString::fromLatin1(d.caption), this);
        (*d.button)->setObjectName(QLatin1String(d.name));
        buttons->addWidget(*d.button);
        const int code = d.answer;
        connect(*d.button, &QPushButton::clicked, this, [this, code] { done(code); });
    }
    cmdIgnore->setDefault(true);
    // Escape chooses Ignore as well (QDialog's own Escape rejects, which is the same code).
    lay->addLayout(buttons);
    setTabOrder(cmdIgnore, cmdRepoint);
    setTabOrder(cmdRepoint, cmdDelete);
}

void TfrmMissing::Fill(const QString& path, const QString& stamp, int32_t position) {
    pnlSrc->setText(path);
    pnlTime->setText(stamp);
    pnlPos->setText(QStringLiteral("%1 (%2)").arg(position).arg(FormatMinSec(position)));
}

TfrmMissing::Answer TfrmMissing::Ask() {
    cmdIgnore->setFocus();
    const int r = exec();
    return r == Repoint ? Repoint : r == Delete ? Delete : Ignore;
}

void TfrmMissing::SetBusy(bool busy) {
    cmdRepoint->setEnabled(!busy);
    cmdDelete->setEnabled(!busy);
}
