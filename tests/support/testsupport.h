#pragma once
// Shared test helpers: a private HOME and XDG folders per test program, fixture
// copies, and small file helpers.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <ostream>

namespace testsupport {

// Points HOME and XDG_* at a fresh temporary folder (called once per program,
// before anything reads them) and returns it.
QString IsolatedHome();
// A fresh temporary folder, removed with the returned object.
std::unique_ptr<QTemporaryDir> MakeTempDir();
// Copies a file from tests/data (or any absolute path) into dir; returns the copy's path.
QString CopyFixture(const QString& source, const QString& dir, const QString& newName = {});
QByteArray ReadAll(const QString& path);
void WriteAll(const QString& path, const QByteArray& data);
QString DataPath(const QString& relative);
QString PeersPath(const QString& relative);

} // namespace testsupport

// Failed comparisons of texts print the text.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
