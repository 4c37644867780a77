#!/usr/bin/python3
"""The whole program as a person uses it, under Wine and X with real keyboard and mouse input.

tagwhirl starts with a folder of MP3 files on its command line; the rows are selected with the
keyboard, a rule is typed into the rule box and confirmed with Enter, "出力先を指定(&D)" is chosen,
the output folder typed in, and "保存(&S)" pressed. Then an independent reader (mutagen) reads the
copies' tags back, and the source files must be byte for byte as before.

Then the property view of mp3infp.dll, from a list of one tagged file: a right-click on the row and
"プロパティ(&R)" by its key open "タグ情報", which must show the file's tags and close with Esc; Shift+F10
and the key open it again, and a click on OK closes it. The program runs on throughout.

The program asks for the UTF-8 code page, so the folder also holds names that code page 932
cannot write (Beyoncé, Sigur Rós, Hangul, emoji); their ID3v1 text is in code page 932 all the
same. Given tagwhirl-system-code-page.exe, the program as Windows before 10 1903 runs it, the
test takes the names of code page 932 only.

Usage: EndToEndTest.py <bin folder> [program]   (DISPLAY must name a running X server)
"""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unicodedata

from mutagen.id3 import ID3

import wine_gui
from wine_gui import ENV, check, click, close, exists, make_app, mp3, probe, wait_until, xdotool
from wine_gui import windows_path

BIN = os.path.abspath(sys.argv[1])
PROGRAM = sys.argv[2] if len(sys.argv) > 2 else "tagwhirl.exe"
UTF8 = PROGRAM == "tagwhirl.exe"
wine_gui.init(BIN)


def start(app, folder):
    return wine_gui.start(os.path.join(app, PROGRAM), folder)


def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def id3v23_with_picture():
    picture = b"\0image/png\0\3\0" + bytes(range(256)) * 4
    body = b"APIC" + struct.pack(">I", len(picture)) + b"\0\0" + picture
    return b"ID3\3\0\0" + syncsafe(len(body) + 64) + body + bytes(64)


def in_cp932(text):
    """The text as Windows writes it in code page 932: a character 932 lacks becomes its best fit
    (an accented Latin letter its base letter) or '?'."""
    out = b""
    for ch in text:
        try:
            out += ch.encode("cp932")
        except UnicodeEncodeError:
            base = unicodedata.normalize("NFKD", ch)[0]
            out += base.encode("ascii") if base.isascii() else b"?"
    return out


def sha(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def text_frame(frame, text):
    data = b"\1" + text.encode("utf-16")
    return frame.encode() + struct.pack(">I", len(data)) + b"\0\0" + data


def id3v23(*frames):
    body = b"".join(frames)
    return b"ID3\3\0\0" + syncsafe(len(body)) + body


def save_copies(work):
    app = make_app(work, PROGRAM)
    music, out = (os.path.join(work, d) for d in ("music", "out"))
    for d in (music, out):
        os.makedirs(d)
    files = {
        "Artist One - First Song.mp3": ("Artist One", "First Song", b""),
        "アーティスト - 曲名.mp3": ("アーティスト", "曲名", b""),
        "Cover Band - With Art.mp3": ("Cover Band", "With Art", id3v23_with_picture()),
        "ソロ - 表示.mp3": ("ソロ", "表示", b""),
    }
    if UTF8:
        files.update({
            "Beyoncé - Halo.mp3": ("Beyoncé", "Halo", b""),
            "Sigur Rós - Hoppípolla.mp3": ("Sigur Rós", "Hoppípolla", b""),
            "방탄소년단 - Dynamite.mp3": ("방탄소년단", "Dynamite", b""),
            "🎵 Emoji - Song 😀.mp3": ("🎵 Emoji", "Song 😀", b""),
        })
    for name, (_, _, tag) in files.items():
        with open(os.path.join(music, name), "wb") as f:
            f.write(mp3(tag))
    before = {name: sha(os.path.join(music, name)) for name in files}

    started = start(app, music)
    if not started:
        return
    program, window = started

    wine_gui.apply_rule("$A - $T.mp3")
    # Copies into a folder: choose it, type the folder, save.
    click("text:出力先を指定(&D)")
    click("id:1004")
    xdotool("type", "--delay", "20", windows_path(out))
    click("text:保存(&S)")

    deadline = time.time() + 30
    while time.time() < deadline and len(os.listdir(out)) < len(files):
        time.sleep(0.3)
    time.sleep(1)
    close(program, window)

    for name, (artist, title, tag) in files.items():
        copy = os.path.join(out, name)
        check(os.path.exists(copy), "copy of %s exists" % name)
        if not os.path.exists(copy):
            continue
        tags = ID3(copy)
        check(str(tags.get("TPE1")) == artist, "%s: artist %r" % (name, str(tags.get("TPE1"))))
        check(str(tags.get("TIT2")) == title, "%s: title %r" % (name, str(tags.get("TIT2"))))
        check(tags.version[:2] == (2, 3), "%s: ID3v2.3 (%s)" % (name, tags.version))
        with open(copy, "rb") as f:
            v1 = f.read()[-128:]
        # ID3v1 in code page 932, whatever code page the program runs in; '?' for what it lacks.
        if not tag and "🎵" not in artist:
            stored = v1[33:63].rstrip(b"\0")
            check(v1[:3] == b"TAG" and stored == in_cp932(artist),
                  "%s: ID3v1 artist %r" % (name, stored))
        if tag:
            check(tags.getall("APIC") and len(tags.getall("APIC")[0].data) == 1024,
                  "%s: picture kept" % name)
        with open(copy, "rb") as f:
            data = f.read()
        check(data.find(mp3()) >= 0 or data.find(mp3()[-417 * 40:]) >= 0,
              "%s: audio frames unchanged" % name)
        check(sha(os.path.join(music, name)) == before[name], "%s: source untouched" % name)


def property_view(work):
    app = make_app(work, PROGRAM)
    music = os.path.join(work, "view")
    os.makedirs(music)
    name = "青空 - 表題 방탄소년단 Beyoncé.mp3" if UTF8 else "青空 - 表題.mp3"
    with open(os.path.join(music, name), "wb") as f:
        f.write(mp3(id3v23(text_frame("TIT2", "表題"), text_frame("TPE1", "青空"))))
    started = start(app, music)
    if not started:
        return
    program, window = started
    dialog = "caption:タグ情報"

    def open_view(how):
        check(wait_until(lambda: exists("#32768", "shown"), 30), how + ": the context menu opens")
        xdotool("key", "r")
        check(wait_until(lambda: exists(dialog, "shown"), 15), how + ": タグ情報 opens")

    def closed_by(what):
        # Without a window manager Wine waits two seconds for the unmapped dialog's withdrawal
        # before it destroys the window: poll for its end rather than expecting it at once.
        check(wait_until(lambda: not exists(dialog), 15), "タグ情報 closes with " + what)
        check(program.poll() is None and exists("tagwhirl.MainWindow"),
              "the program runs on after " + what)

    # A real right-click on the only row selects it and opens the menu; R chooses the view.
    header = probe("box", "tagwhirl.MainWindow", "class:SysHeader32").split()
    check(len(header) == 4, "found the list's header")
    if len(header) != 4:
        close(program, window)
        return
    left, _, _, bottom = map(int, header)
    xdotool("mousemove", "--sync", str(left + 40), str(bottom + 6), "click", "3")
    open_view("right-click")
    check(probe("text", dialog, "id:1110") == "表題", "the view shows the ID3v2 title")
    check(probe("text", dialog, "id:1111") == "青空", "the view shows the ID3v2 artist")
    check(probe("text", dialog, "id:1011") == "ID3v2.3", "the view names the tag's version")
    check(probe("text", dialog, "id:1001").endswith("\\" + name), "the view shows the path")

    # With no window manager nothing moves the X input focus to a new window; it is given here as
    # a window manager would, and Esc then goes to the dialog's focused control like any key.
    found = subprocess.run(["timeout", "30", "xdotool", "search", "--sync", "--onlyvisible",
                            "--name", "^タグ情報$"], env=ENV, capture_output=True,
                           text=True).stdout.split()
    check(bool(found) and wine_gui.focus(found[0], dialog), "タグ情報 is the active window")
    xdotool("key", "Escape")
    closed_by("Esc")

    # The row stays selected: Shift+F10 opens the menu for it, and OK is clicked.
    check(wine_gui.context_menu(window), "Shift+F10: the context menu opens")
    xdotool("key", "r")
    check(wait_until(lambda: exists(dialog, "shown"), 30), "Shift+F10: タグ情報 opens")
    click("id:1", top=dialog)
    closed_by("a click on OK")
    close(program, window)


def main():
    for scenario in (save_copies, property_view):
        work = tempfile.mkdtemp(prefix="e2e.", dir=os.path.join(BIN, ".."))
        try:
            scenario(work)
        finally:
            shutil.rmtree(work, ignore_errors=True)


main()
sys.exit(wine_gui.finish("EndToEndTest"))
