#!/usr/bin/env python3
"""Reads the files that mp3infp.dll wrote under Wine (ReaderSamples) with independent readers
and compares every value with what went in: mutagen and mid3v2 (ID3v2 and its version),
exiftool (ID3v1, RIFF INFO and ID3v2), id3v2 (a reader that knows only 2.3); for FLAC, Ogg
Vorbis, Opus and M4A independent_readers.py: mutagen, the format's own tool, ffprobe, the decoded
audio's MD5 and the bytes after the metadata, each copy against the sample it was saved from
(NAME.orig). Japanese values must come back as the Unicode of their code-page 932 bytes, by
iconv's CP932 table, which is Windows' own (0x8160 is U+FF5E there)."""
import json
import os
import re
import subprocess
import sys

from mutagen.id3 import ID3, ParseID3v1

import independent_readers

folder = sys.argv[1]
check = independent_readers.Findings()


def from_cp932(data):
    return subprocess.run(["iconv", "-f", "CP932", "-t", "UTF-8"], input=data,
                          capture_output=True, check=True).stdout.decode("utf-8")


def latin_bytes(text):
    """ExifTool has no CP932 setting: it is asked for its Latin set (cp1252), whose text maps
    back to the stored bytes; code points cp1252 leaves undefined stand for themselves."""
    out = bytearray()
    for ch in text:
        try:
            out += ch.encode("cp1252")
        except UnicodeEncodeError:
            out.append(ord(ch))
    return bytes(out)


def run(*command):
    result = subprocess.run(command, capture_output=True)
    check(result.returncode == 0, f"{' '.join(command)} failed: {result.stderr!r}")
    return result.stdout.decode("utf-8", "replace")


expected = {}
with open(os.path.join(folder, "expected.tsv"), "rb") as f:
    for line in f:
        name, tag, key, value = line.rstrip(b"\n").decode("ascii").split("\t")
        raw = bytes.fromhex(value)
        expected.setdefault((name, tag), {})[key] = (raw, from_cp932(raw))
check(expected, "no expected values")

V2_FRAMES = {"IART": "TPE1", "IPRD": "TALB", "INAM": "TIT2", "TRACK": "TRCK", "IGNR": "TCON"}
VERSIONS = {"created23.mp3": (2, 3, 0), "ascii23.mp3": (2, 3, 0), "existing24.mp3": (2, 4, 0),
            "existing22.mp3": (2, 2, 0), "dated23.mp3": (2, 3, 0), "dated22.mp3": (2, 2, 0),
            "dated24.mp3": (2, 4, 0), "redated23.mp3": (2, 3, 0)}
# The date frames as stored (None: the frame must be gone); mutagen names 2.2's TYE and TDA as
# their 2.3 successors.
DATE_FRAMES = {"dated23.mp3": {"TYER": "2024", "TDAT": "0105", "TDRC": None},
               "dated22.mp3": {"TYER": "2024", "TDAT": "0105"},
               "dated24.mp3": {"TDRC": "2024-05-01", "TYER": None, "TDAT": None},
               "redated23.mp3": {"TYER": "2024", "TDAT": None, "TIME": "2359"}}
V1_NAMES = {"IART": "Artist", "IPRD": "Album", "INAM": "Title", "TRACK": "Track",
            "IGNR": "Genre", "ICRD": "Year", "ICMT": "Comment"}
V1_SIZES = {"IART": 30, "IPRD": 30, "INAM": 30, "ICRD": 4, "ICMT": 28}
INFO_NAMES = {"IART": "Artist", "IPRD": "Product", "INAM": "Title", "TRACK": "TrackNumber",
              "IGNR": "Genre", "ICRD": "DateCreated", "ICMT": "Comment"}


def exiftool(path):
    output = run("exiftool", "-j", "-a", "-G1", "-s", "-charset", "ID3=Latin",
                 "-charset", "RIFF=Latin", path)
    return json.loads(output)[0]


def iso_date(text):
    """A date given with "/" or "." between its parts, as it reads back: the ISO form."""
    return re.sub(r"\A([0-9]{4})[/.]([0-9]{2})[/.]([0-9]{2})\Z", r"\1-\2-\3", text)


def v2_values(tags, joined):
    """The values as mutagen reads them. The date comes from `joined`, the tag as mutagen
    upgrades it to 2.4, which joins TYER and TDAT into TDRC by itself."""
    values = {key: str(tags[frame].text[0]) for key, frame in V2_FRAMES.items() if frame in tags}
    if "TDRC" in joined:
        values["ICRD"] = str(joined["TDRC"].text[0])
    for comment in tags.getall("COMM"):
        if comment.desc == "":
            values["ICMT"] = comment.text[0]
    return values


def check_v1_by_mutagen(path, where, values):
    """ID3v1 after a RIFF chunk, which exiftool does not look for."""
    with open(path, "rb") as f:
        frames = ParseID3v1(f.read()[-128:]) or {}
    got = {key: frames[frame].text[0] for key, frame in V2_FRAMES.items() if frame in frames}
    got.update({"ICRD": frames["TDRC"].text[0] if "TDRC" in frames else None})
    for comment in frames.values():
        if comment.FrameID == "COMM":
            got["ICMT"] = comment.text[0]
    for key, (raw, text) in values.items():
        value = got.get(key)
        if value is not None and key not in ("TRACK", "IGNR", "ICRD"):
            value = from_cp932(str(value).encode("latin-1"))
        check(str(value) == text, f"{where} {key}: mutagen {value!r}, expected {text!r}")


def check_v2_by_exiftool(path, where, values):
    """ID3v2 in the "id3 " chunk of a RIFF file, which mutagen reads only for WAVE."""
    info = exiftool(path)
    names = {"IART": "Artist", "IPRD": "Album", "INAM": "Title", "TRACK": "Track",
             "IGNR": "Genre", "ICRD": "Year", "ICMT": "Comment-jpn"}
    for key, (_, text) in values.items():
        value = info.get(f"ID3v2_3:{names[key]}")
        check(str(value) == text, f"{where} {key}: exiftool {value!r}, expected {text!r}")


formats = set()
for (name, tag), values in sorted(expected.items()):
    path = os.path.join(folder, name)
    where = f"{name} [{tag}]"
    riff = name.endswith(".rmp")
    if tag == "v1" and riff:
        check_v1_by_mutagen(path, where, values)
    elif tag == "v2" and riff:
        check_v2_by_exiftool(path, where, values)
    elif tag == "v2":
        tags = ID3(path, translate=False)
        if name in VERSIONS:
            check(tags.version == VERSIONS[name], f"{where}: version {tags.version}")
        got = v2_values(tags, ID3(path))
        listing = run("mid3v2", "--list-raw", path)
        for key, (_, text) in values.items():
            if key == "ICRD":
                text = iso_date(text)
            check(got.get(key) == text, f"{where} {key}: mutagen {got.get(key)!r}, expected {text!r}")
            if key != "ICRD" or name not in DATE_FRAMES:  # dates: frame by frame below
                check(text in listing, f"{where} {key}: {text!r} not in mid3v2 --list-raw")
        for frame, text in DATE_FRAMES.get(name, {}).items():
            stored = str(tags[frame].text[0]) if frame in tags else None
            check(stored == text, f"{where} {frame}: mutagen {stored!r}, expected {text!r}")
        if tags.version[:2] == (2, 3):
            listing = run("id3v2", "-l", path)
            for frame in ("TPE1", "TALB", "TIT2", "TRCK", "TCON", "TYER", "COMM"):
                check(frame in listing, f"{where}: id3v2 does not list {frame}")
            for frame, text in DATE_FRAMES.get(name, {}).items():
                if text is not None:
                    check(re.search(rf"^{frame} .*: {text}$", listing, re.M),
                          f"{where}: id3v2 does not list {frame} {text!r}")
            if name == "ascii23.mp3":
                for key, (_, text) in values.items():
                    check(text in listing, f"{where} {key}: {text!r} not in id3v2 -l")
    elif tag in ("vorbis", "mp4"):
        independent_readers.check_saved(check, path, path + ".orig",
                                        {key: text for key, (_, text) in values.items()})
        formats.add(independent_readers.kind_of(independent_readers.read(path)))
    elif tag in ("v1", "info"):
        group, names = ("ID3v1", V1_NAMES) if tag == "v1" else ("RIFF", INFO_NAMES)
        info = exiftool(path)
        for key, (raw, text) in values.items():
            value = info.get(f"{group}:{names[key]}")
            check(value is not None, f"{where} {key}: exiftool has no {group}:{names[key]}")
            if value is None:
                continue
            got = str(value) if isinstance(value, int) else from_cp932(latin_bytes(value))
            if tag == "v1" and key in V1_SIZES and len(raw) > V1_SIZES[key]:
                # Cut to the field, never inside a character.
                size = len(got.encode("cp932", "replace"))
                check(text.startswith(got) and V1_SIZES[key] - 1 <= size <= V1_SIZES[key],
                      f"{where} {key}: exiftool {got!r}, expected a cut of {text!r}")
            else:
                check(got == text, f"{where} {key}: exiftool {got!r}, expected {text!r}")

# Frames that were not set, and the audio, are as they were.
original = ID3(os.path.join(folder, "existing24.orig.mp3"), translate=False)
saved = ID3(os.path.join(folder, "existing24.mp3"), translate=False)
ours = set(V2_FRAMES.values()) | {"TDRC", "TYER", "TDAT"}
for key, frame in original.items():
    if frame.FrameID in ours or (frame.FrameID == "COMM" and frame.desc == ""):
        continue
    check(key in saved and repr(saved[key]) == repr(frame), f"existing24: {key} changed")
check(any(k.startswith("APIC") for k in saved.keys()), "existing24: the picture is gone")


def audio(path):
    with open(path, "rb") as f:
        data = f.read()
    start = 10 + ((data[6] << 21) | (data[7] << 14) | (data[8] << 7) | data[9]) if data[:3] == b"ID3" else 0
    end = len(data) - 128 if data[-128:-125] == b"TAG" else len(data)
    return data[start:end]


check(audio(os.path.join(folder, "existing24.orig.mp3")) == audio(os.path.join(folder, "existing24.mp3")),
      "existing24: audio changed")

# Every format that the samples hold was saved and read.
check(formats == {"flac", "vorbis", "opus", "mp4"}, f"formats checked: {sorted(formats)}")

print(f"{len(expected)} tag groups checked")
sys.exit(check.finish())
