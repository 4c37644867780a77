#!/usr/bin/python3
"""A folder of mixed MP3, FLAC, Ogg Vorbis, Opus and M4A files through the whole program, under
Wine and X with real keyboard and mouse input.

The files are named "Artist - Title.ext" (the FLAC, Ogg and M4A ones made by Debian's encoders
through make_format_samples.py, with and without room for a new tag, with old values, pictures
and cover art). tagwhirl starts on the folder, every row is selected, the rule "$A - $T.$I" (one
rule for every extension) is typed into the rule box, and "保存(&S)" saves in place. Then every file
must carry the artist and title as mutagen reads them; for the formats other than MP3 also as
the format's own tool and ffprobe read them, with the decoded audio, the bytes after the
metadata and every other item as they were (independent_readers.py). The status bar must count
the files saved and the two it passed by (a cover and a cue sheet, which cannot be tagged), and a
second save must write nothing: every file keeps its bytes and its modification time.

Usage: MixedFormatsTest.py <bin folder>   (DISPLAY must name a running X server)
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

import re

from mutagen.id3 import ID3, TCON, TPE1

import wine_gui
from wine_gui import ROOT, check, mp3, wait_until

sys.path.insert(0, os.path.join(ROOT, "tests", "mp3infp"))
import independent_readers  # noqa: E402

BIN = os.path.abspath(sys.argv[1])
STATUS = ("tagwhirl.MainWindow", "class:msctls_statusbar32")
# Files the library cannot tag: shown, and passed by.
UNTAGGABLE = {"cover.jpg": b"\xff\xd8\xff\xe0 JFIF", "Album.cue": b'FILE "Says.mp3" MP3\r\n'}
wine_gui.init(BIN)

# The name in the folder, the sample it is a copy of (None: an MP3 without tags), and the values
# the rule must find in the name.
FILES = [
    ("Blue Harbor - Morning Train.mp3", None, "Blue Harbor", "Morning Train"),
    ("Nils Frahm - Says.mp3", "id3", "Nils Frahm", "Says"),
    ("青空楽団 - 朝の電車.flac", "flac-padded.flac", "青空楽団", "朝の電車"),
    ("Tight Band - No Room.flac", "flac-tight.flac", "Tight Band", "No Room"),
    ("ソロ - 表示テスト.ogg", "ogg-vorbis.ogg", "ソロ", "表示テスト"),
    ("Opus Trio - Night Call.opus", "ogg-opus.opus", "Opus Trio", "Night Call"),
    ("Fast Start - 最初に.m4a", "m4a-moov-first.m4a", "Fast Start", "最初に"),
    ("Late Moov - Last.m4a", "m4a-moov-last.m4a", "Late Moov", "Last"),
]


def artist_and_title(path):
    """What mutagen reads as the file's artist and title; None while it reads nothing."""
    try:
        if path.endswith(".mp3"):
            tags = ID3(path)
            return str(tags.get("TPE1")), str(tags.get("TIT2"))
        import mutagen
        tags = mutagen.File(path).tags or {}
        names = ("\xa9ART", "\xa9nam") if path.endswith(".m4a") else ("artist", "title")
        return tuple((tags.get(name) or [None])[0] for name in names)
    except Exception:
        return None


def probe_status():
    return re.sub(r"\s+", " ", wine_gui.probe("text", *STATUS))


def run(work):
    samples, music, originals = (os.path.join(work, d) for d in ("samples", "music", "orig"))
    made = subprocess.run([sys.executable, os.path.join(ROOT, "tests", "mp3infp",
                                                        "make_format_samples.py"), samples],
                          capture_output=True, text=True)
    if not check(made.returncode == 0, "make_format_samples.py succeeds " + made.stderr):
        return
    for folder in (music, originals):
        os.makedirs(folder)
    for name, sample, _, _ in FILES:
        if sample and sample != "id3":
            shutil.copy(os.path.join(samples, sample), os.path.join(music, name))
        else:
            with open(os.path.join(music, name), "wb") as f:
                f.write(mp3())
        if sample == "id3":
            # A wrong artist the rule corrects, and a genre it leaves.
            tags = ID3()
            tags.add(TPE1(encoding=3, text="unknown"))
            tags.add(TCON(encoding=3, text="Ambient"))
            tags.save(os.path.join(music, name))
        shutil.copy(os.path.join(music, name), os.path.join(originals, name))
    for name, data in UNTAGGABLE.items():
        with open(os.path.join(music, name), "wb") as f:
            f.write(data)

    app = wine_gui.make_app(work)
    started = wine_gui.start(os.path.join(app, "tagwhirl.exe"), music)
    if not started:
        return
    program, window = started
    wine_gui.apply_rule("$A - $T.$I")
    # In place: no output folder chosen.
    wine_gui.click("text:保存(&S)")

    def all_saved():
        return all(artist_and_title(os.path.join(music, name)) == (artist, title)
                   for name, _, artist, title in FILES)

    check(wait_until(all_saved, 60), "every file carries its artist and title")
    saved = "%d 個のファイルを保存しました（変更なし %d 個、失敗 0 個）"
    check(wait_until(lambda: probe_status() == saved % (len(FILES), len(UNTAGGABLE)), 30),
          "the status bar counts the saved and the unchanged files (%r)" % probe_status())

    def snapshot():
        return {name: (open(os.path.join(music, name), "rb").read(),
                       os.stat(os.path.join(music, name)).st_mtime_ns)
                for name in os.listdir(music)}
    before = snapshot()
    time.sleep(1.5)
    wine_gui.click("text:保存(&S)")
    again = saved % (0, len(FILES) + len(UNTAGGABLE))
    check(wait_until(lambda: probe_status() == again, 30),
          "a second save changes nothing (%r)" % probe_status())
    after = snapshot()
    for name in before:
        check(after.get(name) == before[name], "%s keeps its bytes and time" % name)
    wine_gui.close(program, window)

    for name, sample, artist, title in FILES:
        path, original = os.path.join(music, name), os.path.join(originals, name)
        got = artist_and_title(path)
        check(got == (artist, title), "%s: mutagen reads %r" % (name, got))
        if sample and sample != "id3":
            findings = []
            independent_readers.check_saved(
                lambda ok, what: ok or findings.append(what), path, original,
                {"IART": artist, "INAM": title})
            check(not findings, "%s: independent readers agree %s" % (name, findings))
        else:
            with open(path, "rb") as f:
                check(f.read().find(mp3()) >= 0, "%s: audio frames unchanged" % name)


def main():
    work = tempfile.mkdtemp(prefix="mixed.", dir=os.path.join(BIN, ".."))
    try:
        run(work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


main()
sys.exit(wine_gui.finish("MixedFormatsTest"))
