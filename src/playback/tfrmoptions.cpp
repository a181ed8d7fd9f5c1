#include "playback/tfrmoptions.h"

#include "ui/widgets.h"
#include "util/dialogs.h"
#include "util/options.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// The tree's designed font, where the panel starts so the tree keeps it until
// the user picks another.
QFont designedTreeFont() {
    return TfrmOptions::FontFromProps(TFontProps{});
}

QCheckBox* makeCheck(QWidget* parent, const char* name, const TCheckProps& props) {
    auto* c = new QCheckBox(props.Caption, parent);
    c->setObjectName(QLatin1String(name));
    c->setToolTip(props.Hint);
    return c;
}

} // namespace

TfrmOptions::TfrmOptions(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("Options"));
    kept = TOptionsFile::Designed();

    lblTVFont = new QLabel(QStringLiteral("Tree view font"), this);
    lblTVFont->setObjectName(QStringLiteral("lblTVFont"));
    pnlFont = new QLabel(this);
    pnlFont->setObjectName(QStringLiteral("pnlFont"));
    pnlFont->setFrameStyle(QFrame::Panel | QFrame::Sunken); // bvLowered
    pnlFont->setAlignment(Qt::AlignCenter);
    pnlFont->setMinimumHeight(33);
    pnlFont->setFont(designedTreeFont());
    treeFont = pnlFont->font();
    pnlFont->setText(kept.Panel.Caption);
    lblTVFont->setBuddy(pnlFont);
    cmdFont = new QPushButton(QStringLiteral("Set &Font"), this);
    cmdFont->setObjectName(QStringLiteral("cmdFont"));
    cmdFont->setAutoDefault(false);
    chkAlwaysInsert = makeCheck(this, "chkAlwaysInsert", kept.AlwaysInsert);
    chkAutoExtra = makeCheck(this, "chkAutoExtra", kept.AutoExtra);
    chkMoreFormats = makeCheck(this, "chkMoreFormats", kept.MoreFormats);
    auto listening = [this](const char* name, const char* caption, const char* hint) {
        auto* c = new QCheckBox(QString::fromUtf8(caption), this);
        c->setObjectName(QLatin1String(name));
        c->setToolTip(QString::fromUtf8(hint));
        return c;
    };
    chkPlayOn = listening("chkPlayOn", "Play on into the next file of the folder",
                          "at the end of a file, the next file of the book plays (disc folders "
                          "such as \"CD 2\" included)");
    chkRememberPlaces =
        listening("chkRememberPlaces", "Remember my place in every file",
                  "Prev, Next, the recent list and Browse start a file where you left it");
    chkSmartRewind = listening("chkSmartRewind", "Rewind a little after a long pause",
                               "3 s after a minute, 10 s after an hour, 20 s after a day");
    cmdClose = new QPushButton(QStringLiteral("&Close"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setAutoDefault(false);

    // Laid out for the platform's fonts rather than at the designed pixels, so
    // no caption is clipped.
    auto* root = new QVBoxLayout(this);
    root->addWidget(lblTVFont);
    root->addWidget(pnlFont);
    auto* fontRow = new QHBoxLayout;
    fontRow->addWidget(cmdFont);
    fontRow->addStretch(1);
    root->addLayout(fontRow);
    root->addSpacing(6);
    root->addWidget(chkAlwaysInsert);
    root->addWidget(chkAutoExtra);
    root->addWidget(chkMoreFormats);
    root->addSpacing(6);
    root->addWidget(chkPlayOn);
    root->addWidget(chkRememberPlaces);
    root->addWidget(chkSmartRewind);
    root->addStretch(1);
    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch(1);
    closeRow->addWidget(cmdClose);
    root->addLayout(closeRow);
    setTabOrder(cmdFont, chkAlwaysInsert);
    setTabOrder(chkAlwaysInsert, chkAutoExtra);
    setTabOrder(chkAutoExtra, chkMoreFormats);
    setTabOrder(chkMoreFormats, chkPlayOn);
    setTabOrder(chkPlayOn, chkRememberPlaces);
    setTabOrder(chkRememberPlaces, chkSmartRewind);
    setTabOrder(chkSmartRewind, cmdClose);
    const QSize hint = sizeHint().expandedTo(QSize(399, 180));
    setFixedSize(hint);

    connect(cmdFont, &QPushButton::clicked, this, [this] { cmdFontClick(); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { cmdCloseClick(); });
    for (QCheckBox* c : {chkAlwaysInsert, chkAutoExtra, chkMoreFormats})
        connect(c, &QCheckBox::toggled, this, [this] { syncSwitches(); });
    syncSwitches();
    showListening();
    for (QCheckBox* c : {chkPlayOn, chkRememberPlaces, chkSmartRewind})
        connect(c, &QCheckBox::toggled, this, [this] {
            AppOptions().PlayOn = chkPlayOn->isChecked();
            AppOptions().RememberPlaces = chkRememberPlaces->isChecked();
            AppOptions().SmartRewind = chkSmartRewind->isChecked();
        });
}

void TfrmOptions::syncSwitches() {
    AppOptions().AlwaysInsert = chkAlwaysInsert->isChecked();
    AppOptions().AutoExtra = chkAutoExtra->isChecked();
    AppOptions().MoreFormats = chkMoreFormats->isChecked();
}

void TfrmOptions::showListening() {
    const TOptions o = AppOptions(); // a box set here must not write the others back
    chkPlayOn->setChecked(o.PlayOn);
    chkRememberPlaces->setChecked(o.RememberPlaces);
    chkSmartRewind->setChecked(o.SmartRewind);
}

int TfrmOptions::FontPoints(const QFont& font) {
    if (font.pixelSize() > 0) return PointsFromHeight(-font.pixelSize());
    return font.pointSize();
}

QFont TfrmOptions::FontFromProps(const TFontProps& p) {
    QFont f(p.Name);
    f.setPixelSize(std::max(1, -p.Height));
    f.setBold(p.Bold);
    f.setItalic(p.Italic);
    f.setUnderline(p.Underline);
    f.setStrikeOut(p.StrikeOut);
    return f;
}

TFontProps TfrmOptions::PropsFromFont(const QFont& font) {
    TFontProps p;
    p.Name = font.family();
    p.Height = font.pixelSize() > 0 ? -font.pixelSize() : HeightFromPoints(font.pointSize());
    p.Bold = font.bold();
    p.Italic = font.italic();
    p.Underline = font.underline();
    p.StrikeOut = font.strikeOut();
    return p;
}

TOptionsFile TfrmOptions::Options() const {
    TOptionsFile o = kept;
    o.Panel.Caption = pnlFont->text();
    if (o.Panel.FontSet) {
        TFontProps font = PropsFromFont(pnlFont->font());
        font.Charset = kept.Panel.Font.Charset;
        font.Color = kept.Panel.Font.Color;
        o.Panel.Font = font;
    }
    o.AlwaysInsert.Checked = chkAlwaysInsert->isChecked();
    o.AutoExtra.Checked = chkAutoExtra->isChecked();
    o.MoreFormats.Checked = chkMoreFormats->isChecked();
    return o;
}

void TfrmOptions::SetOptions(const TOptionsFile& options) {
    kept = options;
    pnlFont->setText(options.Panel.Caption);
    if (options.Panel.FontSet) pnlFont->setFont(FontFromProps(options.Panel.Font));
    chkAlwaysInsert->setChecked(options.AlwaysInsert.Checked);
    chkAutoExtra->setChecked(options.AutoExtra.Checked);
    chkMoreFormats->setChecked(options.MoreFormats.Checked);
    chkAlwaysInsert->setToolTip(options.AlwaysInsert.Hint);
    chkAutoExtra->setToolTip(options.AutoExtra.Hint);
    chkMoreFormats->setToolTip(options.MoreFormats.Hint);
    syncSwitches();
}

QFont TfrmOptions::PanelFont() const {
    return pnlFont->font();
}

bool TfrmOptions::event(QEvent* event) {
    // Esc belongs to this window: the main window's own Esc (close the program)
    // must not see it first.
    if (event->type() == QEvent::ShortcutOverride &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        event->accept();
        return true;
    }
    return QDialog::event(event);
}

void TfrmOptions::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!centred) {
        centred = true;
        CenterOnScreen(this);
    }
    FormActivate();
}

void TfrmOptions::FormActivate() {
    showListening();
    // Names the tree's font; the panel keeps its own.
    pnlFont->setText(treeFont.family() + QStringLiteral(" - ") +
                     QString::number(FontPoints(treeFont)));
}

void TfrmOptions::cmdFontClick() {
    const std::optional<QString> chosen = Dlg().ChooseFont(pnlFont->font().toString(), 36);
    if (!chosen) return;
    QFont f;
    if (!f.fromString(*chosen)) return;
    const int points = FontPoints(f);
    if (points < 1 || points > 36) return; // the dialog allows no larger size
    f.setPixelSize(-HeightFromPoints(points));
    pnlFont->setFont(f);
    pnlFont->setText(f.family() + QStringLiteral(" - ") + QString::number(points));
    kept.Panel.FontSet = true;
    kept.Panel.ParentFont = false;
}

void TfrmOptions::cmdCloseClick() {
    close();
}

void TfrmOptions::FormClose() {
    treeFont = pnlFont->font();
    emit TreeFontChosen(treeFont);
}

void TfrmOptions::done(int result) {
    // Close, Esc and the window's own close button all end here.
    FormClose();
    QDialog::done(result);
}
