#include "playback/optionsfile.h"

#include "util/qorext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <cmath>

namespace {

enum : uint8_t {
    vaNull = 0,
    vaInt8 = 2,
    vaInt16 = 3,
    vaInt32 = 4,
    vaString = 6,
    vaIdent = 7,
    vaFalse = 8,
    vaTrue = 9,
    vaSet = 11,
    vaLString = 12,
    vaUTF8String = 20,
};

void putShortStr(QByteArray& out, const QByteArray& s) {
    out.append(char(uint8_t(std::min<qsizetype>(s.size(), 255))));
    out.append(s.left(255));
}

void putValue(QByteArray& out, const TPropValue& v) {
    switch (v.Type) {
    case TPropValue::Int:
        if (v.Number >= -128 && v.Number <= 127) {
            out.append(char(vaInt8));
            out.append(char(int8_t(v.Number)));
        } else if (v.Number >= -32768 && v.Number <= 32767) {
            char b[2];
            qToLittleEndian<int16_t>(int16_t(v.Number), b);
            out.append(char(vaInt16));
            out.append(b, 2);
        } else {
            char b[4];
            qToLittleEndian<int32_t>(v.Number, b);
            out.append(char(vaInt32));
            out.append(b, 4);
        }
        break;
    case TPropValue::String:
        if (v.Text.size() <= 255) {
            out.append(char(vaString));
            putShortStr(out, v.Text);
        } else {
            char b[4];
            qToLittleEndian<int32_t>(int32_t(v.Text.size()), b);
            out.append(char(vaLString));
            out.append(b, 4);
            out.append(v.Text);
        }
        break;
    case TPropValue::Ident:
        out.append(char(vaIdent));
        putShortStr(out, v.Text);
        break;
    case TPropValue::False:
        out.append(char(vaFalse));
        break;
    case TPropValue::True:
        out.append(char(vaTrue));
        break;
    case TPropValue::Set:
        out.append(char(vaSet));
        for (const QByteArray& item : v.Items)
            putShortStr(out, item);
        out.append(char(0));
        break;
    }
}

// A bounds-checked reader over the file's bytes.
struct Reader {
    const QByteArray& data;
    int& pos;
    bool ok = true;
    // Measured against what is left, so a huge length cannot wrap around.
    bool need(qint64 n) {
        if (!ok || n < 0 || n > data.size() - pos) ok = false;
        return ok;
    }
    uint8_t byte() {
        if (!need(1)) return 0;
        return uint8_t(data[pos++]);
    }
    // A negative length is damage too.
    QByteArray bytes(qint64 n) {
        if (!need(n)) return {};
        QByteArray b = data.mid(pos, n);
        pos += int(n);
        return b;
    }
    QByteArray shortStr() { return bytes(byte()); }
    int32_t int32() {
        if (!need(4)) return 0;
        int32_t v = qFromLittleEndian<int32_t>(data.constData() + pos);
        pos += 4;
        return v;
    }
    int16_t int16() {
        if (!need(2)) return 0;
        int16_t v = qFromLittleEndian<int16_t>(data.constData() + pos);
        pos += 2;
        return v;
    }
};

const QString kReadError = QStringLiteral("Stream read error");
const QString kInvalidValue = QStringLiteral("Invalid property value");

bool fail(QString* error, const QString& text) {
    if (error) *error = text;
    return false;
}

} // namespace

void WriteComponentImage(const TComponentImage& image, QByteArray& out) {
    out.append("TPF0", 4);
    putShortStr(out, image.ClassName);
    putShortStr(out, image.Name);
    for (const auto& prop : image.Props) {
        putShortStr(out, prop.first);
        putValue(out, prop.second);
    }
    out.append(char(0)); // end of properties
    out.append(char(0)); // end of child list
}

bool ReadComponentImage(const QByteArray& data, int& pos, TComponentImage& image, QString* error) {
    Reader r{data, pos};
    image = {};
    if (r.bytes(4) != "TPF0") return fail(error, QStringLiteral("Invalid stream format"));
    image.ClassName = r.shortStr();
    image.Name = r.shortStr();
    for (;;) {
        const QByteArray name = r.shortStr();
        if (!r.ok) return fail(error, kReadError);
        if (name.isEmpty()) break;
        TPropValue v;
        switch (r.byte()) {
        case vaInt8:
            v = TPropValue::Integer(int8_t(r.byte()));
            break;
        case vaInt16:
            v = TPropValue::Integer(r.int16());
            break;
        case vaInt32:
            v = TPropValue::Integer(r.int32());
            break;
        case vaString:
            v.Type = TPropValue::String;
            v.Text = r.shortStr();
            break;
        case vaLString:
        case vaUTF8String:
            v.Type = TPropValue::String;
            v.Text = r.bytes(r.int32());
            break;
        case vaIdent:
            v = TPropValue::Identifier(r.shortStr());
            break;
        case vaFalse:
            v = TPropValue::Bool(false);
            break;
        case vaTrue:
            v = TPropValue::Bool(true);
            break;
        case vaSet:
            v.Type = TPropValue::Set;
            for (;;) {
                const QByteArray item = r.shortStr();
                if (!r.ok || item.isEmpty()) break;
                v.Items.append(item);
            }
            break;
        default:
            if (!r.ok) return fail(error, kReadError);
            return fail(error, QStringLiteral("Error reading %1.%2: %3")
                                   .arg(QString::fromLatin1(image.Name), QString::fromLatin1(name),
                                        kInvalidValue));
        }
        if (!r.ok) return fail(error, kReadError);
        image.Props.append({name, v});
    }
    // No component owns children here; anything but an empty list is damage.
    const uint8_t children = r.byte();
    if (!r.ok) return fail(error, kReadError);
    if (children != 0) return fail(error, QStringLiteral("Invalid stream format"));
    return true;
}

int32_t HeightFromPoints(int points) {
    return -int32_t(std::lround(double(points) * 96.0 / 72.0));
}

int PointsFromHeight(int32_t height) {
    return int(std::lround(double(-height) * 72.0 / 96.0));
}

bool TFontProps::operator==(const TFontProps& o) const {
    return Name == o.Name && Height == o.Height && Bold == o.Bold && Italic == o.Italic &&
           Underline == o.Underline && StrikeOut == o.StrikeOut && Charset == o.Charset &&
           Color == o.Color;
}

TOptionsFile TOptionsFile::Designed() {
    TOptionsFile o;
    o.Panel.Caption = QStringLiteral("Arial - %1").arg(PointsFromHeight(-13));
    auto check = [](int top, int width, int tab, const char* caption, const char* hint) {
        TCheckProps c;
        c.Top = top;
        c.Width = width;
        c.TabOrder = tab;
        c.Caption = QString::fromLatin1(caption);
        c.Hint = QString::fromLatin1(hint);
        return c;
    };
    o.AlwaysInsert = check(104, 201, 2, "Always insert tag info in descriptions",
                           "if unchecked, use only if supplied alias/description is blank");
    o.AutoExtra = check(120, 281, 3, "Blank Track Seq/Track Title also auto-adds to edit list",
                        "normally only artist/author and album/book title are considered");
    o.MoreFormats = check(136, 281, 4, "Don't ignore wav, avi, mpg/mpeg,mid/midi files",
                          "normally only mp3 files are considered");
    return o;
}

namespace {

using Props = QVector<QPair<QByteArray, TPropValue>>;

Props panelProps(const TPanelProps& p) {
    Props out{{"Left", TPropValue::Integer(p.Left)},
              {"Top", TPropValue::Integer(p.Top)},
              {"Width", TPropValue::Integer(p.Width)},
              {"Height", TPropValue::Integer(p.Height)},
              {"BevelOuter", TPropValue::Identifier(p.BevelOuter)}};
    if (!p.Caption.isEmpty()) out.append({"Caption", TPropValue::Str(p.Caption)});
    if (p.FontSet) {
        QList<QByteArray> style;
        if (p.Font.Bold) style << "fsBold";
        if (p.Font.Italic) style << "fsItalic";
        if (p.Font.Underline) style << "fsUnderline";
        if (p.Font.StrikeOut) style << "fsStrikeOut";
        out.append({"Font.Charset", TPropValue::Identifier(p.Font.Charset)});
        out.append({"Font.Color", TPropValue::Identifier(p.Font.Color)});
        out.append({"Font.Height", TPropValue::Integer(p.Font.Height)});
        out.append({"Font.Name", TPropValue::Str(p.Font.Name)});
        out.append({"Font.Style", TPropValue::SetOf(style)});
        out.append({"ParentFont", TPropValue::Bool(false)});
    }
    out.append({"TabOrder", TPropValue::Integer(p.TabOrder)});
    return out;
}

Props checkProps(const TCheckProps& c) {
    Props out{{"Left", TPropValue::Integer(c.Left)},
              {"Top", TPropValue::Integer(c.Top)},
              {"Width", TPropValue::Integer(c.Width)},
              {"Height", TPropValue::Integer(c.Height)}};
    if (!c.Hint.isEmpty()) out.append({"Hint", TPropValue::Str(c.Hint)});
    if (!c.Caption.isEmpty()) out.append({"Caption", TPropValue::Str(c.Caption)});
    if (c.Checked) out.append({"Checked", TPropValue::Bool(true)});
    if (!c.ParentShowHint) out.append({"ParentShowHint", TPropValue::Bool(false)});
    if (c.ShowHint) out.append({"ShowHint", TPropValue::Bool(true)});
    if (c.Checked) out.append({"State", TPropValue::Identifier("cbChecked")});
    out.append({"TabOrder", TPropValue::Integer(c.TabOrder)});
    return out;
}

// Applies one entry; false when the property is unknown or its value has the wrong type.
struct Applier {
    const TPropValue& v;
    bool ok = true;
    void integer(int32_t& field) {
        if (v.Type == TPropValue::Int)
            field = v.Number;
        else
            ok = false;
    }
    void text(QString& field) {
        if (v.Type == TPropValue::String)
            field = QString::fromUtf8(v.Text);
        else
            ok = false;
    }
    void ident(QByteArray& field) {
        if (v.Type == TPropValue::Ident) field = v.Text;
        // A colour or character set may also be stored as its number.
        else if (v.Type == TPropValue::Int)
            field = QByteArray::number(v.Number);
        else
            ok = false;
    }
    void boolean(bool& field) {
        if (v.Type == TPropValue::True || v.Type == TPropValue::False)
            field = v.Type == TPropValue::True;
        else
            ok = false;
    }
};

enum class ApplyResult { Ok, Unknown, BadValue };

// Far above the 36 points (48 pixels) the font dialog allows.
constexpr int32_t kMaxFontPixels = 500;

ApplyResult applyPanel(TPanelProps& p, const QByteArray& name, const TPropValue& v) {
    Applier a{v};
    if (name == "Left")
        a.integer(p.Left);
    else if (name == "Top")
        a.integer(p.Top);
    else if (name == "Width")
        a.integer(p.Width);
    else if (name == "Height")
        a.integer(p.Height);
    else if (name == "BevelOuter")
        a.ident(p.BevelOuter);
    else if (name == "Caption")
        a.text(p.Caption);
    else if (name == "TabOrder")
        a.integer(p.TabOrder);
    else if (name == "ParentFont")
        a.boolean(p.ParentFont);
    else if (name.startsWith("Font.")) {
        p.FontSet = true;
        if (name == "Font.Charset")
            a.ident(p.Font.Charset);
        else if (name == "Font.Color")
            a.ident(p.Font.Color);
        else if (name == "Font.Height") {
            a.integer(p.Font.Height);
            // A negative pixel height; nothing, or a height no font dialog offers, is damage.
            if (p.Font.Height >= 0 || p.Font.Height < -kMaxFontPixels) a.ok = false;
        } else if (name == "Font.Name")
            a.text(p.Font.Name);
        else if (name == "Font.Style") {
            if (v.Type != TPropValue::Set) return ApplyResult::BadValue;
            p.Font.Bold = v.Items.contains("fsBold");
            p.Font.Italic = v.Items.contains("fsItalic");
            p.Font.Underline = v.Items.contains("fsUnderline");
            p.Font.StrikeOut = v.Items.contains("fsStrikeOut");
        } else
            return ApplyResult::Unknown;
    } else
        return ApplyResult::Unknown;
    return a.ok ? ApplyResult::Ok : ApplyResult::BadValue;
}

ApplyResult applyCheck(TCheckProps& c, const QByteArray& name, const TPropValue& v) {
    Applier a{v};
    if (name == "Left")
        a.integer(c.Left);
    else if (name == "Top")
        a.integer(c.Top);
    else if (name == "Width")
        a.integer(c.Width);
    else if (name == "Height")
        a.integer(c.Height);
    else if (name == "Hint")
        a.text(c.Hint);
    else if (name == "Caption")
        a.text(c.Caption);
    else if (name == "Checked")
        a.boolean(c.Checked);
    else if (name == "ParentShowHint")
        a.boolean(c.ParentShowHint);
    else if (name == "ShowHint")
        a.boolean(c.ShowHint);
    else if (name == "TabOrder")
        a.integer(c.TabOrder);
    else if (name == "State") {
        QByteArray state;
        a.ident(state);
        if (a.ok) c.Checked = state == "cbChecked";
    } else
        return ApplyResult::Unknown;
    return a.ok ? ApplyResult::Ok : ApplyResult::BadValue;
}

} // namespace

QByteArray TOptionsFile::ToBytes() const {
    QByteArray out;
    WriteComponentImage({"TPanel", "pnlFont", panelProps(Panel)}, out);
    WriteComponentImage({"TCheckBox", "chkAlwaysInsert", checkProps(AlwaysInsert)}, out);
    WriteComponentImage({"TCheckBox", "chkAutoExtra", checkProps(AutoExtra)}, out);
    WriteComponentImage({"TCheckBox", "chkMoreFormats", checkProps(MoreFormats)}, out);
    return out;
}

bool TOptionsFile::Apply(const QByteArray& data, QString* error) {
    TOptionsFile next = *this;
    TCheckProps* checks[] = {&next.AlwaysInsert, &next.AutoExtra, &next.MoreFormats};
    const char* names[] = {"pnlFont", "chkAlwaysInsert", "chkAutoExtra", "chkMoreFormats"};
    int pos = 0;
    for (int i = 0; i < 4; ++i) {
        TComponentImage image;
        if (!ReadComponentImage(data, pos, image, error)) return false;
        for (const auto& prop : image.Props) {
            const ApplyResult r = i == 0 ? applyPanel(next.Panel, prop.first, prop.second)
                                         : applyCheck(*checks[i - 1], prop.first, prop.second);
            if (r == ApplyResult::Ok) continue;
            return fail(error,
                        QStringLiteral("Error reading %1.%2: %3")
                            .arg(QString::fromLatin1(names[i]), QString::fromLatin1(prop.first),
                                 r == ApplyResult::Unknown
                                     ? QStringLiteral("Property %1 does not exist")
                                           .arg(QString::fromLatin1(prop.first))
                                     : kInvalidValue));
        }
    }
    *this = next;
    return true;
}

bool SaveOptionsFile(const QString& path, const TOptionsFile& options, QString* error) {
    return ReplaceFile(path, options.ToBytes(), error);
}

bool LoadOptionsFile(const QString& path, TOptionsFile& options, QString* error) {
    if (!QFileInfo::exists(path)) return true;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("Cannot read \"%1\": %2")
                               .arg(QDir::toNativeSeparators(path), f.errorString()));
    // Four small images; anything near this size is not an options file.
    const qint64 kMaxSize = 1 << 20;
    const QByteArray data = f.read(kMaxSize + 1);
    QString why = QStringLiteral("Stream read error");
    if (data.size() > kMaxSize || !options.Apply(data, &why))
        return fail(error, QStringLiteral("The options file \"%1\" is damaged: %2")
                               .arg(QDir::toNativeSeparators(path), why));
    return true;
}
