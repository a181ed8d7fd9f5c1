// narrabel-tag read FILE
// narrabel-tag write FILE [--artist T] [--album T] [--track T] [--title T]
//                         [--year T] [--genre T] [--comment T]
#include "tags/id3v2/id3v2.h"
#include "tags/mp3.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <cstdio>
#include <cstring>

namespace {

int Usage() {
    std::fputs("usage: narrabel-tag read FILE\n"
               "       narrabel-tag write FILE [--artist T] [--album T] [--track T] [--title T]\n"
               "                               [--year T] [--genre T] [--comment T]\n",
               stderr);
    return 2;
}

int Read(const QString& path) {
    ReadTag(path);
    const Tid3v2tag& tag = TagStore();
    const TMP3Rec& r = CurrentTag();
    QJsonObject o;
    o.insert(QStringLiteral("result"), int(tag.LastLoadCode()));
    o.insert(QStringLiteral("version"), int(tag.Version()));
    o.insert(QStringLiteral("revision"), int(tag.Revision()));
    o.insert(QStringLiteral("tagSize"), qint64(tag.TagSize()));
    o.insert(QStringLiteral("padding"), qint64(tag.PaddingSize()));
    QJsonArray frames;
    const TFrameIndex& list = tag.Frames();
    for (int i = 1; i <= list.Count(); ++i) {
        const TFrameEntry& e = list.Entry(i);
        QJsonObject f;
        f.insert(QStringLiteral("id"), list.GetID(i));
        f.insert(QStringLiteral("size"), qint64(e.Data.size()));
        f.insert(QStringLiteral("statusFlags"), int(e.StoredFlags[fbStatus]));
        f.insert(QStringLiteral("formatFlags"), int(e.StoredFlags[fbFormat]));
        frames.append(f);
    }
    o.insert(QStringLiteral("frames"), frames);
    for (const TTagField& f : TagFields)
        o.insert(QLatin1String(f.Name), r.*f.Field);
    std::fputs(QJsonDocument(o).toJson(QJsonDocument::Indented).constData(), stdout);
    return tag.LastLoadCode() < 256 ? 0 : 1;
}

int Write(const QString& path, int argc, char** argv) {
    ReadTag(path);
    TMP3Rec& r = CurrentTag();
    for (int k = 0; k < argc; ++k) {
        bool known = false;
        for (const TTagField& f : TagFields) {
            if (std::strncmp(argv[k], "--", 2) != 0 || std::strcmp(argv[k] + 2, f.Name) != 0)
                continue;
            if (k + 1 >= argc) return Usage();
            r.*f.Field = QString::fromUtf8(argv[++k]);
            known = true;
            break;
        }
        if (!known) return Usage();
    }
    const int rc = SaveCurrentTag(path);
    std::printf("%d\n", rc);
    if (rc >= 256) {
        std::fputs("Error saving tag info.\n", stderr);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const QString path = QString::fromUtf8(argv[2]);
    if (std::strcmp(argv[1], "read") == 0 && argc == 3) return Read(path);
    if (std::strcmp(argv[1], "write") == 0) return Write(path, argc - 3, argv + 3);
    return Usage();
}
