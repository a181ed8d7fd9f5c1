#include "app/application.h"
#include "app/program.h"
#include "app/tfrmmain.h"
#include "bookmarks/bookmark.h"
#include "diag/tfrmdebug.h"
#include "support/guitestsupport.h"
#include "util/qorext.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace testsupport;

namespace {

class DebugView : public WindowsTest {
protected:
    QPlainTextEdit* mem() const { return frmDebug->findChild<QPlainTextEdit*>("mem"); }
    void clickData() {
        QTest::mouseClick(frmDebug->findChild<QPushButton*>("cmdData"), Qt::LeftButton);
    }
    QStringList lines() const {
        const QString text = mem()->toPlainText();
        return text.isEmpty() ? QStringList() : text.split('\n');
    }
    void addBookmark(const QString& file, int32_t pos, const QString& desc) {
        TBookmark bm;
        bm.Rec.FilePath = file;
        bm.Rec.Position = pos;
        bm.Rec.Description = desc;
        TWriteContext ctx;
        ctx.Now = QDateTime(QDate(2024, 1, 1), QTime(10, 0));
        ASSERT_TRUE(WriteBookmark(bm, app->StorePath, ctx));
    }
};

TEST_F(DebugView, Controls) {
    StartProgram();
    EXPECT_EQ(frmDebug->windowTitle(), "Debug");
    EXPECT_EQ(frmDebug->findChild<QPushButton*>("cmdData")->text(), "&Data");
    EXPECT_EQ(frmDebug->findChild<QPushButton*>("cmdClose")->text(), "Close");
    ASSERT_NE(frmDebug->findChild<QWidget*>("pnlTop"), nullptr);
    ASSERT_NE(mem(), nullptr);
    EXPECT_TRUE(mem()->isReadOnly());
    EXPECT_EQ(mem()->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_TRUE(mem()->font().bold());
    EXPECT_EQ(mem()->font().pixelSize(), 20);
    EXPECT_EQ(mem()->font().family(), "Courier New");
}

TEST_F(DebugView, ListsEveryRecordAndReplacesTheListing) {
    StartProgram();
    frmDebug->show();
    clickData(); // no store yet
    EXPECT_TRUE(lines().isEmpty());
    WriteAll(app->StorePath, {});
    clickData();
    EXPECT_TRUE(lines().isEmpty());

    addBookmark("/books/a.mp3", 576487, "alias");
    addBookmark(QString(254, 'p'), 1, QString(240, 'd'));
    TBookmark gone(app->StorePath, 1);
    ASSERT_TRUE(MarkDeleted(gone, app->StorePath, QDateTime(QDate(2024, 1, 2), QTime(8, 5))));
    QFile f(app->StorePath);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(QByteArray(100, 'x')); // a torn record is not listed
    f.close();

    clickData();
    clickData(); // the second listing replaces the first
    const QStringList l = lines();
    ASSERT_EQ(l.size(), 2);
    EXPECT_TRUE(l[0].startsWith("00000001 - 000000576487 - 20240102 08:05 - *" + QString(253, ' ') +
                                " - alias {09:36} [00000001] {09:36} [00000001]"))
        << l[0].toStdString();
    EXPECT_TRUE(l[0].endsWith("Narrabel bookmarks"));
    const QString desc2 = TBookmark(app->StorePath, 2).Rec.Description;
    ASSERT_EQ(desc2.size(), 254);
    EXPECT_EQ(l[1], "00000002 - 000000000001 - 20240101 10:00 - " + QString(254, 'p') + " - " +
                        desc2 + "Narrabel bookmarks");

    QTest::mouseClick(frmDebug->findChild<QPushButton*>("cmdClose"), Qt::LeftButton);
    EXPECT_FALSE(frmDebug->isVisible());
    EXPECT_EQ(lines().size(), 2); // kept until the next listing
}

} // namespace
