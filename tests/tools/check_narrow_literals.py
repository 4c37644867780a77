#!/usr/bin/env python3
"""Fails when the program's or the tag library's sources hold a narrow string or character
literal with a character outside ASCII. Such a literal is compiled into the bytes of one code
page (932) and shows as garbage when the program runs in the other (UTF-8); the program's own
texts are wide literals in resources/Texts.h. Tests may use narrow literals: they choose their
code page.

Usage: check_narrow_literals.py <source root>"""
import os
import re
import sys

FOLDERS = ("app", "targets", "tags", "templates", "rules", "panel", "resources", "mp3infp")
# A comment, or a literal with its prefix (L, u, U, u8, R"(...)" forms included).
TOKEN = re.compile(r'//[^\n]*|/\*.*?\*/|(?P<prefix>(?:u8|[LuU])?R?)(?P<quote>["\'])'
                   r'(?P<body>(?:\\.|(?!(?P=quote)).)*?)(?P=quote)', re.S)

root = sys.argv[1]
found = []
for folder in FOLDERS:
    for directory, _, names in os.walk(os.path.join(root, folder)):
        for name in sorted(names):
            if not name.endswith((".cpp", ".h")):
                continue
            path = os.path.join(directory, name)
            with open(path, encoding="utf-8") as f:
                text = f.read()
            for match in TOKEN.finditer(text):
                if match.group("quote") is None:
                    continue
                prefix = match.group("prefix").rstrip("R")
                if prefix in ("", "u8") and re.search(r"[^\x00-\x7f]", match.group("body")):
                    line = text.count("\n", 0, match.start()) + 1
                    found.append("%s:%d: %s" % (os.path.relpath(path, root), line, match.group(0)))
for entry in found:
    print(entry)
print("%d passed, %d failed" % (0 if found else 1, 1 if found else 0))
sys.exit(1 if found else 0)
