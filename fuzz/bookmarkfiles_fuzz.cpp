// Options file, tree file and store records from arbitrary bytes: never a
// crash, and whatever parses writes back to something that parses the same.

#include "bookmarks/bookmark.h"
#include "bookmarks/treefile.h"
#include "playback/optionsfile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));

    TOptionsFile options = TOptionsFile::Designed();
    if (options.Apply(bytes)) {
        TOptionsFile again = TOptionsFile::Designed();
        if (!again.Apply(options.ToBytes())) abort();
        if (again.ToBytes() != options.ToBytes()) abort();
    }

    QVector<TTreeLine> nodes;
    if (ParseTreeText(bytes, nodes)) {
        QVector<TTreeLine> back;
        if (!ParseTreeText(RenderTreeText(nodes), back)) abort();
    }

    if (size >= size_t(TBookmarkRec::Size)) {
        const TBookmarkRec rec = TBookmarkRec::FromBytes(bytes.constData());
        const TBookmarkRec again = TBookmarkRec::FromBytes(rec.ToBytes().constData());
        if (again.FilePath != CutUtf8(rec.FilePath, 254) || again.RecNo != rec.RecNo) abort();
        (void)NodeRecordNumber(rec.Description);
    }
    return 0;
}
