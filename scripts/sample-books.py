#!/usr/bin/python3
"""Writes a few small sample audio books (silent MP3 parts with ID3v2.3 tags)
under the folder given: <folder>/<Author>/<Book>/<NN> - <Title>.mp3. Authors
write in several scripts: their tags hold ISO-8859-1 where it can, UTF-16
elsewhere, as ordinary taggers write them. With ffmpeg there, two more books
come as single M4B files with their chapters, one with a cover picture.
Used for the README's screenshots and for trying Narrabel by hand."""
import os
import shutil
import struct
import subprocess
import sys

BOOKS = [
    ("Jane Austen", "Persuasion", ["Anne Elliot", "Kellynch Hall", "The Crofts", "Uppercross"]),
    ("Joseph Conrad", "The Secret Agent", ["Mr Verloc", "The Embassy", "The Professor"]),
    ("Mary Shelley", "Frankenstein", ["Letter 1", "Letter 2", "Chapter 1", "Chapter 2"]),
    ("Stanisław Lem", "Solaris", ["Przybysz", "Solaryści", "Słońce"]),
    ("Лев Толстой", "Война и мир", ["Глава первая", "Глава вторая"]),
    ("Νίκος Καζαντζάκης", "Βίος και πολιτεία του Αλέξη Ζορμπά", ["Κεφάλαιο 1", "Κεφάλαιο 2"]),
    ("夏目漱石", "吾輩は猫である", ["一", "二"]),
]
SECONDS = 60  # length of every part


def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def text_frame(frame_id, text):
    try:
        body = b"\x00" + text.encode("latin-1")  # encoding 0: ISO-8859-1
    except UnicodeEncodeError:
        body = b"\x01" + text.encode("utf-16")  # encoding 1: UTF-16 with a byte order mark
    return frame_id.encode() + struct.pack(">I", len(body)) + b"\x00\x00" + body


def id3v23(tags):
    frames = b"".join(text_frame(k, v) for k, v in tags.items())
    return b"ID3\x03\x00\x00" + syncsafe(len(frames)) + frames


def silent_frames(seconds):
    # MPEG-1 Layer III, 128 kbit/s, 44.1 kHz: 417 bytes and 1152 samples a frame.
    frame = b"\xff\xfb\x90\x64" + bytes(413)
    return frame * int(seconds * 44100 / 1152)


M4B = ("Ursula K. Le Guin", "A Wizard of Earthsea",
       ["Warriors in the Mist", "The Shadow", "The School for Wizards",
        "The Loosing of the Shadow", "The Dragon of Pendor"])
FONTS = "/usr/share/fonts/truetype/dejavu/"


def m4b(root):
    """The M4B book: silent AAC, a chapter a minute, its tags and a drawn cover."""
    if not shutil.which("ffmpeg"):
        print("sample-books.py: no ffmpeg, so no M4B book", file=sys.stderr)
        return
    author, book, chapters = M4B
    folder = os.path.join(root, author, book)
    os.makedirs(folder, exist_ok=True)
    meta = os.path.join(folder, "chapters.txt")
    with open(meta, "w") as f:
        f.write(";FFMETADATA1\n")
        for n, title in enumerate(chapters):
            f.write("[CHAPTER]\nTIMEBASE=1/1000\nSTART=%d\nEND=%d\ntitle=%s\n"
                    % (n * SECONDS * 1000, (n + 1) * SECONDS * 1000, title))
    text = ("drawtext=fontfile=%sDejaVuSerif-Bold.ttf:text='%%s':fontcolor=0xf4e9cd:"
            "fontsize=54:x=(w-tw)/2:y=%%d" % FONTS)
    cover = ",".join(["gradients=s=480x720:c0=0x14213d:c1=0x3a6b8c:x0=0:y0=0:x1=480:y1=720:d=1",
                      text % ("A WIZARD", 150), text % ("OF EARTHSEA", 220),
                      "drawtext=fontfile=%sDejaVuSans.ttf:text='%s':fontcolor=0xe0c36a:"
                      "fontsize=32:x=(w-tw)/2:y=600" % (FONTS, author)])
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "anullsrc=r=44100:cl=mono:d=%d" % (SECONDS * len(chapters)),
                    "-f", "lavfi", "-i", cover, "-i", meta,
                    "-map", "0:a", "-map", "1:v", "-frames:v", "1", "-c:v", "mjpeg",
                    "-disposition:v", "attached_pic", "-map_chapters", "2", "-map_metadata", "2",
                    "-metadata", "artist=" + author, "-metadata", "album=" + book,
                    "-metadata", "title=" + book, "-metadata", "date=1968",
                    "-metadata", "genre=Audiobook", "-c:a", "aac", "-b:a", "32k", "-f", "ipod",
                    os.path.join(folder, book + ".m4b")], check=True)
    os.remove(meta)


CHAPTERS = ("Herman Melville", "Moby-Dick", [
    "Loomings", "The Carpet-Bag", "The Spouter-Inn", "The Counterpane", "Breakfast",
    "The Street", "The Chapel", "The Pulpit", "The Sermon", "A Bosom Friend", "Nightgown",
    "Biographical", "Wheelbarrow", "Nantucket", "Chowder", "The Ship", "The Ramadan",
    "His Mark", "The Prophet", "All Astir", "Going Aboard", "Merry Christmas"])


def m4b_with_chapters(root):
    author, book, chapters = CHAPTERS
    folder = os.path.join(root, author, book)
    os.makedirs(folder, exist_ok=True)
    meta = os.path.join(folder, "chapters.txt")
    with open(meta, "w", encoding="utf-8") as f:
        f.write(";FFMETADATA1\ntitle=%s\nartist=%s\n" % (book, author))
        for i, title in enumerate(chapters):
            # Chapters of uneven length, as books have them.
            start, end = sum(range(50, 50 + 7 * i, 7)), sum(range(50, 50 + 7 * (i + 1), 7))
            f.write("[CHAPTER]\nTIMEBASE=1/1\nSTART=%d\nEND=%d\ntitle=%s\n"
                    % (start, end, "%d. %s" % (i + 1, title)))
    length = sum(range(50, 50 + 7 * len(chapters), 7))
    subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-t", str(length),
                    "-i", "anullsrc=r=8000:cl=mono", "-i", meta, "-map", "0", "-map_metadata", "1",
                    "-map_chapters", "1", "-c:a", "aac", "-b:a", "8k",
                    os.path.join(folder, book + ".m4b")], check=True)
    os.remove(meta)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: sample-books.py FOLDER")
    root = sys.argv[1]
    m4b(root)
    audio = silent_frames(SECONDS)
    for author, book, parts in BOOKS:
        folder = os.path.join(root, author, book)
        os.makedirs(folder, exist_ok=True)
        for n, title in enumerate(parts, 1):
            tags = {"TPE1": author, "TALB": book, "TRCK": "%02d" % n, "TIT2": title,
                    "TYER": "1900", "TCON": "Audiobook"}
            name = os.path.join(folder, "%02d - %s.mp3" % (n, title))
            with open(name, "wb") as f:
                f.write(id3v23(tags) + audio)
    if shutil.which("ffmpeg"):
        m4b_with_chapters(root)


if __name__ == "__main__":
    main()
