#!/usr/bin/python3
"""Esc stops a long save after the file under way, as a person presses it, under Wine and X.

tagwhirl starts with a folder of many untagged MP3 files on its command line; every row gets a rule
and "保存(&S)" saves them in place. While the status bar counts the save, Esc is pressed through X.
The save must stop early, the status bar must say how many files were saved, and exactly that many
files must have changed, each whole (old or new bytes, nothing in between, no temporary file).

Usage: StopSaveTest.py <bin folder>   (DISPLAY must name a running X server)
"""
import os
import re
import sys
import tempfile
import time

import wine_gui
from wine_gui import check, click, close, make_app, mp3, probe, wait_until, xdotool

wine_gui.init(sys.argv[1])
FILES = 1500
STATUS = ("tagwhirl.MainWindow", "class:msctls_statusbar32")


def status():
    return probe("kept", *STATUS)


def main():
    with tempfile.TemporaryDirectory() as work:
        app = make_app(work)
        music = os.path.join(work, "music")
        os.makedirs(music)
        audio = mp3()
        for index in range(FILES):
            with open(os.path.join(music, "Artist %04d - Title.mp3" % index), "wb") as f:
                f.write(audio)
        started = wine_gui.start(os.path.join(app, "tagwhirl.exe"), music)
        if not started:
            return
        program, window = started
        wine_gui.apply_rule("$A - $T.mp3")
        click("text:保存(&S)")
        saving = wait_until(lambda: re.match(r"保存中 ([2-9]\d|\d{3,})", status()), 60)
        check(bool(saving), "the status bar counts the save (%r)" % status())
        xdotool("key", "Escape")
        check(wait_until(lambda: status().startswith("中断しました"), 120),
              "the status bar says the save stopped (%r)" % status())
        text = status()
        close(program, window)

        found = re.search(r"(\d+) / (\d+)", text)
        saved = int(found.group(1)) if found else -1
        check(found is not None and int(found.group(2)) == FILES, "the status names the total")
        check(0 < saved < FILES, "the save stopped early (%d of %d)" % (saved, FILES))
        names = os.listdir(music)
        check(len(names) == FILES, "no file left beside the originals (%d)" % len(names))
        changed = whole = 0
        for name in names:
            with open(os.path.join(music, name), "rb") as f:
                data = f.read()
            if data == audio:
                whole += 1
            elif data.startswith(b"ID3") and data.find(audio) > 0:
                changed += 1
        check(changed == saved, "as many files changed as the status says (%d)" % changed)
        check(whole + changed == FILES, "every file is old or new")


main()
sys.exit(wine_gui.finish("StopSaveTest"))
