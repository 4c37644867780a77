#!/usr/bin/env python3
"""Writes the seed corpus of FlacFileFuzz: small FLAC files of each layout the FLAC code knows."""
import os
import struct
import sys

out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus-flac")
os.makedirs(out, exist_ok=True)


def block(kind, body, last=False, change=0):
    """The block; `change` is what its stated length adds to the body's."""
    return bytes([kind | (0x80 if last else 0)]) + (len(body) + change).to_bytes(3, "big") + body


def blocks(*items):
    return b"".join(block(kind, body, i == len(items) - 1, *change)
                    for i, (kind, body, *change) in enumerate(items))


def comment(vendor, *items):
    out = struct.pack("<I", len(vendor)) + vendor + struct.pack("<I", len(items))
    return out + b"".join(struct.pack("<I", len(i)) + i for i in items)


info = (0, bytes.fromhex("1000100000000000000ac44f0000000158") + bytes(17))
audio = b"\xff\xf8\x69\x08\x00\x00" + bytes(range(200))
tags = (4, comment(b"reference libFLAC 1.4.2", b"TITLE=old", b"GENRE=", b"title=dup"))
picture = (6, struct.pack(">II", 3, 9) + b"image/png" + struct.pack(">I", 0) + bytes(16) +
           struct.pack(">I", 8) + b"\x89PNG\r\n\x1a\n")
id3 = b"ID3\x03\x00\x00\x00\x00\x00\x14" + b"TIT2\x00\x00\x00\x03\x00\x00\x00ab" + bytes(7)
# Tags whose size claims "fLaC" and 6 bytes more: a 2.4 tag flagged with a footer it lacks, a 2.3
# tag whose size counts its header.
footerless = b"ID3\x04\x00\x10\x00\x00\x00\x0e" + b"TIT2\x00\x00\x00\x04\x00\x00\x00abc"
counted = id3[:9] + bytes([id3[9] + 10]) + id3[10:]
# Slipped comment and picture blocks, read by their contents where these lead to a frame whose
# header (CRC-8 included) fits the stream info: an encoder's stream info and first frame header.
real_info = (0, bytes.fromhex("100010000003da0005120ac442f00000ac44b48e1dd0c193fdd40c05f288d60157a3"))
frame = bytes.fromhex("fff8c98800234200") + bytes(range(100))
seeds = {
    "padded.flac": b"fLaC" + blocks(info, tags, (1, bytes(64))) + audio,
    "tight.flac": b"fLaC" + blocks(info, tags) + audio,
    "between.flac": b"fLaC" + blocks(info, tags, (1, bytes(40)), picture, (2, b"tgwhdata")) + audio,
    "bare.flac": b"fLaC" + blocks(info) + audio,
    "seek.flac": b"fLaC" + blocks(info, (3, bytes(18)), (1, bytes(8)), tags) + audio,
    "id3.flac": id3 + b"fLaC" + blocks(info, tags, (1, bytes(16))) + audio,
    "empty-audio.flac": b"fLaC" + blocks(info, tags),
    "two-comments.flac": b"fLaC" + blocks(info, tags, (1, bytes(8)), (4, comment(b"x", b"LABEL=l"))),
    "id3-junk.flac": id3 + b"\0\0fLa junk" + b"fLaC" + blocks(info, tags, (1, bytes(16))) + audio,
    "id3v1.flac": b"fLaC" + blocks(info, tags) + audio + b"TAG" + bytes(125),
    "id3-footerless.flac": footerless + b"fLaC" + blocks(info, tags, (1, bytes(16))) + audio,
    "id3-counted.flac": counted + b"fLaC" + blocks(info, tags) + audio,
    "picture-short.flac": b"fLaC" + blocks(real_info, picture + (-5,), tags, (1, bytes(16))) + frame,
    "picture-unread.flac": b"fLaC" + blocks(real_info, (6, picture[1] + bytes(6)), tags) + frame,
    "comment-short.flac": b"fLaC" + blocks(real_info, tags + (-3,), picture) + frame,
    "comment-long.flac": b"fLaC" + blocks(real_info, tags + (2,), (1, bytes(8)), picture + (-4,)) + frame,
    # More room than a save keeps right after the comment.
    "large-padding.flac": b"fLaC" + blocks(info, tags, (1, bytes(70000))) + audio,
}
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
