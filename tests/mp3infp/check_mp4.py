#!/usr/bin/env python3
"""M4A files made by ffmpeg, saved by SaveTool, then read by independent readers
(independent_readers.py): mutagen and ffprobe see the values; the decoded audio (ffmpeg's MD5 of
the samples) and the raw bytes of mdat are as they were, the chunk offsets moved with mdat; cover
art and freeform items are kept byte for byte; exiftool sees the values and finds no fault it did
not find before; an ID3v1 tag or junk after the last box stays, and a large free box after moov
stays outside it."""
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import mutagen.mp4

from independent_readers import mp4_boxes as boxes, mp4_chunk_offsets as chunk_offsets
from independent_readers import mp4_find as find
import independent_readers

tool = sys.argv[1]
work = tempfile.mkdtemp()
check = independent_readers.Findings()


def with_co64(data):
    """The file with its stco turned into co64 (moov before mdat: every offset moves)."""
    stbl = find(data, [b"moov", b"trak", b"mdia", b"minf", b"stbl"])
    kind, offsets = chunk_offsets(data)
    assert kind == b"stco"
    for k, at, header, size in boxes(data, stbl[0] + 8, stbl[1]):
        if k == b"stco":
            stco = (at, at + size)
    growth = 4 * len(offsets)
    moov = find(data, [b"moov"])
    co64 = struct.pack(">I4sII", 16 + 8 * len(offsets), b"co64", 0, len(offsets))
    co64 += b"".join(struct.pack(">Q", o + growth) for o in offsets)
    out = bytearray(data[:stco[0]] + co64 + data[stco[1]:])
    for path in ([b"moov"], [b"moov", b"trak"], [b"moov", b"trak", b"mdia"],
                 [b"moov", b"trak", b"mdia", b"minf"], [b"moov", b"trak", b"mdia", b"minf", b"stbl"]):
        at = find(data, path)[0]
        struct.pack_into(">I", out, at, struct.unpack(">I", data[at:at + 4])[0] + growth)
    return bytes(out)


def without_udta(data):
    """The file with moov's udta taken out (moov after mdat, so no offset moves)."""
    moov = find(data, [b"moov"])
    udta = find(data, [b"moov", b"udta"])
    out = bytearray(data[:udta[0]] + data[udta[1]:])
    struct.pack_into(">I", out, moov[0], moov[1] - moov[0] - (udta[1] - udta[0]))
    return bytes(out)


def appended(extra):
    """The file with `extra` after its last box (moov last: nothing points past it)."""
    return lambda data: data + extra


ID3V1 = b"TAG" + b"Old title".ljust(125, b"\0")
JUNK = b"\xff\xfe" * 30
KEPT_AT_END = {"aac-id3v1.m4a": ID3V1, "aac-junk.m4a": JUNK}
LARGE_FREE = struct.pack(">I4s", 2 << 20, b"free") + bytes((2 << 20) - 8)
# exiftool's names of the fields in an MP4 file.
EXIFTOOL_NAMES = {"IART": "Artist", "IPRD": "Album", "INAM": "Title", "TRACK": "TrackNumber",
                  "IGNR": "Genre", "ICRD": "ContentCreateDate", "ICMT": "Comment"}


def exiftool(path):
    """The fields and exiftool's verdict on the structure (-validate) of `path`."""
    result = subprocess.run(["exiftool", "-j", "-validate", "-warning"] +
                            [f"-{name}" for name in EXIFTOOL_NAMES.values()] + [path],
                            capture_output=True)
    return json.loads(result.stdout)[0]


def make(name, codec, flags, tags=(), cover=False, transform=None):
    path = os.path.join(work, name)
    args = ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=330:duration=0.3"]
    if cover:
        png = os.path.join(work, "cover.png")
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "color=blue:size=16x16",
                        "-frames:v", "1", png], check=True)
        args += ["-i", png, "-map", "0", "-map", "1", "-c:v", "png", "-disposition:v", "attached_pic"]
    for tag in tags:
        args += ["-metadata", tag]
    subprocess.run(args + ["-c:a", codec] + flags + [path], check=True)
    if tags:
        # A freeform item, which must come through untouched.
        f = mutagen.mp4.MP4(path)
        f["----:com.apple.iTunes:MOOD"] = [b"calm"]
        f.save(padding=lambda info: 0)  # no free room left
    if transform:
        with open(path, "rb") as f:
            data = transform(f.read())
        with open(path, "wb") as f:
            f.write(data)
    return path


FAST = ["-movflags", "+faststart"]
TAGS = ["title=Old", "artist=Old artist", "track=3/9", "genre=Pop", "comment=old comment"]
samples = [
    ("aac-moov-last.m4a", "aac", [], TAGS, True, None),
    ("aac-moov-first.m4a", "aac", FAST, TAGS, True, None),
    ("alac-moov-first.m4a", "alac", FAST, TAGS, False, None),
    ("alac-moov-last.m4a", "alac", [], [], False, None),
    ("aac-co64.m4a", "aac", FAST, TAGS, True, with_co64),
    ("aac-no-udta.m4a", "aac", [], [], False, without_udta),
    ("aac-id3v1.m4a", "aac", [], TAGS, False, appended(ID3V1)),
    ("aac-junk.m4a", "aac", [], [], False, appended(JUNK)),
    ("aac-large-free.m4a", "aac", [], TAGS, False, appended(LARGE_FREE)),
]
values = {"IART": "新しい歌手", "IPRD": "Album", "INAM": "題名", "TRACK": "5", "IGNR": "Jazz",
          "ICRD": "2024", "ICMT": "comment " * 40}
for name, codec, flags, tags, cover, transform in samples:
    path = make(name, codec, flags, tags, cover, transform)
    before = open(path, "rb").read()
    saved = path + ".saved.m4a"
    result = independent_readers.save_tool(tool, path, saved, values)
    if result.returncode != 0:
        check(False, f"{name}: save failed ({result.returncode})")
        continue
    after = open(saved, "rb").read()
    independent_readers.check_saved(check, saved, path, values)
    check("gnre" not in mutagen.mp4.MP4(saved).tags, f"{name}: gnre left")
    exif, exif_before = exiftool(saved), exiftool(path)
    for key, text in values.items():
        got = str(exif.get(EXIFTOOL_NAMES[key]))
        check(got == text or (key == "TRACK" and got.startswith(text + " of ")),
              f"{name} {key}: exiftool {got!r}, expected {text!r}")
    check((exif.get("Validate"), exif.get("Warning")) ==
          (exif_before.get("Validate"), exif_before.get("Warning")),
          f"{name}: exiftool -validate {exif.get('Validate')} {exif.get('Warning')}")
    # Bytes after the last box stay as they were, at the end.
    if name in KEPT_AT_END:
        check(after.endswith(KEPT_AT_END[name]), f"{name}: the bytes after the last box changed")
    # A large free room is not pulled into moov: moov keeps a few KiB for the next save.
    moov = find(after, [b"moov"])
    check(moov[1] - moov[0] < 64 << 10, f"{name}: moov of {moov[1] - moov[0]} bytes")
    # The padding left behind takes the next save in place.
    again = subprocess.run([tool, saved, saved + ".2", "INAM=x", "IART=y"], capture_output=True)
    check(again.stdout.strip() == b"in place", f"{name}: second save {again.stdout!r}")
    check(mutagen.mp4.MP4(saved + ".2").tags.get("\xa9nam") == ["x"], f"{name}: second save value")
    print(f"{name}: {result.stdout.decode().strip()}, {len(before)} -> {len(after)} bytes")

# A fragmented file is refused, unchanged.
frag = os.path.join(work, "fragmented.m4a")
subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=duration=1", "-c:a", "aac",
                "-movflags", "+frag_keyframe+empty_moov", frag], check=True)
result = subprocess.run([tool, frag, frag + ".out", "INAM=x"], capture_output=True)
check(result.returncode == 2 and not os.path.exists(frag + ".out"), "fragmented file not refused")

shutil.rmtree(work)
sys.exit(check.finish())
