#!/usr/bin/env python3
"""Packs the Windows download: tagwhirl-VERSION-win32.zip, one folder tagwhirl-VERSION holding
the program, its tag library, the sample rules, the guide to rules and a read-me.

Usage: make-package.py <bin folder of the Windows build> <version> <output folder>
Prints the path of the zip. scripts/package.sh builds first and calls this; the package test
calls it on the tested build.

The texts for people go out as a Windows editor opens them everywhere: UTF-8 with a byte-order
mark and CR LF line ends (Notepad before Windows 10 shows neither UTF-8 without a mark nor bare
LF line ends). The sample rules stay byte for byte as the program reads them: code page 932,
CR LF.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
STRIP = "i686-w64-mingw32-strip"


def for_notepad(text):
    lines = text.replace("\r\n", "\n").split("\n")
    return b"\xef\xbb\xbf" + "\r\n".join(lines).encode("utf-8")


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    bin_dir, version, out_dir = sys.argv[1:]
    folder = "tagwhirl-%s" % version
    os.makedirs(out_dir, exist_ok=True)
    zip_path = os.path.join(out_dir, folder + "-win32.zip")

    with open(os.path.join(ROOT, "docs", "rules.md"), encoding="utf-8") as f:
        guide = for_notepad(f.read())
    with open(os.path.join(ROOT, "docs", "readme-windows.txt"), encoding="utf-8") as f:
        readme = for_notepad(f.read().replace("@VERSION@", version))
    with open(os.path.join(ROOT, "rules", "_rules.txt"), "rb") as f:
        rules = f.read()

    with tempfile.TemporaryDirectory() as scratch, \
            zipfile.ZipFile(zip_path + ".part", "w", zipfile.ZIP_DEFLATED) as package:
        # The build keeps its debug information in NAME.debug beside each binary, which the
        # download does without; stripping again only makes sure. It keeps the resources, the
        # version block among them, and the link by which a debugger finds the build's file.
        for name in ("tagwhirl.exe", "mp3infp.dll"):
            binary = os.path.join(scratch, name)
            shutil.copy(os.path.join(bin_dir, name), binary)
            subprocess.run([STRIP, "--strip-debug", binary], check=True)
            package.write(binary, folder + "/" + name)
        for name, data in (("_rules.txt", rules), ("rules-guide.txt", guide),
                           ("readme.txt", readme)):
            package.writestr(zipfile.ZipInfo(folder + "/" + name, time.localtime()[:6]), data,
                             zipfile.ZIP_DEFLATED)
    os.replace(zip_path + ".part", zip_path)
    print(zip_path)


main()
