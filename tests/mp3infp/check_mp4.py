#!/usr/bin/env python3
"""M4A files made by ffmpeg, saved by Mp4SaveTool, then read by independent readers: mutagen
and ffprobe see the values; the decoded audio (ffmpeg's MD5 of the samples) and the raw bytes of
mdat are as they were; cover art and freeform items are kept byte for byte."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import mutagen.mp4

tool = sys.argv[1]
work = tempfile.mkdtemp()
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def boxes(data, begin, end):
    at = begin
    while at + 8 <= end:
        size, kind = struct.unpack(">I4s", data[at:at + 8])
        header = 8
        if size == 1:
            size, header = struct.unpack(">Q", data[at + 8:at + 16])[0], 16
        elif size == 0:
            size = end - at
        yield kind, at, header, size
        at += size


def find(data, path, begin=0, end=None):
    end = len(data) if end is None else end
    for kind, at, header, size in boxes(data, begin, end):
        if kind == path[0]:
            payload = at + header + (4 if kind == b"meta" else 0)
            return (at, at + size) if len(path) == 1 else find(data, path[1:], payload, at + size)
    return None


def chunk_offsets(data):
    stbl = find(data, [b"moov", b"trak", b"mdia", b"minf", b"stbl"])
    for kind, at, header, size in boxes(data, stbl[0] + 8, stbl[1]):
        if kind in (b"stco", b"co64"):
            count = struct.unpack(">I", data[at + 12:at + 16])[0]
            width = 4 if kind == b"stco" else 8
            return kind, [int.from_bytes(data[at + 16 + i * width:at + 16 + (i + 1) * width], "big")
                          for i in range(count)]


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


def audio_md5(path):
    return subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:a", "-f", "md5", "-"],
                          capture_output=True, check=True).stdout


def ffprobe_tags(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format_tags",
                          "-of", "default=nw=1", path], capture_output=True, text=True, check=True)
    return dict(line[4:].split("=", 1) for line in out.stdout.splitlines() if line.startswith("TAG:"))


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
]
values = {"IART": "新しい歌手", "IPRD": "Album", "INAM": "題名", "TRACK": "5", "IGNR": "Jazz",
          "ICRD": "2024", "ICMT": "comment " * 40}
for name, codec, flags, tags, cover, transform in samples:
    path = make(name, codec, flags, tags, cover, transform)
    before = open(path, "rb").read()
    old = mutagen.mp4.MP4(path)
    old_md5 = audio_md5(path)
    saved = path + ".saved.m4a"
    args = [tool, path, saved] + [f"{k}={v}" for k, v in values.items()]
    result = subprocess.run([a.encode("cp932") for a in args], capture_output=True)
    if result.returncode != 0:
        failures.append(f"{name}: save failed ({result.returncode})")
        continue
    after = open(saved, "rb").read()
    new = mutagen.mp4.MP4(saved)
    expect = {"\xa9ART": [values["IART"]], "\xa9alb": ["Album"], "\xa9nam": [values["INAM"]],
              "\xa9gen": ["Jazz"], "\xa9day": ["2024"], "\xa9cmt": [values["ICMT"]]}
    for key, value in expect.items():
        check(new.tags.get(key) == value, f"{name}: mutagen {key} = {new.tags.get(key)}")
    check(new.tags.get("trkn") == [(5, 9 if tags else 0)], f"{name}: trkn {new.tags.get('trkn')}")
    check("gnre" not in new.tags, f"{name}: gnre left")
    for key in ("covr", "----:com.apple.iTunes:MOOD", "\xa9too"):
        check(old.tags is None or new.tags.get(key) == old.tags.get(key), f"{name}: {key} changed")
    probe = ffprobe_tags(saved)
    for key, value in (("artist", values["IART"]), ("album", "Album"), ("title", values["INAM"]),
                       ("genre", "Jazz"), ("date", "2024"), ("comment", values["ICMT"]),
                       ("track", "5/9" if tags else "5")):
        check(probe.get(key) == value, f"{name}: ffprobe {key} = {probe.get(key)!r}")
    check(audio_md5(saved) == old_md5, f"{name}: decoded audio differs")
    mdat_old, mdat_new = find(before, [b"mdat"]), find(after, [b"mdat"])
    check(before[mdat_old[0]:mdat_old[1]] == after[mdat_new[0]:mdat_new[1]], f"{name}: mdat differs")
    (kind_old, offsets_old), (kind_new, offsets_new) = chunk_offsets(before), chunk_offsets(after)
    check(kind_old == kind_new, f"{name}: {kind_old} became {kind_new}")
    shift = mdat_new[0] - mdat_old[0]
    check(offsets_new == [o + shift for o in offsets_old], f"{name}: chunk offsets not moved by {shift}")
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
for failure in failures:
    print("FAIL", failure)
sys.exit(1 if failures else 0)
