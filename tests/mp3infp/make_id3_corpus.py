#!/usr/bin/env python3
"""Writes the seed corpus of Id3FileFuzz: small files of each layout the tag code knows."""
import os
import struct
import sys

out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus-id3")
os.makedirs(out, exist_ok=True)


def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def audio(frames=2):
    frame = b"\xff\xfb\x90\x64" + bytes((i * 37) & 0xFF for i in range(413))
    return frame * frames


def frame(version, fid, payload, flags=0):
    if version == 2:
        return fid + struct.pack(">I", len(payload))[1:] + payload
    size = syncsafe(len(payload)) if version == 4 else struct.pack(">I", len(payload))
    return fid + size + struct.pack(">H", flags) + payload


def tag(version, body, padding=16, flags=0):
    return b"ID3" + bytes([version, 0, flags]) + syncsafe(len(body) + padding) + body + bytes(padding)


def overshot(data):
    """The tag with a size that counts its own header."""
    return data[:6] + syncsafe(len(data)) + data[10:]


def v1(title=b"title", track=3):
    t = bytearray(b"TAG" + bytes(125))
    t[3:3 + len(title)] = title
    t[126] = track
    t[127] = 17
    return bytes(t)


def chunk(cid, data):
    return cid + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b"")


def riff(form, chunks):
    body = form + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


info = chunk(b"LIST", b"INFO" + chunk(b"INAM", b"name\0") + chunk(b"ISFT", b"tool\0"))
utf16 = b"\x01\xff\xfe" + "表示".encode("utf-16-le")
seeds = {
    "v23.mp3": tag(3, frame(3, b"TIT2", b"\0title") + frame(3, b"TPE1", utf16)
                   + frame(3, b"COMM", b"\0eng\0comment") + frame(3, b"APIC", b"\0image/png\0\3\0" + bytes(40))
                   + frame(3, b"TALB", b"\0\0\0\x10x\x9c", 0x00A0)) + audio() + v1(),
    "v24.mp3": tag(4, frame(4, b"TIT2", b"\3" + "表".encode()) + frame(4, b"TDRC", b"\x002024")
                   + frame(4, b"PRIV", b"o\0\xff\x00\xe0", 0x0002)) + audio(),
    "v24-plain-sizes.mp3": tag(4, b"PRIV" + struct.pack(">I", 200) + b"\0\0" + bytes(200)
                               + b"TIT2" + struct.pack(">I", 3) + b"\0\0\0ab") + audio(1),
    "v23-flags.mp3": tag(3, frame(3, b"TPE1", b"\0\0\0\x03x\x9c\xff\xe0", 0x0080)
                         + frame(3, b"PRIV", b"\x82o\0", 0x0060) + frame(3, b"TIT2", b"\0t", 0x8000), 8, 0x80)
                 + audio(1),
    "v24-flags.mp3": tag(4, frame(4, b"TPE1", b"\0\0\0\x03x\x9c\xff\x00", 0x000B)
                         + frame(4, b"PRIV", b"\x81\x82o", 0x0044) + frame(4, b"COMM", b"\0\0\0\x04x", 0x0009))
                 + audio(1),
    "v22.mp3": tag(2, frame(2, b"TT2", b"\0old") + frame(2, b"COM", b"\0eng\0c")) + audio(1) + v1(),
    "v23-dated.mp3": tag(3, frame(3, b"TYER", b"\x002024") + frame(3, b"TDAT", b"\x000105")
                         + frame(3, b"TIME", b"\x001230")) + audio(1),
    "v22-dated.mp3": tag(2, frame(2, b"TYE", b"\x002023") + frame(2, b"TDA", b"\x003112")) + audio(1),
    "v23-unsync.mp3": tag(3, frame(3, b"PRIV", b"o\0\xff\x00\xe0\x07"), 8, 0x80) + audio(1),
    "v23-ext.mp3": tag(3, struct.pack(">I", 6) + bytes(6) + frame(3, b"TIT2", b"\0e"), 8, 0x40) + audio(1),
    "stacked.mp3": tag(3, frame(3, b"TIT2", b"\0a"), 0) + tag(3, frame(3, b"TIT2", b"\0b"), 0) + audio(1),
    "ape-v1.mp3": audio(1) + b"APETAGEX" + bytes(24) + v1(),
    "bare.mp3": audio(1),
    "short.mp3": b"\xff\xfb\x90\x64abc",
    "rmp3.rmp": riff(b"RMP3", [chunk(b"data", audio(1)), info, chunk(b"id3 ", tag(3, frame(3, b"TIT2", b"\0r")))]),
    "rmp3-odd.rmp": riff(b"RMP3", [chunk(b"data", audio(1)), b"junk" + struct.pack("<I", 3) + b"abc", info]),
    "wave.wav": riff(b"WAVE", [chunk(b"fmt ", bytes(16)), chunk(b"data", bytes(100)), info, info]),
    "zeros-head.mp3": bytes(300) + audio(3),
    "junk-head.mp3": bytes(range(1, 255)) * 2 + audio(3),
    "tag-junk.mp3": tag(3, frame(3, b"TIT2", b"\0t"), 0) + b"\x01junk" * 40 + audio(3),
    # Tags whose size claims the head of what follows: the first frame, another container, junk.
    "footerless.mp3": tag(4, frame(4, b"TIT2", b"\0t"), 0, 0x10) + audio(3),
    "counted.mp3": overshot(tag(3, frame(3, b"TIT2", b"\0t"), 20)) + audio(3),
    "counted-ogg.mp3": overshot(tag(3, frame(3, b"TIT2", b"\0t"), 0)) + b"OggS\0\2" + bytes(40),
    "tag-junk-only.mp3": tag(3, frame(3, b"TIT2", b"\0t"), 0) + b"\x01junk" * 40,
    "doubled-frames.mp3": tag(3, frame(3, b"TPE1", b"\0a") + frame(3, b"TPE1", b"\0b")
                              + frame(3, b"COMM", b"\0eng\0one") + frame(3, b"COMM", b"\0jpn\0two")
                              + frame(3, b"COMM", b"\0engdesc\0kept")) + audio(1),
    "wave-id3.wav": riff(b"WAVE", [chunk(b"fmt ", bytes(16)), chunk(b"data", bytes(100)), info,
                                   chunk(b"id3 ", tag(3, frame(3, b"TPE1", b"\0a") + frame(3, b"TPE1", b"\0b")))]),
    "wave-ID3.wav": riff(b"WAVE", [chunk(b"fmt ", bytes(16)), chunk(b"data", bytes(100)),
                                   chunk(b"ID3 ", tag(4, frame(4, b"TIT2", b"\3t")))]),
    "rf64.wav": b"RF64\xff\xff\xff\xffWAVE" + chunk(b"ds64", struct.pack("<QQQI", 4 + 36 + 24 + 108, 100, 25, 0))
                + chunk(b"fmt ", bytes(16)) + b"data\xff\xff\xff\xff" + bytes(100),
}
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
