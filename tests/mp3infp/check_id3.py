#!/usr/bin/env python3
"""MP3 and WAVE files made by ffmpeg, some with the odd layouts real collections hold (bytes
before the first frame, a tag whose size claims the first frame's head, WAVE with its tags in an
"id3 " chunk as well, RF64), saved by
SaveTool, then read by independent readers: mutagen, exiftool and ffprobe see the values
(in every tag of the file, so that no reader shows an old one), the decoded audio has the MD5 it
had, and the bytes of the audio are the same bytes. Broken files, and other containers behind an
ID3v2 tag, are refused."""
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

import mutagen.id3
import mutagen.wave

import independent_readers
from independent_readers import audio_md5, ffprobe_tags, read

tool = sys.argv[1]
work = tempfile.mkdtemp()
check = independent_readers.Findings()


def ffmpeg(name, args, transform=None):
    path = os.path.join(work, name)
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "sine=frequency=440:duration=0.5"] + args + [path], check=True)
    if transform:
        data = transform(read(path))
        with open(path, "wb") as f:
            f.write(data)
    return path


def id3_size(data):
    return 10 + (data[6] << 21 | data[7] << 14 | data[8] << 7 | data[9])


def declared_size(data):
    """What the tag's header says it takes, a 2.4 tag's footer included."""
    return id3_size(data) + (10 if data[3] == 4 and data[5] & 0x10 else 0)


def after_tag(extra):
    return lambda data: data[:id3_size(data)] + extra + data[id3_size(data):]


def overshot(data):
    """The tag's size claims the 10 bytes after it, as some writers leave it: a 2.4 tag flagged
    with a footer it lacks, an older one whose size counts its header."""
    if data[3] == 4:
        return data[:5] + bytes([data[5] | 0x10]) + data[6:]
    size = id3_size(data)
    return data[:6] + bytes((size >> s) & 0x7F for s in (21, 14, 7, 0)) + data[10:]


def before(extra):
    return lambda data: extra + data


def riff_chunks(data):
    """[(id, offset of the data, size)] of a RIFF or RF64 file; sizes from ds64 where given."""
    chunks, pos, ds64 = [], 12, None
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        if cid == b"ds64":
            ds64 = struct.unpack("<QQ", data[pos + 8:pos + 24])
        if size == 0xFFFFFFFF and cid == b"data" and ds64:
            size = ds64[1]
        chunks.append((cid, pos + 8, size))
        pos += 8 + size + (size & 1)
    return chunks, ds64


def info_items(data):
    items = {}
    for cid, at, size in riff_chunks(data)[0]:
        if cid == b"LIST" and data[at:at + 4] == b"INFO":
            pos = at + 4
            while pos + 8 <= at + size:
                iid, isize = data[pos:pos + 4].decode(), struct.unpack("<I", data[pos + 4:pos + 8])[0]
                items[iid] = data[pos + 8:pos + 8 + isize].rstrip(b"\0").decode("cp932")
                pos += 8 + isize + (isize & 1)
    return items


def data_chunk(data):
    for cid, at, size in riff_chunks(data)[0]:
        if cid == b"data":
            return data[at:at + size]
    return None


def exiftool(path):
    out = subprocess.run(["exiftool", "-j", "-a", "-G1", "-charset", "ID3=UTF8", path],
                         capture_output=True, check=True).stdout
    return json.loads(out)[0]


MP3_VALUES = {"IART": "新しい歌手", "INAM": "題名", "IPRD": "Album", "ICMT": "a comment"}
WAVE_VALUES = {"IART": "New artist", "INAM": "New title", "ICMT": "new comment"}
ID3_FRAMES = {"IART": "TPE1", "INAM": "TIT2", "IPRD": "TALB"}
INFO_IDS = {"IART": "IART", "INAM": "INAM", "IPRD": "IPRD", "ICMT": "ICMT"}
FFPROBE = {"IART": "artist", "INAM": "title", "IPRD": "album", "ICMT": "comment"}

def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def unsynchronised(data):
    out = bytearray()
    for i, byte in enumerate(data):
        out.append(byte)
        if byte == 0xFF and (i + 1 == len(data) or data[i + 1] == 0 or data[i + 1] >= 0xE0):
            out.append(0)
    return bytes(out)


def frame(version, fid, payload, flags=0):
    size = syncsafe(len(payload)) if version == 4 else struct.pack(">I", len(payload))
    return fid + size + struct.pack(">H", flags) + payload


def compressed(version, fid, payload, flags):
    """A frame stored compressed: 2.3 puts the size before the zlib stream, 2.4 a data length."""
    size = syncsafe(len(payload)) if version == 4 else struct.pack(">I", len(payload))
    return frame(version, fid, size + zlib.compress(payload), flags)


def crafted(version, frames, tag_flags=0):
    """Prepends a tag of `frames`, with padding, to a file without one."""
    body = b"".join(frames)
    if tag_flags & 0x80:
        body = unsynchronised(body)
    return before(b"ID3" + bytes([version, 0, tag_flags]) + syncsafe(len(body) + 40) + body
                  + bytes(40))


def id3_frames(data):
    """(id, flags, stored payload) of each frame of a 2.3 or 2.4 tag at the start of `data`."""
    version, flags, end = data[3], data[5], id3_size(data)
    body = data[10:end]
    if version == 3 and flags & 0x80:
        body = body.replace(b"\xff\x00", b"\xff")
    out, pos = [], 0
    while pos + 10 <= len(body) and body[pos] != 0:
        size = body[pos + 4:pos + 8]
        size = (size[0] << 21 | size[1] << 14 | size[2] << 7 | size[3]) if version == 4 \
            else struct.unpack(">I", size)[0]
        out.append((body[pos:pos + 4], body[pos + 8:pos + 10], body[pos + 10:pos + 10 + size]))
        pos += 10 + size
    return out


PICTURE = b"\0image/png\0\3\0" + bytes(range(256)) * 4
OLD_ARTIST = b"\0Compressed artist"
junk = bytes(random.Random(5).randrange(0, 0xFF) for _ in range(3000))  # no 0xFF: no sync
MP3 = ["-c:a", "libmp3lame", "-b:a", "128k"]
BARE = MP3 + ["-id3v2_version", "0", "-write_xing", "0"]
OLD = ["-metadata", "title=Old", "-metadata", "artist=Old artist"]
mp3s = [
    ("zeros-head.mp3", BARE, before(bytes(2000))),
    ("junk-head.mp3", BARE, before(junk)),
    ("tag-zeros.mp3", MP3 + ["-id3v2_version", "3"] + OLD, after_tag(bytes(2000))),
    ("tag-junk.mp3", MP3 + ["-id3v2_version", "4"] + OLD, after_tag(junk)),
    ("footerless.mp3", MP3 + ["-id3v2_version", "4"] + OLD, overshot),
    ("counted.mp3", MP3 + ["-id3v2_version", "3"] + OLD, overshot),
    # Frames with format flags: kept as stored beside ours, ours replaced plainly.
    ("zlib-v23.mp3", BARE, crafted(3, [compressed(3, b"TPE1", OLD_ARTIST, 0x0080),
                                       compressed(3, b"APIC", PICTURE, 0x0080),
                                       compressed(3, b"TCOM", b"\0Composer", 0x0080)])),
    ("zlib-v23-unsync.mp3", BARE, crafted(3, [frame(3, b"TIT2", b"\0Old"),
                                              compressed(3, b"APIC", PICTURE, 0x0080)], 0x80)),
    ("grouped-v23.mp3", BARE, crafted(3, [frame(3, b"GRID", b"grp\0\x81"),
                                          frame(3, b"ENCR", b"me\0\x82"),
                                          frame(3, b"TXXX", b"\x81\0k\0v", 0x0020),
                                          frame(3, b"PRIV", b"\x82xyz", 0x0040)])),
    ("zlib-v24.mp3", BARE, crafted(4, [compressed(4, b"TPE1", OLD_ARTIST, 0x0009),
                                       compressed(4, b"APIC", PICTURE, 0x0009)])),
    ("unsync-v24.mp3", BARE, crafted(4, [
        frame(4, b"TALB", syncsafe(5) + unsynchronised(b"\x01\xff\xfeA\0"), 0x0003),
        frame(4, b"APIC", unsynchronised(PICTURE), 0x0002),
        frame(4, b"GRID", b"grp\0\x81"), frame(4, b"TXXX", b"\x81\0k\0v", 0x0040),
        frame(4, b"PRIV", b"\x82xyz", 0x0004)])),
]
# The bytes that a tag's size claims beyond its end: the head of the first frame. Readers that
# trust the size skip that frame, which holds the encoder's delay; the saved file has the tag's
# true size, and decodes as the stream without the tag does.
OVERSHOT = {"footerless.mp3": 10, "counted.mp3": 10}
OURS = {b"TPE1", b"TIT2", b"TALB", b"COMM"}
for name, args, transform in mp3s:
    path = ffmpeg(name, args, transform)
    original = read(path)
    saved = path + ".saved.mp3"
    result = independent_readers.save_tool(tool, path, saved,
                                           {k + "_v2": v for k, v in MP3_VALUES.items()})
    if result.returncode != 0:
        check(False, f"{name}: refused ({result.returncode})")
        continue
    data = read(saved)
    tags = mutagen.id3.ID3(saved)
    for key, frame in ID3_FRAMES.items():
        check(str(tags.get(frame)) == MP3_VALUES[key], f"{name}: mutagen {frame} {tags.get(frame)}")
    check([c.text[0] for c in tags.getall("COMM")] == [MP3_VALUES["ICMT"]], f"{name}: mutagen COMM")
    exif = exiftool(saved)
    check(exif.get("ID3v2_3:Title", exif.get("ID3v2_4:Title")) == MP3_VALUES["INAM"],
          f"{name}: exiftool title")
    probe = ffprobe_tags(saved)
    check(probe.get("title") == MP3_VALUES["INAM"], f"{name}: ffprobe title {probe.get('title')}")
    # Everything after the tag, the bytes before the first frame included, is as it was.
    old_tag = declared_size(original) - OVERSHOT.get(name, 0) if original.startswith(b"ID3") else 0
    reference = path
    if name in OVERSHOT:
        reference = path + ".stream.mp3"
        with open(reference, "wb") as f:
            f.write(original[old_tag:])
    check(audio_md5(saved) == audio_md5(reference) is not None, f"{name}: decoded audio changed")
    check(data[id3_size(data):] == original[old_tag:], f"{name}: bytes after the tag changed")
    # Every frame not ours: its flags and stored bytes, and what mutagen makes of it.
    theirs = lambda frames: [f for f in frames if f[0] not in OURS]
    check(not original.startswith(b"ID3") or theirs(id3_frames(data)) == theirs(id3_frames(original)),
          f"{name}: other frames changed")
    check(data[5] == 0, f"{name}: tag flags {data[5]:#x}")
    if original.startswith(b"ID3"):
        view = lambda tags: sorted(repr(f) for f in tags.values() if f.FrameID.encode() not in OURS)
        check(view(tags) == view(mutagen.id3.ID3(path)), f"{name}: mutagen sees other frames change")
    print(f"{name}: {result.stdout.decode().strip()}")


def with_id3_chunk(chunk_id):
    """The file with an ID3v2 chunk (written by mutagen) holding two artists and old values."""
    def transform(data):
        path = os.path.join(work, "id3-chunk.tmp.wav")
        with open(path, "wb") as f:
            f.write(data)
        wave = mutagen.wave.WAVE(path)
        wave.add_tags()
        wave.tags.add(mutagen.id3.TIT2(encoding=3, text="Old"))
        wave.tags.add(mutagen.id3.TPE1(encoding=3, text="Old artist"))
        wave.tags.add(mutagen.id3.COMM(encoding=3, lang="eng", desc="", text="old"))
        wave.save()
        return read(path).replace(b"id3 ", chunk_id, 1)
    return transform


WAVE = ["-c:a", "pcm_s16le"]
waves = [
    ("id3-chunk.wav", WAVE + OLD, with_id3_chunk(b"id3 "), True),
    ("ID3-chunk.wav", WAVE, with_id3_chunk(b"ID3 "), True),
    ("rf64.wav", ["-c:a", "pcm_s16le", "-rf64", "always"] + OLD, None, False),
    ("rf64-bare.wav", ["-c:a", "pcm_s16le", "-rf64", "always"], None, False),
]
for name, args, transform, has_id3 in waves:
    path = ffmpeg(name, args, transform)
    original = read(path)
    saved = path + ".saved.wav"
    result = independent_readers.save_tool(tool, path, saved, WAVE_VALUES)
    if result.returncode != 0:
        check(False, f"{name}: refused ({result.returncode})")
        continue
    data = read(saved)
    info = info_items(data)
    for key, value in WAVE_VALUES.items():
        check(info.get(INFO_IDS[key]) == value, f"{name}: INFO {key} {info.get(INFO_IDS[key])}")
    probe = ffprobe_tags(saved)
    for key, value in WAVE_VALUES.items():
        check(probe.get(FFPROBE[key]) == value, f"{name}: ffprobe {key} {probe.get(FFPROBE[key])}")
    exif = exiftool(saved)
    check(exif.get("RIFF:Title") == WAVE_VALUES["INAM"], f"{name}: exiftool RIFF title")
    if has_id3:
        tags = mutagen.wave.WAVE(saved).tags
        check(tags is not None and str(tags.get("TIT2")) == WAVE_VALUES["INAM"] and
              str(tags.get("TPE1")) == WAVE_VALUES["IART"], f"{name}: mutagen id3 chunk")
        titles = [v for k, v in exif.items() if k.endswith(":Title") and k.startswith("ID3")]
        # ExifTool reads the chunk only by its lower-case name.
        check(titles == [WAVE_VALUES["INAM"]] or name.startswith("ID3"),
              f"{name}: exiftool ID3 {titles}")
    chunks, ds64 = riff_chunks(data)
    if ds64:
        check(ds64[0] == len(data) - 8, f"{name}: ds64 RIFF size {ds64[0]} of {len(data)}")
        check(data[4:8] == b"\xff\xff\xff\xff", f"{name}: RF64 header size")
    else:
        check(struct.unpack("<I", data[4:8])[0] == len(data) - 8, f"{name}: RIFF size")
    check(data_chunk(data) == data_chunk(original), f"{name}: data chunk changed")
    check(audio_md5(saved) == audio_md5(path) is not None, f"{name}: decoded audio changed")
    print(f"{name}: {result.stdout.decode().strip()}")


def refused(name, data):
    path = os.path.join(work, name)
    with open(path, "wb") as f:
        f.write(data)
    result = subprocess.run([tool, path, path + ".out", "INAM=x"], capture_output=True)
    check(result.returncode == 2 and not os.path.exists(path + ".out"), f"{name}: not refused")


# Another container or junk behind a tag whose size claims its head: nothing to take for MPEG.
ogg = read(ffmpeg("vorbis.ogg", ["-c:a", "libvorbis"]))
counted = read(os.path.join(work, "counted.mp3"))
refused("tag-ogg.mp3", counted[:id3_size(counted) - 10] + ogg)
tagged = read(os.path.join(work, "tag-junk.mp3"))
refused("tag-junk-only.mp3", tagged[:id3_size(tagged)] + junk)
# A tag that claims more bytes than the file has; an RF64 file whose ds64 does.
mp3 = read(ffmpeg("claims.mp3", MP3 + ["-id3v2_version", "3"] + OLD))
refused("claims.mp3", mp3[:6] + bytes([0, 0x7F, 0x7F, 0x7F]) + mp3[10:])
rf64 = bytearray(read(os.path.join(work, "rf64.wav")))
struct.pack_into("<Q", rf64, 20, len(rf64) * 2)
refused("rf64-claims.wav", bytes(rf64))

shutil.rmtree(work)
sys.exit(check.finish())
