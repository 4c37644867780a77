#!/usr/bin/env python3
"""Makes the sample files of the formats other than MP3 with Debian's encoders (ffmpeg, flac,
oggenc, opusenc) into the folder named on the command line: short and small, with and without
room for a new tag, with pictures, application blocks and existing comments, with an ID3v2 tag in
front; Ogg Vorbis, Opus and M4A (moov before mdat and after it). ReaderSamples saves into copies
of them through mp3infp.dll and check_readers.py compares each copy with its sample; the
program's end-to-end test saves into them from a folder."""
import os
import struct
import subprocess
import sys

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
work = os.path.join(out, "work")
os.makedirs(work, exist_ok=True)


def run(*command):
    subprocess.run(command, check=True, capture_output=True)


def path(name):
    return os.path.join(work, name)


run("ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
    "sine=frequency=440:duration=1:sample_rate=44100", "-ac", "2", path("sine.wav"))
run("ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "color=red:s=16x16",
    "-frames:v", "1", path("cover.png"))


def flac_blocks(data):
    """(start of the blocks, [(type, body)], end of the blocks)."""
    assert data[:4] == b"fLaC"
    pos, blocks = 4, []
    while True:
        header = data[pos]
        length = int.from_bytes(data[pos + 1:pos + 4], "big")
        blocks.append((header & 0x7F, data[pos + 4:pos + 4 + length]))
        pos += 4 + length
        if header & 0x80:
            return blocks, pos


def flac_with(blocks, audio):
    out = bytearray(b"fLaC")
    for i, (kind, body) in enumerate(blocks):
        out += bytes([kind | (0x80 if i == len(blocks) - 1 else 0)])
        out += len(body).to_bytes(3, "big") + body
    return bytes(out) + audio


def encode(name, *options):
    run("flac", "-s", "-f", *options, path("sine.wav"), "-o", path(name))
    with open(path(name), "rb") as f:
        return f.read()


def write(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


old_tags = ["-T", "TITLE=old title", "-T", "GENRE=", "-T", "ARTIST=old artist",
            "-T", "Title=second title", "-T", "REPLAYGAIN_TRACK_GAIN=-6.10 dB"]
# flac's own padding (8 KiB) at the end: the new comment fits in place.
write("flac-padded.flac", encode("padded.flac", *old_tags))
# No padding at all: the file is rewritten, with padding for the next time.
write("flac-tight.flac", encode("tight.flac", "--no-padding", *old_tags))
# A picture behind the comment, and padding too small for the new comment.
data = encode("picture.flac", "--no-padding", "--picture", path("cover.png"), *old_tags)
blocks, end = flac_blocks(data)
info, seek, comment, picture = blocks
assert [b[0] for b in blocks] == [0, 3, 4, 6]
write("flac-picture.flac", flac_with([info, seek, comment, picture, (1, bytes(16))], data[end:]))
# Padding between blocks, before the picture and an application block.
application = (2, b"tgwh" + bytes(range(64)))
write("flac-between.flac",
      flac_with([info, seek, comment, (1, bytes(1024)), picture, application], data[end:]))
# An ID3v2.3 tag in front, as some taggers leave it.
title = b"\x00id3 title"
frame = b"TIT2" + struct.pack(">I", len(title)) + b"\x00\x00" + title
body = frame + bytes(64)
id3 = b"ID3\x03\x00\x00" + bytes([(len(body) >> 21) & 0x7F, (len(body) >> 14) & 0x7F,
                                   (len(body) >> 7) & 0x7F, len(body) & 0x7F]) + body
write("flac-id3.flac", id3 + encode("id3.flac", *old_tags))
# ffmpeg's FLAC: another vendor, no seek table.
run("ffmpeg", "-loglevel", "error", "-y", "-i", path("sine.wav"), "-metadata", "title=ffmpeg title",
    path("ffmpeg.flac"))
with open(path("ffmpeg.flac"), "rb") as f:
    write("flac-ffmpeg.flac", f.read())

# Ogg Vorbis as libvorbis lays it out (the comment shares its page with the setup header), with
# items of our names in two cases and an empty one.
run("oggenc", "-Q", "-q", "0", "-s", "1234", "-c", "ARTIST=old artist", "-c", "title=first",
    "-c", "TITLE=second", "-c", "GENRE=", "-c", "REPLAYGAIN_TRACK_GAIN=-3.20 dB",
    "-o", path("vorbis.ogg"), path("sine.wav"))
# Opus with a picture and the room opusenc leaves after the list.
run("opusenc", "--quiet", "--artist", "old artist", "--comment", "R128_TRACK_GAIN=12",
    "--picture", path("cover.png"), path("sine.wav"), path("opus.opus"))
# M4A: AAC with tags and cover art, moov before mdat (every chunk offset moves when it grows);
# ALAC without tags, moov after mdat.
run("ffmpeg", "-loglevel", "error", "-y", "-i", path("sine.wav"), "-i", path("cover.png"),
    "-map", "0", "-map", "1", "-c:v", "png", "-disposition:v", "attached_pic", "-c:a", "aac",
    "-metadata", "title=old title", "-metadata", "artist=old artist", "-metadata", "track=3/9",
    "-movflags", "+faststart", path("first.m4a"))
run("ffmpeg", "-loglevel", "error", "-y", "-i", path("sine.wav"), "-c:a", "alac",
    path("last.m4a"))
for made, name in (("vorbis.ogg", "ogg-vorbis.ogg"), ("opus.opus", "ogg-opus.opus"),
                   ("first.m4a", "m4a-moov-first.m4a"), ("last.m4a", "m4a-moov-last.m4a")):
    with open(path(made), "rb") as f:
        write(name, f.read())

for name in os.listdir(work):
    os.remove(path(name))
os.rmdir(work)
