#pragma once
// ID3v2 test helpers: the byte builders and test files in a temporary folder.

#include "id3v2_bytes.h"
#include "support/testsupport.h"

#include <QByteArray>
#include <QString>

namespace id3test {

// Test files written into a fresh temporary folder.
class TempFiles {
protected:
    std::unique_ptr<QTemporaryDir> dir = testsupport::MakeTempDir();
    QString Put(const QByteArray& bytes, const QString& name = QStringLiteral("t.mp3")) {
        const QString p = dir->path() + '/' + name;
        testsupport::WriteAll(p, bytes);
        return p;
    }
};

} // namespace id3test
