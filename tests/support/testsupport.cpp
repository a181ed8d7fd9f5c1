#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

namespace testsupport {

QString IsolatedHome() {
    // Removed when the test program ends (children that fork leave with _exit).
    static std::unique_ptr<QTemporaryDir> home;
    if (!home) {
        home = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                               QStringLiteral("/narrabel-home-XXXXXX"));
        const QByteArray h = home->path().toUtf8();
        setenv("HOME", h.constData(), 1);
        setenv("XDG_CONFIG_HOME", (h + "/.config").constData(), 1);
        setenv("XDG_DATA_HOME", (h + "/.local/share").constData(), 1);
        setenv("XDG_CACHE_HOME", (h + "/.cache").constData(), 1);
        unsetenv("XDG_DOCUMENTS_DIR");
    }
    return home->path();
}

std::unique_ptr<QTemporaryDir> MakeTempDir() {
    auto d = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/narrabel-XXXXXX"));
    EXPECT_TRUE(d->isValid());
    return d;
}

QString DataPath(const QString& relative) {
    return QStringLiteral(NARRABEL_TEST_DATA) + '/' + relative;
}

QString PeersPath(const QString& relative) {
    return QStringLiteral(NARRABEL_PEERS_DIR) + '/' + relative;
}

QString CopyFixture(const QString& source, const QString& dir, const QString& newName) {
    QString src = QFileInfo(source).isAbsolute() ? source : DataPath(source);
    QString dst = dir + '/' + (newName.isEmpty() ? QFileInfo(src).fileName() : newName);
    QFile::remove(dst);
    EXPECT_TRUE(QFile::copy(src, dst)) << src.toStdString();
    QFile::setPermissions(dst, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                   QFile::ReadOther);
    return dst;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

void WriteAll(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(data);
}

} // namespace testsupport
