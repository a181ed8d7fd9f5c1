#pragma once
// The options file "Narrabel.opt": four component property images back to back
// (the font panel and the three switches), each "TPF0", class name, component
// name, property entries in the controls' published order, and two 0 bytes.
// Only values that differ from a control's defaults are written; integers take
// the smallest form that holds them, strings past 255 bytes the long form.
//
// The options dialog turns its controls into a TOptionsFile and back; the
// geometry entries are kept and written as they came, the window itself lays
// its controls out for the platform's fonts.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>

// One value of a property image.
struct TPropValue {
    enum Kind { Int, String, Ident, False, True, Set } Type = Int;
    int32_t Number = 0;
    QByteArray Text;         // String (UTF-8) and Ident
    QList<QByteArray> Items; // Set
    static TPropValue Integer(int32_t v) {
        TPropValue p;
        p.Type = Int;
        p.Number = v;
        return p;
    }
    static TPropValue Str(const QString& s) {
        TPropValue p;
        p.Type = String;
        p.Text = s.toUtf8();
        return p;
    }
    static TPropValue Identifier(const QByteArray& s) {
        TPropValue p;
        p.Type = Ident;
        p.Text = s;
        return p;
    }
    static TPropValue Bool(bool b) {
        TPropValue p;
        p.Type = b ? True : False;
        return p;
    }
    static TPropValue SetOf(const QList<QByteArray>& items) {
        TPropValue p;
        p.Type = Set;
        p.Items = items;
        return p;
    }
};

struct TComponentImage {
    QByteArray ClassName;
    QByteArray Name;
    QVector<QPair<QByteArray, TPropValue>> Props;
};

// Appends one image ("TPF0" ... 0 0) to out.
void WriteComponentImage(const TComponentImage& image, QByteArray& out);
// Reads one image at pos (advanced past it). False with error on a damaged image.
bool ReadComponentImage(const QByteArray& data, int& pos, TComponentImage& image, QString* error);

// Font heights are negative pixel heights; sizes are points at 96 pixels per inch.
int32_t HeightFromPoints(int points);
int PointsFromHeight(int32_t height);

struct TFontProps {
    QString Name = QStringLiteral("Arial");
    int32_t Height = -13;
    bool Bold = false, Italic = false, Underline = false, StrikeOut = false;
    QByteArray Charset = "DEFAULT_CHARSET";
    QByteArray Color = "clWindowText";
    bool operator==(const TFontProps& o) const;
};

struct TPanelProps {
    int32_t Left = 8, Top = 24, Width = 377, Height = 33;
    QByteArray BevelOuter = "bvLowered";
    QString Caption;
    bool FontSet = false; // the font entries are written once a font was set
    TFontProps Font;
    bool ParentFont = true;
    int32_t TabOrder = 0;
};

struct TCheckProps {
    int32_t Left = 8, Top = 0, Width = 0, Height = 17;
    QString Hint, Caption;
    bool Checked = false;
    bool ParentShowHint = false, ShowHint = true;
    int32_t TabOrder = 0;
};

struct TOptionsFile {
    TPanelProps Panel;
    TCheckProps AlwaysInsert, AutoExtra, MoreFormats;

    // The controls as designed: all switches off, no font set.
    static TOptionsFile Designed();
    QByteArray ToBytes() const;
    // Applies the entries found to this object (absent ones keep their values).
    // A damaged file changes nothing and returns false with the reason.
    bool Apply(const QByteArray& data, QString* error = nullptr);
};

inline QString OptionsFileName() {
    return QStringLiteral("Narrabel.opt");
}
// Writes the file (replacing it in one step). False with error on failure.
bool SaveOptionsFile(const QString& path, const TOptionsFile& options, QString* error = nullptr);
// Reads and applies the file. A missing file is no error and changes nothing.
bool LoadOptionsFile(const QString& path, TOptionsFile& options, QString* error = nullptr);
