"""Peer helper for the tag tests of every format, run with Debian's python3,
mutagen and ffmpeg.

  make DIR   writes short audio books with ffmpeg (an M4B with both kinds of
             chapters, an M4B with the QuickTime kind alone, an M4A, AAC in
             ADTS, Opus, Ogg Vorbis, FLAC, MP3), each with a cover, and tags
             them with mutagen, in Latin and in other scripts; prints JSON
             [{file, format, script, fields: {artist, album, track, title,
             year, genre, comment}}] with the seven fields as mutagen reads
             them, shown as the program shows them (trimmed, a date's year,
             the track two characters at least).
  dump FILE  prints, for each file, every tag item mutagen reads (pictures as
             the SHA-1 of their bytes), the checksum of the audio stream
             (ffmpeg -map 0:a -c copy -f md5) and the chapters ffprobe reads.
  fields FILE  prints the seven fields of each file as mutagen reads them.
"""
import base64
import hashlib
import json
import os
import subprocess
import sys

import mutagen
from mutagen.flac import FLAC, Picture
from mutagen.id3 import ID3, APIC, COMM, TALB, TCON, TDRC, TIT2, TPE1, TRCK, TYER
from mutagen.mp4 import MP4, MP4Cover
from mutagen.oggopus import OggOpus
from mutagen.oggvorbis import OggVorbis

SCRIPTS = {
    "latin": {"artist": "Ursula K. Le Guin", "album": "Earthsea", "track": "3", "total": 12,
              "title": "A Wizard of Earthsea", "year": "1968", "genre": "Fantasy",
              "comment": "Read by Rob Inglis"},
    "world": {"artist": "Лев Толстой", "album": "Война и мир", "track": "7", "total": 0,
              "title": "Κεφάλαιο 1 — 夏目漱石 😀", "year": "1869", "genre": "Роман",
              "comment": "دیدگاه"},
}

# name: (extension, ffmpeg output options, tag kind)
FORMATS = {
    "m4b": ("m4b", ["-c:a", "aac", "-b:a", "32k", "-f", "ipod"], "mp4"),
    "m4b-quicktime": ("m4b", ["-c:a", "aac", "-b:a", "32k", "-f", "ipod", "-movflags",
                              "+disable_chpl"], "mp4"),
    "m4a": ("m4a", ["-c:a", "aac", "-b:a", "32k", "-f", "ipod"], "mp4"),
    "aac": ("aac", ["-c:a", "aac", "-b:a", "32k", "-f", "adts"], "id3"),
    "opus": ("opus", ["-c:a", "libopus", "-b:a", "24k"], "vorbis"),
    "ogg": ("ogg", ["-c:a", "libvorbis", "-q:a", "0"], "vorbis"),
    "flac": ("flac", ["-c:a", "flac"], "flac"),
    "mp3": ("mp3", ["-c:a", "libmp3lame", "-b:a", "32k"], "id3"),
}

CHAPTERS = """;FFMETADATA1
[CHAPTER]
TIMEBASE=1/1000
START=0
END=1000
title=The Shadow
[CHAPTER]
TIMEBASE=1/1000
START=1000
END=2000
title=Hawk
[CHAPTER]
TIMEBASE=1/1000
START=2000
END=3000
title=The Loosing
"""


def run(cmd):
    return subprocess.run(cmd, check=True, capture_output=True).stdout


def cover_bytes(folder):
    path = os.path.join(folder, "cover-source.jpg")
    if not os.path.exists(path):
        run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=s=96x128:d=1",
             "-frames:v", "1", path])
    with open(path, "rb") as f:
        return f.read()


def tag(path, kind, t, cover):
    if kind == "mp4":
        m = MP4(path)
        m["\xa9ART"] = [t["artist"]]
        m["\xa9alb"] = [t["album"]]
        m["trkn"] = [(int(t["track"]), t["total"])]
        m["\xa9nam"] = [t["title"]]
        m["\xa9day"] = [t["year"] + "-05-01"]
        m["\xa9gen"] = [t["genre"]]
        m["\xa9cmt"] = [t["comment"]]
        m["desc"] = ["An item the program does not show"]
        m["covr"] = [MP4Cover(cover, imageformat=MP4Cover.FORMAT_JPEG)]
        m.save()
    elif kind in ("vorbis", "flac"):
        m = FLAC(path) if kind == "flac" else mutagen.File(path)
        m["ARTIST"] = t["artist"]
        m["ALBUM"] = t["album"]
        m["TRACKNUMBER"] = t["track"] + ("/%d" % t["total"] if t["total"] else "")
        m["TITLE"] = t["title"]
        m["DATE"] = t["year"]
        m["GENRE"] = t["genre"]
        m["COMMENT"] = t["comment"]
        m["PERFORMER"] = "An item the program does not show"
        pic = Picture()
        pic.type = 3
        pic.mime = "image/jpeg"
        pic.data = cover
        if kind == "flac":
            m.add_picture(pic)
        else:
            m["METADATA_BLOCK_PICTURE"] = base64.b64encode(pic.write()).decode("ascii")
        m.save()
    else:
        m = ID3()
        m.add(TPE1(encoding=3, text=t["artist"]))
        m.add(TALB(encoding=3, text=t["album"]))
        m.add(TRCK(encoding=3, text=t["track"]))
        m.add(TIT2(encoding=3, text=t["title"]))
        m.add(TDRC(encoding=3, text=t["year"]))
        m.add(TCON(encoding=3, text=t["genre"]))
        m.add(COMM(encoding=3, lang="eng", desc="", text=t["comment"]))
        m.add(APIC(encoding=3, mime="image/jpeg", type=3, desc="Cover", data=cover))
        m.save(path, v2_version=4)


def open_any(path):
    """mutagen's view of a file; None where it knows no container (ADTS AAC)."""
    try:
        return mutagen.File(path)
    except mutagen.MutagenError:
        return None


def first(values):
    if not values:
        return ""
    v = values[0]
    return str(v)


def seven(path):
    """The seven fields as mutagen reads them."""
    m = open_any(path)
    if isinstance(m, MP4) or path.endswith((".m4a", ".m4b")):
        tags = MP4(path).tags or {}
        artist = first(tags.get("\xa9ART")) or first(tags.get("aART"))
        trkn = tags.get("trkn")
        track = ""
        if trkn and trkn[0][0]:
            track = "%d/%d" % trkn[0] if trkn[0][1] else str(trkn[0][0])
        return {"artist": artist, "album": first(tags.get("\xa9alb")), "track": track,
                "title": first(tags.get("\xa9nam")), "year": first(tags.get("\xa9day")),
                "genre": first(tags.get("\xa9gen")), "comment": first(tags.get("\xa9cmt"))}
    if isinstance(m, (FLAC, OggOpus, OggVorbis)):
        tags = m.tags or {}
        comment = tags.get("comment") or tags.get("description")
        return {"artist": first(tags.get("artist")), "album": first(tags.get("album")),
                "track": first(tags.get("tracknumber")), "title": first(tags.get("title")),
                "year": first(tags.get("date")), "genre": first(tags.get("genre")),
                "comment": first(comment)}
    tags = ID3(path)
    comm = [c for c in tags.getall("COMM") if c.desc == ""]
    year = tags.get("TYER") or tags.get("TDRC")
    return {"artist": first(tags.get("TPE1")), "album": first(tags.get("TALB")),
            "track": first(tags.get("TRCK")), "title": first(tags.get("TIT2")),
            "year": str(year.text[0]) if year else "", "genre": first(tags.get("TCON")),
            "comment": first(comm[0].text) if comm else ""}


def shown(fields):
    """As the program shows them."""
    out = {k: v.strip() for k, v in fields.items()}
    if len(out["year"]) > 4 and out["year"][:4].isdigit():
        out["year"] = out["year"][:4]
    out["track"] = out["track"].rjust(2, "0")
    return out


def make(folder):
    os.makedirs(folder, exist_ok=True)
    cover = cover_bytes(folder)
    meta = os.path.join(folder, "chapters.txt")
    with open(meta, "w") as f:
        f.write(CHAPTERS)
    made = []
    for script, t in SCRIPTS.items():
        for name, (ext, options, kind) in FORMATS.items():
            path = os.path.join(folder, "%s-%s.%s" % (name, script, ext))
            cmd = ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                   "sine=frequency=330:duration=3", "-i", meta, "-map", "0:a"]
            # The chapters' titles come with the metadata of their file.
            cmd += ["-map_chapters", "1" if ext == "m4b" else "-1", "-map_metadata", "1"]
            run(cmd + options + [path])
            tag(path, kind, t, cover)
            made.append({"file": path, "format": name, "script": script,
                         "cover": hashlib.sha1(cover).hexdigest(),
                         "fields": shown(seven(path))})
    print(json.dumps(made))


def pictures(m):
    out = []
    if isinstance(m, MP4):
        out = [bytes(c) for c in (m.tags or {}).get("covr", [])]
    elif isinstance(m, FLAC):
        out = [p.data for p in m.pictures]
    elif isinstance(m, (OggOpus, OggVorbis)):
        for b in (m.tags or {}).get("metadata_block_picture", []):
            out.append(Picture(base64.b64decode(b)).data)
    else:
        out = [f.data for f in ID3(m.filename).getall("APIC")]
    return [hashlib.sha1(p).hexdigest() for p in out]


def items(path):
    m = open_any(path)
    if m is None:  # an ADTS file: only its ID3v2 tag
        tags = ID3(path)
        return {k: [str(v) for v in tags.getall(k)] for k in tags.keys() if not k.startswith("APIC")}
    out = {}
    for k, v in (m.tags or {}).items():
        if k in ("covr", "metadata_block_picture") or k.startswith("APIC"):
            continue
        out[k] = [repr(x) for x in (v if isinstance(v, list) else [v])]
    return out


def dump(paths):
    out = {}
    for p in paths:
        m = open_any(p)
        md5 = run(["ffmpeg", "-v", "error", "-i", p, "-map", "0:a", "-c", "copy", "-f", "md5",
                   "-"]).decode().strip()
        chapters = json.loads(run(["ffprobe", "-v", "error", "-show_chapters", "-of", "json", p]))
        out[p] = {"items": items(p), "pictures": pictures(m if m is not None else ID3(p)),
                  "audio": md5, "chapters": chapters.get("chapters", [])}
    print(json.dumps(out))


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == "make":
        make(sys.argv[2])
    elif len(sys.argv) >= 3 and sys.argv[1] == "dump":
        dump(sys.argv[2:])
    elif len(sys.argv) >= 3 and sys.argv[1] == "fields":
        print(json.dumps({p: seven(p) for p in sys.argv[2:]}))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
