"""Peer helper for the ID3v2 tests, run with Debian's python3 and mutagen.

  make DIR   writes tags made by mutagen (every encoding, both versions, and
             variants with unsynchronisation, compressed frames, an extended
             header with CRC, no padding and a lot of padding) in front of
             known audio bytes; prints JSON: [{file, audioOffset, texts}].
  read FILE  prints what mutagen reads from each file as JSON.
  keep DIR   writes tags that hold more than the tag record shows (Cyrillic
             and typographic dashes in UTF-16 and UTF-8, multi-value version 4
             frames, two-line comments, TDRC) and frames with flags a save must
             carry through (encrypted, grouped, compressed); prints JSON
             {name: file}.
  dump FILE  prints every frame mutagen reads from each file as JSON.
  world DIR  writes tags in Polish, Russian, Greek, Japanese and Arabic with an
             emoji outside the Basic Multilingual Plane, in versions 3 and 4,
             in every Unicode encoding (UTF-16 with BOM, UTF-16BE, UTF-8; in a
             version 3 tag the last two as some programs write them), plain
             and unsynchronised; prints JSON like make.
  books DIR  writes playable sample books by authors in five scripts:
             DIR/<Author>/<Book>/<NN> - <Title>.mp3 (silent MPEG audio, TRCK
             "n/total"); prints JSON [{file, version, encoding, TPE1, TALB,
             TRCK, TIT2}].
"""
import hashlib
import json
import os
import struct
import sys
import zlib

from mutagen.id3 import ID3, TIT2, TPE1, TALB, TRCK, TYER, TDRC, TCON, COMM, TXXX, PRIV, Encoding
from mutagen.id3._util import unsynch

AUDIO = bytes((i * 37 + 11) & 0xFF for i in range(3000)) + b"\xff\xfb\x90\x00" * 50

TEXTS = {
    "TIT2": "T\u00eftle \u00ff\u00e0 end",
    "TPE1": "\u00c4rtist",
    "TALB": "Album \u20ac rest",
    "TRCK": "7",
    "TYER": "1999",
    "TCON": "(12)Other",
    "COMM": "C\u00f6mment",
}


# Texts beyond ISO-8859-1, one script or more per field.
WORLD = {
    "TPE1": "Stanis\u0142aw Lem",  # Polish
    "TALB": "\u0412\u043e\u0439\u043d\u0430 \u0438 \u043c\u0438\u0440",  # Russian
    # Greek, Japanese and an emoji (a surrogate pair in UTF-16)
    "TIT2": "\u039f\u03b4\u03cd\u03c3\u03c3\u03b5\u03b9\u03b1 \u2014 "
            "\u543e\u8f29\u306f\u732b\u3067\u3042\u308b \U0001F600",
    "TRCK": "3/12",
    "TYER": "1999",
    "TCON": "\u0631\u0648\u0627\u064a\u0629",  # Arabic
    "COMM": "\u0623\u0644\u0641 \u0644\u064a\u0644\u0629 \U0001F4DA\nsecond line",
}

BOOKS = [
    # author, book, parts, version, encoding
    ("Stanis\u0142aw Lem", "Solaris", ["Przybysz", "Solary\u015bci", "S\u0142o\u0144ce"], 3,
     Encoding.UTF16),
    ("\u041b\u0435\u0432 \u0422\u043e\u043b\u0441\u0442\u043e\u0439",
     "\u0412\u043e\u0439\u043d\u0430 \u0438 \u043c\u0438\u0440",
     ["\u0413\u043b\u0430\u0432\u0430 \u043f\u0435\u0440\u0432\u0430\u044f",
      "\u0413\u043b\u0430\u0432\u0430 \u0432\u0442\u043e\u0440\u0430\u044f"], 4, Encoding.UTF8),
    ("\u038c\u03bc\u03b7\u03c1\u03bf\u03c2", "\u039f\u03b4\u03cd\u03c3\u03c3\u03b5\u03b9\u03b1",
     ["\u03a1\u03b1\u03c8\u03c9\u03b4\u03af\u03b1 \u03b1", "\u03a1\u03b1\u03c8\u03c9\u03b4\u03af\u03b1 \u03b2"],
     4, Encoding.UTF16),
    ("\u590f\u76ee\u6f31\u77f3", "\u543e\u8f29\u306f\u732b\u3067\u3042\u308b",
     ["\u4e00", "\u4e8c \U0001F431"], 3, Encoding.UTF16),
    ("\u0646\u062c\u064a\u0628 \u0645\u062d\u0641\u0648\u0638",
     "\u0627\u0644\u062b\u0644\u0627\u062b\u064a\u0629",
     ["\u0628\u064a\u0646 \u0627\u0644\u0642\u0635\u0631\u064a\u0646",
      "\u0642\u0635\u0631 \u0627\u0644\u0634\u0648\u0642"], 4, Encoding.UTF16BE),
]


def synchsafe(v):
    return bytes([(v >> 21) & 0x7F, (v >> 14) & 0x7F, (v >> 7) & 0x7F, v & 0x7F])


def unsafe(b):
    return (b[0] << 21) | (b[1] << 14) | (b[2] << 7) | b[3]


def write_plain(path, version, enc, padding):
    with open(path, "wb") as f:
        f.write(AUDIO)
    tags = ID3()
    tags.add(TIT2(encoding=enc, text=TEXTS["TIT2"]))
    tags.add(TPE1(encoding=enc, text=TEXTS["TPE1"]))
    # Latin-1 cannot hold the euro sign.
    album = TEXTS["TALB"] if enc != Encoding.LATIN1 else TEXTS["TALB"].replace("\u20ac", "E")
    tags.add(TALB(encoding=enc, text=album))
    tags.add(TRCK(encoding=enc, text=TEXTS["TRCK"]))
    tags.add(TYER(encoding=enc, text=TEXTS["TYER"]))
    tags.add(TCON(encoding=enc, text=TEXTS["TCON"]))
    tags.add(COMM(encoding=enc, lang="eng", desc="", text=TEXTS["COMM"]))
    tags.add(TXXX(encoding=enc, desc="extra", text="kept"))
    tags.add(PRIV(owner="narrabel", data=b"\xff\xe0\x00\xff" * 8))
    tags.save(path, v2_version=version, padding=(lambda info: padding) if padding is not None else None)


def split(path):
    data = open(path, "rb").read()
    assert data[:3] == b"ID3"
    size = unsafe(data[6:10])
    return data[:10], data[10:10 + size], data[10 + size:]


def frames_of(version, body):
    """[(id, flags, payload)] and the padding length."""
    out = []
    i = 0
    while i + 10 <= len(body) and body[i:i + 4] != b"\0\0\0\0":
        fid = body[i:i + 4]
        size = struct.unpack(">I", body[i + 4:i + 8])[0] if version == 3 else unsafe(body[i + 4:i + 8])
        flags = struct.unpack(">H", body[i + 8:i + 10])[0]
        out.append((fid, flags, body[i + 10:i + 10 + size]))
        i += 10 + size
    return out, len(body) - i


def frame_bytes(version, fid, flags, payload):
    size = struct.pack(">I", len(payload)) if version == 3 else synchsafe(len(payload))
    return fid + size + struct.pack(">H", flags) + payload


def compressed(version, flags, payload):
    """A frame's flags and payload once compressed, with the inflated size."""
    if version == 3:
        return flags | 0x0080, struct.pack(">I", len(payload)) + zlib.compress(payload)
    return flags | 0x0009, synchsafe(len(payload)) + zlib.compress(payload)


def rebuild(path, version, variant):
    head, body, audio = split(path)
    frames, padding = frames_of(version, body)
    flags = head[5]
    out = b""
    for fid, fl, payload in frames:
        if variant == "compressed":
            fl, payload = compressed(version, fl, payload)
        elif variant == "unsync" and version == 4:
            payload = unsynch.encode(payload)
            fl |= 0x0002
        out += frame_bytes(version, fid, fl, payload)
    pad = b"\0" * padding
    if variant == "unsync":
        flags |= 0x80
        if version == 3:
            out = unsynch.encode(out)
    if variant == "exthdr":
        flags |= 0x40
        if version == 3:
            crc = zlib.crc32(out) & 0xFFFFFFFF
            ext = struct.pack(">IHII", 10, 0x8000, padding, crc)
        else:
            crc = zlib.crc32(out + pad) & 0xFFFFFFFF
            ext = synchsafe(12) + b"\x01\x20\x05" + bytes([(crc >> 28) & 0x0F]) + synchsafe(crc & 0x0FFFFFFF)
        out = ext + out
    body = out + pad
    with open(path, "wb") as f:
        f.write(b"ID3" + bytes([version, 0, flags]) + synchsafe(len(body)) + body + audio)


def with_flags(path, version, marks):
    """Rewrites frames named in marks {id: kind} as encrypted, grouped or
    compressed (kind "encrypt", "group", "compress")."""
    head, body, audio = split(path)
    frames, padding = frames_of(version, body)
    out = b""
    for fid, fl, payload in frames:
        kind = marks.get(fid.decode())
        if kind == "encrypt":
            payload = b"\x01" + bytes(b ^ 0x5A for b in payload)
            fl |= 0x0040 if version == 3 else 0x0004
        elif kind == "group":
            payload = b"\x07" + payload
            fl |= 0x0020 if version == 3 else 0x0040
        elif kind == "compress":
            fl, payload = compressed(version, fl, payload)
        out += frame_bytes(version, fid, fl, payload)
    body = out + b"\0" * padding
    with open(path, "wb") as f:
        f.write(head[:6] + synchsafe(len(body)) + body + audio)


def keep(d):
    lines = "Line one\nLine two"
    recipes = {
        "v23-utf16": (3, Encoding.UTF16, [
            TPE1(text="\u041b\u0435\u0432 \u0422\u043e\u043b\u0441\u0442\u043e\u0439"),
            TIT2(text="Caf\u00e9 \u2013 Part 1"), TALB(text="\u041a\u043d\u0438\u0433\u0430"),
            TRCK(text="5"), TYER(text="1999"), TCON(text="Speech"),
            COMM(lang="eng", desc="", text=lines), TXXX(desc="extra", text="kept")], {}),
        "v24-utf8": (4, Encoding.UTF8, [
            TPE1(text=["\u041b\u0435\u0432 \u0422\u043e\u043b\u0441\u0442\u043e\u0439", "Second"]),
            TIT2(text="Caf\u00e9 \u2013 Part 1"), TALB(text="Book"),
            TCON(text=["Audiobook", "OST"]), TDRC(text="2001-05-12"),
            COMM(lang="eng", desc="", text=lines), COMM(lang="eng", desc="packed", text="x" * 300)],
            {"COMM": "compress"}),
        "v23-flags": (3, Encoding.LATIN1, [
            TIT2(text="Secret title"), TALB(text="Grouped album"), TPE1(text="Artist"),
            TRCK(text="5"), PRIV(owner="narrabel", data=b"\xff\x00\xe0")],
            {"TIT2": "encrypt", "TALB": "group"}),
        "v24-flags": (4, Encoding.UTF16, [
            TIT2(text="Grouped title"), TPE1(text="Secret artist"), TDRC(text="1999"),
            TALB(text="Album")], {"TIT2": "group", "TPE1": "encrypt"}),
    }
    made = {}
    for name, (version, enc, frames, marks) in recipes.items():
        path = os.path.join(d, name + ".mp3")
        with open(path, "wb") as f:
            f.write(AUDIO)
        tags = ID3()
        for frame in frames:
            frame.encoding = enc
            tags.add(frame)
        tags.save(path, v2_version=version)
        if marks:
            with_flags(path, version, marks)
        made[name] = path
    return made


def write_world(path, version, enc, variant):
    """One file with the WORLD texts; a version 3 tag in UTF-16BE or UTF-8
    gets mutagen's version 4 frames under version 3 frame headers."""
    with open(path, "wb") as f:
        f.write(AUDIO)
    tags = ID3()
    for key, value in WORLD.items():
        if key == "COMM":
            tags.add(COMM(encoding=enc, lang="eng", desc="", text=value))
        else:
            tags.add(getattr(sys.modules["mutagen.id3"], key)(encoding=enc, text=value))
    native = version == 4 or enc == Encoding.UTF16
    tags.save(path, v2_version=version if native else 4)
    if not native:
        head, body, audio = split(path)
        frames, padding = frames_of(4, body)
        body = b"".join(frame_bytes(3, fid, fl, payload) for fid, fl, payload in frames)
        body += b"\0" * padding
        with open(path, "wb") as f:
            f.write(b"ID3\x03\x00" + head[5:6] + synchsafe(len(body)) + body + audio)
    if variant == "unsync":
        rebuild(path, version, variant)


def silent_audio(seconds):
    # MPEG-1 Layer III, 128 kbit/s, 44.1 kHz: 417 bytes and 1152 samples a frame.
    return (b"\xff\xfb\x90\x64" + bytes(413)) * int(seconds * 44100 / 1152)


def books(root):
    made = []
    audio = silent_audio(20)
    for author, book, parts, version, enc in BOOKS:
        folder = os.path.join(root, author, book)
        os.makedirs(folder, exist_ok=True)
        for n, title in enumerate(parts, 1):
            path = os.path.join(folder, "%02d - %s.mp3" % (n, title))
            with open(path, "wb") as f:
                f.write(audio)
            texts = {"TPE1": author, "TALB": book, "TRCK": "%d/%d" % (n, len(parts)),
                     "TIT2": title}
            tags = ID3()
            for key, value in texts.items():
                tags.add(getattr(sys.modules["mutagen.id3"], key)(encoding=enc, text=value))
            tags.add(TCON(encoding=enc, text="Audiobook"))
            tags.save(path, v2_version=version)
            made.append(dict(file=path, version=version, encoding=int(enc), **texts))
    return made


def dump(path):
    try:
        tags = ID3(path, translate=False)
    except Exception as e:  # noqa: BLE001 - reported to the test
        return {"error": repr(e)}
    with open(path, "rb") as f:
        audio = f.read()[tags.size:]
    return {"size": tags.size, "version": tags.version[1],
            "frames": {k: repr(v) for k, v in tags.items()},
            "unknown": [u.hex() for u in tags.unknown_frames],
            "audio": hashlib.sha1(audio).hexdigest()}


def read(path):
    try:
        tags = ID3(path, translate=False)
    except Exception as e:  # noqa: BLE001 - reported to the test
        return {"error": repr(e)}
    res = {"size": tags.size, "version": tags.version[1], "frames": [k for k in tags.keys()]}
    for key in ("TIT2", "TPE1", "TALB", "TRCK", "TYER", "TCON"):
        f = tags.get(key)
        res[key] = str(f.text[0]) if f is not None and f.text else None
    comms = [c for c in tags.getall("COMM") if c.desc == ""]
    res["COMM"] = str(comms[0].text[0]) if comms and comms[0].text else None
    return res


def main():
    if sys.argv[1] == "make":
        d = sys.argv[2]
        made = []
        for version in (3, 4):
            for enc in (Encoding.LATIN1, Encoding.UTF16, Encoding.UTF16BE, Encoding.UTF8):
                for variant, padding in (("plain", None), ("nopadding", 0), ("lotsofpadding", 100000),
                                         ("unsync", None), ("compressed", None), ("exthdr", None)):
                    name = "m_v%d_e%d_%s.mp3" % (version, int(enc), variant)
                    path = os.path.join(d, name)
                    write_plain(path, version, enc, padding)
                    if variant in ("unsync", "compressed", "exthdr"):
                        rebuild(path, version, variant)
                    r = read(path)
                    made.append({"file": path, "audio": len(AUDIO), "mutagen": r})
        print(json.dumps(made))
    elif sys.argv[1] == "world":
        d = sys.argv[2]
        made = []
        for version in (3, 4):
            for enc in (Encoding.UTF16, Encoding.UTF16BE, Encoding.UTF8):
                for variant in ("plain", "unsync"):
                    path = os.path.join(d, "w_v%d_e%d_%s.mp3" % (version, int(enc), variant))
                    write_world(path, version, enc, variant)
                    made.append({"file": path, "audio": len(AUDIO), "mutagen": read(path)})
        print(json.dumps(made))
    elif sys.argv[1] == "books":
        print(json.dumps(books(sys.argv[2])))
    elif sys.argv[1] == "keep":
        print(json.dumps(keep(sys.argv[2])))
    elif sys.argv[1] == "dump":
        print(json.dumps({p: dump(p) for p in sys.argv[2:]}))
    elif sys.argv[1] == "audio":
        sys.stdout.buffer.write(AUDIO)
    else:
        print(json.dumps({p: read(p) for p in sys.argv[2:]}))


if __name__ == "__main__":
    main()
