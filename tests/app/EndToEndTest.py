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

BIN = os.path.abspath(sys.argv[1])
PROGRAM = sys.argv[2] if len(sys.argv) > 2 else "tagwhirl.exe"
UTF8 = PROGRAM == "tagwhirl.exe"
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
ENV = dict(os.environ)
ENV.update(WINEPREFIX=os.environ.get("WINEPREFIX", os.path.join(ROOT, "build", "wine")),
           WINEARCH="win32", WINEDEBUG="-all", LANG="ja_JP.UTF-8",
           WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)


def wine(*args, **kwargs):
    return subprocess.run(["wine", *args], env=ENV, capture_output=True, text=True, **kwargs)


def probe(*args):
    return wine(os.path.join(BIN, "WindowProbe.exe"), *args).stdout.replace("\r", "").strip()


def xdotool(*args):
    return subprocess.run(["xdotool", *args], env=ENV, capture_output=True, text=True).stdout.strip()


def wait_until(condition, seconds):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if condition():
            return True
        time.sleep(0.2)
    return condition()


def click(control, top="tagwhirl.MainWindow"):
    for _ in range(50):
        at = probe("rect", top, control)
        if at:
            x, y = at.split()
            xdotool("mousemove", "--sync", x, y, "click", "1")
            time.sleep(0.3)
            return
        time.sleep(0.2)
    check(False, "found " + control)


def exists(top, how="exists"):
    return wine(os.path.join(BIN, "WindowProbe.exe"), how, top).returncode == 0


def start(app, folder):
    """Starts the program on a folder; returns the process and the main window's X id, or None."""
    program = subprocess.Popen(["wine", os.path.join(app, PROGRAM), windows_path(folder)],
                               cwd=app, env=ENV, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    window = subprocess.run(["timeout", "40", "xdotool", "search", "--sync", "--name",
                             "^tagwhirl$"], env=ENV, capture_output=True, text=True).stdout.split()
    check(bool(window), "the main window appears")
    if not window:
        program.kill()
        return None
    time.sleep(1)
    return program, window[0]


def close(program, window):
    xdotool("windowfocus", "--sync", window)
    xdotool("key", "alt+F4")
    try:
        code = program.wait(30)
    except subprocess.TimeoutExpired:
        program.kill()
        code = "timeout"
    check(code == 1, "the program ends with exit code 1 (got %s)" % code)


def windows_path(path):
    return subprocess.run(["winepath", "-w", path], env=ENV, capture_output=True,
                          text=True).stdout.strip()


def mp3(id3=b""):
    frame = b"\xff\xfb\x90\x64" + bytes((i * 37) & 0xFF for i in range(413))
    return id3 + frame * 40


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


def make_app(work):
    """The program alone with its library: no rules file, so only a typed rule acts."""
    app = os.path.join(work, "app")
    os.makedirs(app)
    for name in (PROGRAM, "mp3infp.dll"):
        shutil.copy(os.path.join(BIN, name), app)
    return app


def save_copies(work):
    app = make_app(work)
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

    # Select every row from the keyboard: into the list, then Home and Shift+End.
    click("class:tagwhirl.TargetListView")
    xdotool("key", "--delay", "80", "Home", "shift+End")
    # Type the rule into the rule box and confirm it.
    click("class:ComboBoxEx32")
    xdotool("type", "--delay", "40", "$A - $T.mp3")
    xdotool("key", "Return")
    time.sleep(0.5)
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
    app = make_app(work)
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
        check(wait_until(lambda: exists("#32768", "shown"), 10), how + ": the context menu opens")
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
    found = subprocess.run(["timeout", "10", "xdotool", "search", "--sync", "--name",
                            "^タグ情報$"], env=ENV, capture_output=True, text=True).stdout.split()
    check(bool(found), "タグ情報 is on the X display")
    if found:
        xdotool("windowfocus", "--sync", found[0])
    check(probe("focus").startswith("#32770: タグ情報\n"), "タグ情報 is the active window")
    xdotool("key", "Escape")
    closed_by("Esc")

    # The row stays selected: Shift+F10 opens the menu for it, and OK is clicked.
    xdotool("windowfocus", "--sync", window)
    xdotool("key", "shift+F10")
    open_view("Shift+F10")
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
print("EndToEndTest: %d failures" % len(failures))
sys.exit(1 if failures else 0)
