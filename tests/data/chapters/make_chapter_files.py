#!/usr/bin/python3
"""Writes the chapter test files into the folder given, one of each way a
chapter list comes: ffmpeg's MP4 chapters (the QuickTime chapter track and the
Nero list together, and the track alone), a Nero list alone and a chapter track
of UTF-16 titles (both written here),
ID3v2 CHAP frames by mutagen (v2.3 and v2.4, with and without a table of
contents, out of time order), CHAPTERxx comments in Opus and FLAC, Matroska
chapters, 300 chapters, 20,000 chapters and a lone chapter. Each file is a
minute of silence (20,000 chapters: ten minutes).
    make_chapter_files.py FOLDER"""
import os
import struct
import subprocess
import sys

from mutagen.flac import FLAC
from mutagen.id3 import CHAP, CTOC, ID3, TIT2, CTOCFlags
from mutagen.oggopus import OggOpus

SECONDS = 60


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", *args], check=True)


def silence(rate, seconds=SECONDS):
    return ["-f", "lavfi", "-t", str(seconds), "-i", "anullsrc=r=%d:cl=mono" % rate]


def metadata(folder, name, chapters, length_ms=SECONDS * 1000):
    """An ffmetadata file; chapters are (start ms, title)."""
    path = os.path.join(folder, name)
    lines = [";FFMETADATA1"]
    for i, (start, title) in enumerate(chapters):
        end = chapters[i + 1][0] if i + 1 < len(chapters) else length_ms
        lines += ["[CHAPTER]", "TIMEBASE=1/1000", "START=%d" % start, "END=%d" % end,
                  "title=" + title]
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    return path


def mp4(folder, name, chapters, *flags):
    meta = metadata(folder, name + ".txt", chapters)
    ffmpeg(*silence(8000), "-i", meta, "-map", "0", "-map_chapters", "1", "-c:a", "aac",
           "-b:a", "8k", *flags, os.path.join(folder, name))


def boxes(data, start, end):
    at = start
    while at + 8 <= end:
        size, kind = struct.unpack(">I4s", data[at:at + 8])
        yield at, size, kind
        at += size


def add_nero_list(path, chapters):
    """Appends moov/udta/chpl (version 1, 100 ns units) to an MP4 whose moov
    box comes last, so that no sample offset moves."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    moov = [(at, size) for at, size, kind in boxes(data, 0, len(data)) if kind == b"moov"]
    at, size = moov[-1]
    assert at + size == len(data), "moov is not the last box"
    body = bytes([1, 0, 0, 0]) + bytes(4) + bytes([len(chapters)])
    for start, title in chapters:
        t = title.encode("utf-8")
        body += struct.pack(">QB", start * 10000, len(t)) + t
    chpl = struct.pack(">I4s", 8 + len(body), b"chpl") + body
    udta = struct.pack(">I4s", 8 + len(chpl), b"udta") + chpl
    data[at:at + 4] = struct.pack(">I", size + len(udta))
    with open(path, "wb") as f:
        f.write(data + udta)


def utf16_titles(path, titles):
    """Gives the QuickTime chapter track of an MP4 (in one chunk) new titles:
    UTF-16 with a byte order mark, big- and little-endian by turns, each with
    the "encd" box QuickTime writes after it, in media data appended to the
    file."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    stsz, stco = data.rindex(b"stsz") - 4, data.rindex(b"stco") - 4
    assert struct.unpack(">II", data[stsz + 12:stsz + 20]) == (0, len(titles))
    assert struct.unpack(">I", data[stco + 12:stco + 16]) == (1,)
    encd = struct.pack(">I4sI", 12, b"encd", 0x100)
    samples = []
    for i, title in enumerate(titles):
        text = b"\xfe\xff" + title.encode("utf-16-be") if i % 2 == 0 else \
            b"\xff\xfe" + title.encode("utf-16-le")
        samples.append(struct.pack(">H", len(text)) + text + encd)
    for i, sample in enumerate(samples):
        data[stsz + 20 + 4 * i:stsz + 24 + 4 * i] = struct.pack(">I", len(sample))
    data[stco + 16:stco + 20] = struct.pack(">I", len(data) + 8)
    media = b"".join(samples)
    with open(path, "wb") as f:
        f.write(data + struct.pack(">I4s", 8 + len(media), b"mdat") + media)


def id3(folder, name, version, toc):
    path = os.path.join(folder, name)
    ffmpeg(*silence(8000), "-c:a", "libmp3lame", "-b:a", "8k", path)
    tags = ID3()
    # Out of time order; the last has no title of its own.
    for eid, start, end, title in [("c2", 20000, 40000, "Two"), ("c1", 0, 20000, "One"),
                                   ("c3", 40000, 60000, None)]:
        sub = [TIT2(text=[title])] if title else []
        tags.add(CHAP(element_id=eid, start_time=start, end_time=end, sub_frames=sub))
    if toc:
        tags.add(CTOC(element_id="toc", flags=CTOCFlags.TOP_LEVEL | CTOCFlags.ORDERED,
                      child_element_ids=["c1", "c2", "c3"], sub_frames=[TIT2(text=["Contents"])]))
    tags.save(path, v2_version=version)


def comments(tags):
    # Listed out of order; the last has no name.
    tags["CHAPTER002"] = "00:00:30.500"
    tags["CHAPTER002NAME"] = "Middle"
    tags["CHAPTER001"] = "00:00:00.000"
    tags["CHAPTER001NAME"] = "Intro"
    tags["CHAPTER003"] = "00:00:45.000"


def main():
    folder = sys.argv[1]
    three = [(0, "Opening"), (10000, "Second"), (25000, "")]
    mp4(folder, "both.m4b", three)
    mp4(folder, "quicktime.m4b", three, "-movflags", "+disable_chpl")
    mp4(folder, "nero.m4b", [])
    add_nero_list(os.path.join(folder, "nero.m4b"),
                  [(0, "Nero one"), (20000, "Nero\ttwo"), (50000, "Nero three")])
    mp4(folder, "utf16.m4b", three, "-movflags", "+disable_chpl")
    utf16_titles(os.path.join(folder, "utf16.m4b"), ["Öffnung", "第二章", "Kapitel 𝄞"])
    for version in (3, 4):
        for toc in (False, True):
            id3(folder, "id3v2%d%s.mp3" % (version, "-toc" if toc else ""), version, toc)
    opus = os.path.join(folder, "comments.opus")
    ffmpeg(*silence(48000), "-c:a", "libopus", "-b:a", "8k", opus)
    tags = OggOpus(opus)
    comments(tags)
    tags.save()
    flac = os.path.join(folder, "comments.flac")
    ffmpeg(*silence(8000), flac)
    tags = FLAC(flac)
    comments(tags)
    tags.save()
    meta = metadata(folder, "mka.txt", [(0, "Eins"), (15000, "Zwei")])
    ffmpeg(*silence(8000), "-i", meta, "-map", "0", "-map_chapters", "1", "-c:a", "flac",
           os.path.join(folder, "matroska.mka"))
    mp4(folder, "many.m4b", [(i * 200, "Part %d" % (i + 1)) for i in range(300)])
    mp4(folder, "lone.m4b", [(0, "The whole book")])
    # More than are kept: 20,000 in ten minutes, Matroska (the quickest to write).
    meta = metadata(folder, "huge.txt", [(i * 30, "") for i in range(20000)], 600000)
    ffmpeg(*silence(8000, 600), "-i", meta, "-map", "0", "-map_chapters", "1", "-c:a", "flac",
           os.path.join(folder, "huge.mka"))


if __name__ == "__main__":
    main()
