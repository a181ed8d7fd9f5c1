// Options file, tree file and store records from arbitrary bytes: never a
// crash, and whatever parses writes back to something that parses the same.
//
// The options file leaves out values equal to a control class's defaults and is
// read on top of the designed controls, so a file that sets such a value (a
// switch's hint turned off) comes back with the designed one: what must hold is
// that the switches and the font survive, and that the program's own output
// reads back to itself.

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
        const TCheckProps* before[] = {&options.AlwaysInsert, &options.AutoExtra,
                                       &options.MoreFormats};
        const TCheckProps* after[] = {&again.AlwaysInsert, &again.AutoExtra, &again.MoreFormats};
        for (int i = 0; i < 3; ++i)
            if (before[i]->Checked != after[i]->Checked) abort();
        if (again.Panel.FontSet != options.Panel.FontSet) abort();
        if (options.Panel.FontSet && !(again.Panel.Font == options.Panel.Font)) abort();
        const QByteArray written = again.ToBytes();
        TOptionsFile third = TOptionsFile::Designed();
        if (!third.Apply(written) || third.ToBytes() != written) abort();
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
