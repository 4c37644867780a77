#!/usr/bin/env python3
"""FLAC files made by flac in the odd layouts that other taggers leave: two comment blocks,
padding beyond what one block's 24-bit length can say, an ID3v2 tag and junk before "fLaC", an
ID3v1 tag or junk after the audio. Each is saved by SaveTool; the bytes around the FLAC stream
must be as they were, and the stream itself is read by independent readers (independent_readers.py:
flac -t, metaflac, mutagen, ffprobe, the decoded audio's MD5) against the stream it was saved
from. flac and mutagen refuse the streams with those bytes around them, as they were."""
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
    out = bytearray(b"fLaC")
    for i, (kind, body) in enumerate(blocks):
        out += bytes([kind | (0x80 if i == len(blocks) - 1 else 0)]) + len(body).to_bytes(3, "big")
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
# name: (bytes before "fLaC", the stream, bytes after it)
samples = {
    "two-comments.flac": (b"", flac(info, seek, comment, second, padding(512)), b""),
    "two-comments-tight.flac": (b"", flac(info, comment, seek, second), b""),
    "joined-padding.flac": (b"", flac(info, seek, comment, padding(0xFFFFFF), padding(0xFFFFFF)), b""),
    "id3-junk.flac": (id3 + b"\x00\x00\x00junk", flac(info, seek, comment, padding(8192)), b""),
    "id3v1.flac": (b"", flac(info, seek, comment), v1),
    "junk-after.flac": (b"", flac(info, seek, comment, padding(8192)), b"junk " * 9),
}
values = {"IART": "新しい歌手", "IPRD": "Album", "INAM": "題名", "TRACK": "5", "IGNR": "Jazz",
          "ICRD": "2024", "ICMT": "comment " * 40}
for name, (front, stream, back) in samples.items():
    with open(path(name), "wb") as f:
        f.write(front + stream + back)
    with open(path(name + ".stream.flac"), "wb") as f:
        f.write(stream)
    saved = path(name + ".saved")
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
    # One comment block is left, which every reader shows alike.
    listing = subprocess.run(["metaflac", "--list", "--block-type=VORBIS_COMMENT",
                              path(name + ".saved.flac")], capture_output=True).stdout
    check(listing.count(b"type: 4 (VORBIS_COMMENT)") == 1, f"{name}: comment blocks")
    again = subprocess.run([tool, saved, saved + ".2", "INAM=x", "IART=y"], capture_output=True)
    check(again.stdout.strip() == b"in place", f"{name}: second save {again.stdout!r}")
    print(f"{name}: {result.stdout.decode().strip()}, {len(front + stream + back)} -> {len(data)} bytes")

# A block that claims more bytes than the file has: refused, nothing written.
broken = path("broken.flac")
with open(broken, "wb") as f:
    f.write(flac(info, seek, comment)[:60])
result = subprocess.run([tool, broken, broken + ".out", "INAM=x"], capture_output=True)
check(result.returncode == 2 and not os.path.exists(broken + ".out"), "a cut file not refused")

shutil.rmtree(work)
sys.exit(check.finish())
