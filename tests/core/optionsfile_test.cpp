#include "playback/optionsfile.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// Builds expected bytes by hand, independently of the writer.
struct Bytes {
    QByteArray b;
    Bytes& raw(std::initializer_list<int> bytes) {
        for (int x : bytes)
            b.append(char(uint8_t(x)));
        return *this;
    }
    Bytes& str(const QByteArray& s) {
        b.append(char(s.size()));
        b.append(s);
        return *this;
    }
    Bytes& prop(const QByteArray& name) { return str(name); }
};

QByteArray CheckImage(const QByteArray& name, int top, std::initializer_list<int> width,
                      const QByteArray& hint, const QByteArray& caption, bool checked, int tab) {
    Bytes x;
    x.b = "TPF0";
    x.str("TCheckBox").str(name);
    x.prop("Left").raw({2, 8});
    if (top <= 127)
        x.prop("Top").raw({2, top});
    else
        x.prop("Top").raw({3, top & 0xFF, top >> 8});
    x.prop("Width").raw(width);
    x.prop("Height").raw({2, 17});
    x.prop("Hint").raw({6}).str(hint);
    x.prop("Caption").raw({6}).str(caption);
    if (checked) x.prop("Checked").raw({9});
    x.prop("ParentShowHint").raw({8});
    x.prop("ShowHint").raw({9});
    if (checked) x.prop("State").raw({7}).str("cbChecked");
    x.prop("TabOrder").raw({2, tab});
    x.raw({0, 0});
    return x.b;
}

QByteArray ExpectedFile(bool fontSet, bool a, bool b, bool c) {
    Bytes p;
    p.b = "TPF0";
    p.str("TPanel").str("pnlFont");
    p.prop("Left").raw({2, 8});
    p.prop("Top").raw({2, 24});
    p.prop("Width").raw({3, 0x79, 0x01});
    p.prop("Height").raw({2, 33});
    p.prop("BevelOuter").raw({7}).str("bvLowered");
    if (fontSet) {
        p.prop("Caption").raw({6}).str("Arial - 12");
        p.prop("Font.Charset").raw({7}).str("DEFAULT_CHARSET");
        p.prop("Font.Color").raw({7}).str("clWindowText");
        p.prop("Font.Height").raw({2, 0xF0});
        p.prop("Font.Name").raw({6}).str("Arial");
        p.prop("Font.Style").raw({11}).str("fsBold").raw({0});
        p.prop("ParentFont").raw({8});
    } else {
        p.prop("Caption").raw({6}).str("Arial - 10");
    }
    p.prop("TabOrder").raw({2, 0});
    p.raw({0, 0});
    return p.b +
           CheckImage("chkAlwaysInsert", 104, {3, 201, 0},
                      "if unchecked, use only if supplied alias/description is blank",
                      "Always insert tag info in descriptions", a, 2) +
           CheckImage("chkAutoExtra", 120, {3, 0x19, 0x01},
                      "normally only artist/author and album/book title are considered",
                      "Blank Track Seq/Track Title also auto-adds to edit list", b, 3) +
           CheckImage("chkMoreFormats", 136, {3, 0x19, 0x01},
                      "normally only mp3 files are considered",
                      "Don't ignore wav, avi, mpg/mpeg,mid/midi files", c, 4);
}

TOptionsFile ArialTwelveBoldTwoSwitches() {
    TOptionsFile o = TOptionsFile::Designed();
    o.Panel.FontSet = true;
    o.Panel.Font.Name = "Arial";
    o.Panel.Font.Height = HeightFromPoints(12);
    o.Panel.Font.Bold = true;
    o.Panel.Caption = "Arial - 12";
    o.AlwaysInsert.Checked = true;
    o.MoreFormats.Checked = true;
    return o;
}

TEST(OptionsFile, ArialTwelveBoldAndTwoSwitchesByteForByte) {
    const TOptionsFile o = ArialTwelveBoldTwoSwitches();
    EXPECT_EQ(o.Panel.Font.Height, -16);
    EXPECT_EQ(o.ToBytes(), ExpectedFile(true, true, false, true));

    TOptionsFile back = TOptionsFile::Designed();
    QString err;
    ASSERT_TRUE(back.Apply(o.ToBytes(), &err)) << err.toStdString();
    EXPECT_TRUE(back.Panel.FontSet);
    EXPECT_EQ(back.Panel.Font, o.Panel.Font);
    EXPECT_FALSE(back.Panel.ParentFont);
    EXPECT_EQ(back.Panel.Caption, "Arial - 12");
    EXPECT_TRUE(back.AlwaysInsert.Checked);
    EXPECT_FALSE(back.AutoExtra.Checked);
    EXPECT_TRUE(back.MoreFormats.Checked);
    EXPECT_EQ(back.ToBytes(), o.ToBytes());
}

TEST(OptionsFile, AllSwitchesOffHoldsNoCheckedOrState) {
    const QByteArray data = TOptionsFile::Designed().ToBytes();
    EXPECT_EQ(data, ExpectedFile(false, false, false, false));
    EXPECT_FALSE(data.contains("Checked"));
    EXPECT_FALSE(data.contains("State"));
    EXPECT_FALSE(data.contains("Font."));
    // Reading it leaves the switches as they are.
    TOptionsFile on = TOptionsFile::Designed();
    on.AutoExtra.Checked = true;
    ASSERT_TRUE(on.Apply(data));
    EXPECT_TRUE(on.AutoExtra.Checked);
}

TEST(OptionsFile, IntegerFormsAndLongStrings) {
    const struct {
        int32_t v;
        QByteArray bytes;
    } cases[] = {
        {0, QByteArray("\x02\x00", 2)},
        {-1, QByteArray("\x02\xFF", 2)},
        {127, QByteArray("\x02\x7F", 2)},
        {-128, QByteArray("\x02\x80", 2)},
        {128, QByteArray("\x03\x80\x00", 3)},
        {-129, QByteArray("\x03\x7F\xFF", 3)},
        {32767, QByteArray("\x03\xFF\x7F", 3)},
        {32768, QByteArray("\x04\x00\x80\x00\x00", 5)},
        {-32769, QByteArray("\x04\xFF\x7F\xFF\xFF", 5)},
    };
    for (const auto& c : cases) {
        QByteArray out;
        WriteComponentImage({"T", "n", {{"P", TPropValue::Integer(c.v)}}}, out);
        EXPECT_EQ(out, QByteArray("TPF0\x01T\x01n\x01P", 10) + c.bytes + QByteArray(2, '\0'))
            << c.v;
        int pos = 0;
        TComponentImage back;
        ASSERT_TRUE(ReadComponentImage(out, pos, back, nullptr));
        EXPECT_EQ(back.Props.at(0).second.Number, c.v);
        EXPECT_EQ(pos, out.size());
    }
    for (int len : {255, 256, 300}) {
        QByteArray out;
        WriteComponentImage({"T", "n", {{"P", TPropValue::Str(QString(len, 'c'))}}}, out);
        if (len <= 255) {
            EXPECT_EQ(out.at(10), char(6));
            EXPECT_EQ(uint8_t(out.at(11)), len);
        } else {
            EXPECT_EQ(out.mid(10, 5), QByteArray("\x0C", 1) + QByteArray(1, char(len & 0xFF)) +
                                          QByteArray(1, char(len >> 8)) + QByteArray(2, '\0'));
        }
        TOptionsFile o = TOptionsFile::Designed();
        o.Panel.Caption = QString(len, 'c');
        TOptionsFile back = TOptionsFile::Designed();
        ASSERT_TRUE(back.Apply(o.ToBytes()));
        EXPECT_EQ(back.Panel.Caption.size(), len);
    }
}

TEST(OptionsFile, DamagedFilesChangeNothing) {
    const QByteArray good = ArialTwelveBoldTwoSwitches().ToBytes();
    // Every cut of a good file is damaged.
    for (int len = 0; len < good.size(); ++len) {
        TOptionsFile o = TOptionsFile::Designed();
        QString err;
        ASSERT_FALSE(o.Apply(good.left(len), &err)) << len;
        EXPECT_FALSE(err.isEmpty());
        EXPECT_FALSE(o.Panel.FontSet);
        EXPECT_FALSE(o.AlwaysInsert.Checked);
    }
    // The panel's image with one property.
    auto panelWith = [](const QByteArray& property, std::initializer_list<int> value) {
        Bytes x;
        x.b = "TPF0";
        return x.str("TPanel").str("pnlFont").prop(property).raw(value).raw({0, 0}).b;
    };
    const struct {
        QByteArray data;
        const char* error;
    } cases[] = {
        {"TPF1" + good.mid(4), "Invalid stream format"},
        // Long strings whose length runs past the file, or is negative.
        {panelWith("Caption", {12, 0xF0, 0xFF, 0xFF, 0x7F}), "Stream read error"},
        {panelWith("Caption", {12, 0xFB, 0xFF, 0xFF, 0xFF}), "Stream read error"},
        {panelWith("Caption", {20, 0xF0, 0xFF, 0xFF, 0x7F}), "Stream read error"},
        // A font of no height, a positive one, or one no dialog offers.
        {panelWith("Font.Height", {2, 0}),
         "Error reading pnlFont.Font.Height: Invalid property value"},
        {panelWith("Font.Height", {2, 13}),
         "Error reading pnlFont.Font.Height: Invalid property value"},
        {panelWith("Font.Height", {4, 0x60, 0x79, 0xFE, 0xFF}),
         "Error reading pnlFont.Font.Height: Invalid property value"},
        {QByteArray(good).replace("ShowHint", "ShowHunt"),
         "Error reading chkAlwaysInsert.ParentShowHunt: Property ParentShowHunt does not exist"},
        {QByteArray("TPF0\x06TPanel\x07pnlFont\x0B"
                    "Font.Height\x06\x01x\x00\x00",
                    36),
         "Error reading pnlFont.Font.Height: Invalid property value"},
        {QByteArray("TPF0\x06TPanel\x07pnlFont\x04Left\x05\x00\x00", 27),
         "Error reading pnlFont.Left: Invalid property value"},
    };
    for (const auto& c : cases) {
        TOptionsFile o = TOptionsFile::Designed();
        QString err;
        EXPECT_FALSE(o.Apply(c.data, &err));
        EXPECT_EQ(err, c.error);
    }
}

TEST(OptionsFile, SaveAndLoad) {
    auto dir = MakeTempDir();
    const QString path = dir->path() + "/Narrabel.opt";
    TOptionsFile o = TOptionsFile::Designed();
    EXPECT_TRUE(LoadOptionsFile(path, o)); // missing: nothing happens
    EXPECT_FALSE(o.Panel.FontSet);
    ASSERT_TRUE(SaveOptionsFile(path, ArialTwelveBoldTwoSwitches()));
    EXPECT_EQ(ReadAll(path), ExpectedFile(true, true, false, true));
    ASSERT_TRUE(LoadOptionsFile(path, o));
    EXPECT_TRUE(o.MoreFormats.Checked);
    WriteAll(path, "junk");
    QString err;
    EXPECT_FALSE(LoadOptionsFile(path, o, &err));
    EXPECT_TRUE(err.contains("damaged")) << err.toStdString();
    EXPECT_FALSE(SaveOptionsFile(dir->path() + "/no/such/Narrabel.opt", o, &err));
}

TEST(OptionsFile, PointsAndHeights) {
    const struct {
        int points;
        int32_t height;
    } cases[] = {{8, -11}, {10, -13}, {12, -16}, {36, -48}};
    for (const auto& c : cases) {
        EXPECT_EQ(HeightFromPoints(c.points), c.height);
        EXPECT_EQ(PointsFromHeight(c.height), c.points);
    }
}

} // namespace
