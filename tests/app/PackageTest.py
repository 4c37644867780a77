#!/usr/bin/python3
"""The Windows download as a user gets it, under Wine and X.

scripts/make-package.py packs the tested build; the zip must be named for the version and hold
exactly its five files in one folder. Unpacked into an empty folder: the texts are as a Windows
editor shows them, the sample rules are byte for byte those the program reads, the version block
of both binaries reads back (through version.dll, as Explorer's properties read it). Then the
program is started from there, from another working folder, on a folder of music: the main window
appears, the sample rules beside the program fill the row, and saving in place writes the values
into the file through the unpacked mp3infp.dll. Started again on an album folder of every format
with a cover and a cue sheet, the sample rules fill every audio row and no other, as the status
bar says.

Usage: PackageTest.py <bin folder> <version>   (DISPLAY must name a running X server)
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

from mutagen.id3 import ID3

import wine_gui
from wine_gui import ROOT, check, mp3, probe, wait_until, wine, windows_path, xdotool

BIN = os.path.abspath(sys.argv[1])
VERSION = sys.argv[2]
FILES = ["tagwhirl.exe", "mp3infp.dll", "_rules.txt", "rules-guide.txt", "readme.txt"]
FIRST_RULE = r"$K - $A - $T/\.(?i:mp3|rmp|wav|flac|ogg|oga|opus|m4a|m4b|mp4)$/"
# An album folder: the name in it and the sample it is a copy of (None: an MP3 without tags,
# "": not audio).
ALBUM = [
    ("01 - Blue Harbor - Morning Train.mp3", None),
    ("02 - Blue Harbor - Harbour Lights.flac", "flac-padded.flac"),
    ("03 - Blue Harbor - Night Ferry.m4a", "m4a-moov-first.m4a"),
    ("04 - Blue Harbor - Low Tide.ogg", "ogg-vorbis.ogg"),
    ("05 - Blue Harbor - Last Call.opus", "ogg-opus.opus"),
    ("cover.jpg", ""),
    ("Summer Log.cue", ""),
]
wine_gui.init(BIN)


def make_zip(work):
    made = subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "make-package.py"), BIN,
                           VERSION, os.path.join(work, "out")], capture_output=True, text=True)
    check(made.returncode == 0, "make-package.py succeeds " + made.stderr)
    path = made.stdout.strip()
    check(os.path.basename(path) == "tagwhirl-%s-win32.zip" % VERSION,
          "the zip is named for the version: " + path)
    return path


def unpack(zip_path, work):
    with zipfile.ZipFile(zip_path) as package:
        names = package.namelist()
        folder = "tagwhirl-%s/" % VERSION
        check(sorted(names) == sorted(folder + name for name in FILES),
              "the zip holds the five files in one folder: %s" % names)
        target = os.path.join(work, "unpacked")
        os.makedirs(target)
        check(not os.listdir(target), "unpacked into an empty folder")
        package.extractall(target)
    return os.path.join(target, folder)


def check_texts(app):
    with open(os.path.join(app, "_rules.txt"), "rb") as f:
        rules = f.read()
    with open(os.path.join(ROOT, "rules", "_rules.txt"), "rb") as f:
        check(rules == f.read(), "_rules.txt is the sample byte for byte")
    check(re.search(rb"(?<!\r)\n", rules) is None, "_rules.txt has CR LF line ends")
    # Every file that the sample's comments point to is in the package.
    for named in set(re.findall(r"[A-Za-z0-9_-]+\.txt", rules.decode("cp932"))) - {"rules.txt"}:
        check(named in FILES, "_rules.txt points to %s, which is packed" % named)

    for name, source in (("rules-guide.txt", "docs/rules.md"), ("readme.txt", None)):
        with open(os.path.join(app, name), "rb") as f:
            data = f.read()
        check(data.startswith(b"\xef\xbb\xbf"), name + " starts with a UTF-8 byte-order mark")
        check(re.search(rb"(?<!\r)\n", data) is None, name + " has CR LF line ends")
        text = data[3:].decode("utf-8").replace("\r\n", "\n")
        if source:
            with open(os.path.join(ROOT, source), encoding="utf-8") as f:
                check(text == f.read(), name + " is " + source)
        else:
            check(text.startswith("tagwhirl %s\n" % VERSION), name + " names the version")


def check_versions(app):
    dotted = VERSION + ".0" * (4 - len(VERSION.split(".")))
    for name in ("tagwhirl.exe", "mp3infp.dll"):
        read = wine(os.path.join(BIN, "VersionProbe.exe"), windows_path(os.path.join(app, name)))
        lines = read.stdout.replace("\r", "").splitlines()
        print("\n".join("     " + line for line in lines))
        check(read.returncode == 0, name + " has a version block")
        for wanted in ("fixed " + dotted, "product " + dotted, "FileVersion: " + VERSION,
                       "ProductVersion: " + VERSION, "OriginalFilename: " + name,
                       "ProductName: tagwhirl"):
            check(wanted in lines, "%s: %s" % (name, wanted))


def run_program(app, work):
    music = os.path.join(work, "music")
    elsewhere = os.path.join(work, "elsewhere")
    os.makedirs(music)
    os.makedirs(elsewhere)
    song = os.path.join(music, "01 - Blue Harbor - Morning Train.mp3")
    with open(song, "wb") as f:
        f.write(mp3())

    # Started from another folder: the rules are found beside the program, not in the working
    # folder.
    started = wine_gui.start(os.path.join(app, "tagwhirl.exe"), music, cwd=elsewhere)
    if not started:
        return
    program, window = started

    # Selecting the row (Ctrl+A) shows the rule that intake gave it in the rule box. A key sent
    # before the window has the X focus is lost, so it is sent again until the box answers.

    def rule_shown():
        xdotool("windowfocus", "--sync", window)
        xdotool("key", "ctrl+a")
        time.sleep(0.3)
        return probe("text", "tagwhirl.MainWindow", "class:ComboBoxEx32") == FIRST_RULE

    check(wait_until(rule_shown, 15),
          "the row got the first sample rule (rule box: %r)" %
          probe("text", "tagwhirl.MainWindow", "class:ComboBoxEx32"))

    # Saving in place writes what the rule found, through the unpacked library.
    at = probe("rect", "tagwhirl.MainWindow", "text:保存(&S)").split()
    check(len(at) == 2, "found 保存(&S)")
    if len(at) == 2:
        xdotool("mousemove", "--sync", at[0], at[1], "click", "1")

    def tagged():
        try:
            tags = ID3(song)
        except Exception:
            return False
        return str(tags.get("TPE1")) == "Blue Harbor"

    check(wait_until(tagged, 20), "saving wrote the artist into the file")
    if tagged():
        tags = ID3(song)
        check(str(tags.get("TIT2")) == "Morning Train", "title %r" % str(tags.get("TIT2")))
        check(str(tags.get("TRCK")) == "01", "track %r" % str(tags.get("TRCK")))

    wine_gui.close(program, window)


def run_album(app, work):
    samples, album = os.path.join(work, "samples"), os.path.join(work, "album")
    made = subprocess.run([sys.executable, os.path.join(ROOT, "tests", "mp3infp",
                                                        "make_format_samples.py"), samples],
                          capture_output=True, text=True)
    if not check(made.returncode == 0, "make_format_samples.py succeeds " + made.stderr):
        return
    os.makedirs(album)
    for name, sample in ALBUM:
        if sample:
            shutil.copy(os.path.join(samples, sample), os.path.join(album, name))
        else:
            with open(os.path.join(album, name), "wb") as f:
                f.write(mp3() if sample is None else b"not audio")
    started = wine_gui.start(os.path.join(app, "tagwhirl.exe"), album)
    if not started:
        return
    program, window = started
    audio = sum(1 for _, sample in ALBUM if sample != "")
    wanted = "%d 個のファイルを追加し、そのうち %d 個を _rules.txt のルールで埋めました。" % (
        len(ALBUM), audio)

    def status():
        return probe("text", "tagwhirl.MainWindow", "class:msctls_statusbar32")

    check(wait_until(lambda: status() == wanted, 15),
          "the sample rules fill every audio row and no other (status bar: %r)" % status())
    wine_gui.close(program, window)


def main():
    work = tempfile.mkdtemp(prefix="package.", dir=os.path.join(BIN, ".."))
    try:
        zip_path = make_zip(work)
        if not os.path.exists(zip_path):
            return
        app = unpack(zip_path, work)
        check_texts(app)
        check_versions(app)
        run_program(app, work)
        run_album(app, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


main()
sys.exit(wine_gui.finish("PackageTest"))
