#!/usr/bin/env python3
"""FLAC files made by flac in the odd layouts that other taggers leave: two comment blocks,
padding beyond what one block's 24-bit length can say, an ID3v2 tag and junk before "fLaC", an
ID3v1 tag or junk after the audio, an ID3v2 tag whose size claims the head of the stream. Each is saved by SaveTool; the bytes around the FLAC stream
must be as they were, and the stream itself is read by independent readers (independent_readers.py:
flac -t, metaflac, mutagen, ffprobe, the decoded audio's MD5) against the stream it was saved
from. With those bytes around it, each reader that read the whole file before the save reads it
after, to the same decoded audio."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import independent_readers

tool = sys.argv[1]
work = tempfile.mkdtemp()
check = independent_readers.Findings()


def path(name):
    return os.path.join(work, name)


subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                "sine=frequency=440:duration=1:sample_rate=44100", "-ac", "2", path("sine.wav")],
               check=True)
subprocess.run(["flac", "-s", "-f", "--no-padding", "-T", "TITLE=old title", "-T",
                "ARTIST=old artist", "-T", "Title=second title", "-T",
                "REPLAYGAIN_TRACK_GAIN=-6.10 dB", path("sine.wav"), "-o", path("made.flac")],
               check=True)
made = independent_readers.read(path("made.flac"))
_, made_blocks, end = independent_readers.flac_layout(made)
audio = made[end:]
info, seek, comment = [(kind, body) for kind, _, body in made_blocks]
assert [info[0], seek[0], comment[0]] == [0, 3, 4]


def flac(*blocks):
    """"fLaC", the blocks (type, body, and what their stated length adds to the body's, if it
    disagrees), the audio."""
    out = bytearray(b"fLaC")
    for i, (kind, body, *change) in enumerate(blocks):
        stated = len(body) + sum(change)
        out += bytes([kind | (0x80 if i == len(blocks) - 1 else 0)]) + stated.to_bytes(3, "big")
        out += body
    return bytes(out) + audio


def vorbis_comment(vendor, *items):
    out = struct.pack("<I", len(vendor)) + vendor + struct.pack("<I", len(items))
    return out + b"".join(struct.pack("<I", len(item)) + item for item in items)


def padding(size):
    return (1, bytes(size))


second = (4, vorbis_comment(b"other", b"ARTIST=second artist", b"title=third"))
id3 = b"ID3\x03\x00\x00\x00\x00\x00\x15TIT2\x00\x00\x00\x03\x00\x00\x00id" + bytes(8)
v1 = b"TAG" + b"v1 title".ljust(125, b"\x00")
# Tags whose size claims "fLaC" and 6 bytes more: a 2.4 tag flagged with a footer it lacks, a 2.3
# tag whose size counts its header.
footerless = b"ID3\x04\x00\x10\x00\x00\x00\x0fTIT2\x00\x00\x00\x05\x00\x00\x00four"
counted = id3[:9] + bytes([id3[9] + 10]) + id3[10:]
# name: (bytes before "fLaC", the stream, bytes after it)
samples = {
    "two-comments.flac": (b"", flac(info, seek, comment, second, padding(512)), b""),
    "two-comments-tight.flac": (b"", flac(info, comment, seek, second), b""),
    "joined-padding.flac": (b"", flac(info, seek, comment, padding(0xFFFFFF), padding(0xFFFFFF)), b""),
    "id3-junk.flac": (id3 + b"\x00\x00\x00junk", flac(info, seek, comment, padding(8192)), b""),
    "id3v1.flac": (b"", flac(info, seek, comment), v1),
    "id3-footerless.flac": (footerless, flac(info, seek, comment, padding(8192)), b""),
    "id3-counted.flac": (counted, flac(info, seek, comment), b""),
    "junk-after.flac": (b"", flac(info, seek, comment, padding(8192)), b"junk " * 9),
}


def whole_file_readers(path):
    """Whether flac -t, metaflac and mutagen read the whole file, and the decoded audio's MD5
    (None when ffmpeg cannot decode it)."""
    from mutagen.flac import FLAC
    try:
        FLAC(path)
        mutagen_reads = True
    except Exception:
        mutagen_reads = False
    runs = lambda *args: subprocess.run(list(args) + [path], capture_output=True).returncode == 0
    return {"flac -t": runs("flac", "-s", "-t"), "metaflac": runs("metaflac", "--list"),
            "mutagen": mutagen_reads, "audio": independent_readers.audio_md5(path)}


values = {"IART": "新しい歌手", "IPRD": "Album", "INAM": "題名", "TRACK": "5", "IGNR": "Jazz",
          "ICRD": "2024", "ICMT": "comment " * 40}
for name, (front, stream, back) in samples.items():
    with open(path(name), "wb") as f:
        f.write(front + stream + back)
    with open(path(name + ".stream.flac"), "wb") as f:
        f.write(stream)
    saved = path("saved-" + name)
    result = independent_readers.save_tool(tool, path(name), saved, values)
    if result.returncode != 0:
        check(False, f"{name}: save failed ({result.returncode})")
        continue
    data = independent_readers.read(saved)
    check(data.startswith(front) and data.endswith(back), f"{name}: the bytes around the stream")
    with open(path(name + ".saved.flac"), "wb") as f:
        f.write(data[len(front):len(data) - len(back)])
    independent_readers.check_saved(check, path(name + ".saved.flac"),
                                    path(name + ".stream.flac"), values)
    before, after = whole_file_readers(path(name)), whole_file_readers(saved)
    for reader, found in before.items():
        check(not found or after[reader] == found,
              f"{name}: {reader} read it before the save ({found}), after it {after[reader]}")
    # One comment block is left, which every reader shows alike.
    listing = subprocess.run(["metaflac", "--list", "--block-type=VORBIS_COMMENT",
                              path(name + ".saved.flac")], capture_output=True).stdout
    check(listing.count(b"type: 4 (VORBIS_COMMENT)") == 1, f"{name}: comment blocks")
    again = subprocess.run([tool, saved, saved + ".2", "INAM=x", "IART=y"], capture_output=True)
    check(again.stdout.strip() == b"in place", f"{name}: second save {again.stdout!r}")
    print(f"{name}: {result.stdout.decode().strip()}, {len(front + stream + back)} -> {len(data)} bytes")

# Comment and picture blocks whose stated length disagrees with their contents, which decoders
# and other taggers read by their contents: saved with the slipped block's contents as they were
# (in place its stated length too; a rewrite states their true length), the audio the same bytes,
# and read by every reader that read the file before, to the same decoded audio, the values where
# the reader lists them.
picture = (6, struct.pack(">II", 3, 9) + b"image/png" + bytes(20) + struct.pack(">I", 300) +
           b"\x89" * 300)
unread = (6, picture[1] + bytes(20))
slipped = {
    "picture-unread.flac": (flac(info, seek, unread, comment, padding(100)), unread),
    # Room for the values: written in place.
    "picture-short.flac": (flac(info, seek, picture + (-10,), comment, padding(1000)),
                           picture + (-10,)),
    "picture-long.flac": (flac(info, seek, picture + (7,), comment, padding(1000)), picture + (7,)),
    "comment-short.flac": (flac(info, seek, comment + (-5,), picture, padding(1000)), picture),
    "comment-long.flac": (flac(info, seek, comment + (3,), picture), picture),
    "last-picture-short.flac": (flac(info, seek, comment, picture + (-10,)), picture + (-10,)),
}
for name, (stream, (kind, body, *change)) in slipped.items():
    with open(path(name), "wb") as f:
        f.write(stream)
    saved = path(name + ".saved.flac")
    result = independent_readers.save_tool(tool, path(name), saved, values)
    if not check(result.returncode == 0, f"{name}: save failed ({result.returncode})"):
        continue
    data = independent_readers.read(saved)
    in_place = result.stdout.strip() == b"in place"
    stated = len(body) + (sum(change) if in_place else 0)
    check(stated.to_bytes(3, "big") + body in data, f"{name}: slipped block")
    check(data.endswith(audio), f"{name}: the audio changed")
    before, after = whole_file_readers(path(name)), whole_file_readers(saved)
    for reader, found in before.items():
        check(not found or after[reader] == found,
              f"{name}: {reader} read it before the save ({found}), after it {after[reader]}")
    if after["mutagen"]:
        from mutagen.flac import FLAC
        tags = FLAC(saved).tags
        for key, text in values.items():
            name_of = independent_readers.VORBIS_NAMES[key]
            check(tags.get(name_of) == [text], f"{name}: mutagen {name_of} {tags.get(name_of)!r}")
    listing = subprocess.run(["metaflac", "--list", "--block-type=VORBIS_COMMENT", saved],
                             capture_output=True, env=independent_readers.UTF8_ENV)
    if after["metaflac"]:
        check("TITLE=" + values["INAM"] in listing.stdout.decode("utf-8", "replace"),
              f"{name}: metaflac does not list the title")
    again = subprocess.run([tool, saved, saved + ".2", "INAM=x", "IART=y"], capture_output=True)
    check(again.stdout.strip() == b"in place", f"{name}: second save {again.stdout!r}")
    print(f"{name}: {result.stdout.decode().strip()}, readers before {before}, after {after}")

# Truly broken files are refused, nothing written: a block that claims more bytes than the file
# has; a picture whose data passes the end; a slipped block that leads to no frame of the stream.
wrong_crc = bytearray(flac(info, seek, picture + (-10,), comment))
wrong_crc[len(wrong_crc) - len(audio) + 5] ^= 1
broken = {
    "cut.flac": flac(info, seek, comment)[:60],
    "picture-past-end.flac": flac(info, seek, comment, picture + (-200,))[:-len(audio) - 100],
    "slipped-wrong-crc.flac": bytes(wrong_crc),
}
for name, data in broken.items():
    with open(path(name), "wb") as f:
        f.write(data)
    result = subprocess.run([tool, path(name), path(name) + ".out", "INAM=x"], capture_output=True)
    check(result.returncode == 2 and not os.path.exists(path(name) + ".out"),
          f"{name}: not refused")

shutil.rmtree(work)
sys.exit(check.finish())
