#!/usr/bin/python3
"""The current tags of a folder of mixed files: tagwhirl's list shows every row's own values
against kid3-cli reading the same files' tags, run side by side, rounds alternating which tool goes
first.

The folder holds MP3 files with ID3v2 tags and without, FLAC, Ogg Vorbis, Opus and M4A files
(copies of make_format_samples.py's samples) and, one in fifty, a cover picture or a cue sheet,
named "Artist N - Title N.ext". tagwhirl's figure is CurrentValuesBench's: from the start of the
intake until the last row's values are in, inside one process, start-up left out. kid3-cli's is
its run less its start-up on an empty folder (best of three), in the faster of two forms that both
read every file's tags: "get" on each file in turn ("select next"), and "select all" and "get" on
the folder, which took four times as long on 10,000 files and is timed in the first round only. Both read files the system has cached (the folder is read once, untimed, before
the first round).

Usage: current_values_bench.py <bin folder> [files] [rounds]
"""
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import time

from mutagen.id3 import ID3, TCON, TPE1

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BIN = os.path.abspath(sys.argv[1])
FILES = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
ROUNDS = int(sys.argv[3]) if len(sys.argv) > 3 else 3
WORK = os.environ.get("TAGWHIRL_PEER_DIR", "/tmp/tagwhirl-current")
SAMPLES = ["flac-padded.flac", "ogg-vorbis.ogg", "ogg-opus.opus", "m4a-moov-first.m4a",
           "m4a-moov-last.m4a", "id3", "bare"]


def mp3():
    frame = b"\xff\xfb\x90\x64" + bytes((i * 37) & 0xFF for i in range(413))
    return frame * 40


def make_folder(folder):
    samples = os.path.join(WORK, "samples")
    subprocess.run([sys.executable, os.path.join(ROOT, "tests", "mp3infp",
                                                 "make_format_samples.py"), samples],
                   check=True, capture_output=True)
    os.makedirs(folder)
    rng = random.Random(7)
    for i in range(FILES):
        if i % 50 == 49:
            name, data = (f"cover {i}.jpg", b"\xff\xd8\xff\xe0 JFIF") if i % 100 == 99 else (
                f"album {i}.cue", b'FILE "x.mp3" MP3\r\n')
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
            continue
        sample = rng.choice(SAMPLES)
        ext = "mp3" if sample in ("id3", "bare") else sample.rsplit(".", 1)[1]
        path = os.path.join(folder, f"Artist {i:05d} - Title {i:05d}.{ext}")
        if ext == "mp3":
            with open(path, "wb") as f:
                f.write(mp3())
            if sample == "id3":
                tags = ID3()
                tags.add(TPE1(encoding=3, text="unknown"))
                tags.add(TCON(encoding=3, text="Ambient"))
                tags.save(path)
        else:
            shutil.copy(os.path.join(samples, sample), path)


def kid3_all(folder):
    start = time.perf_counter()
    subprocess.run(["kid3-cli", "-c", "select all", "-c", "get", folder], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def kid3_each(folder):
    files = len(os.listdir(folder))
    args = ["kid3-cli", "-c", "select first"]
    for _ in range(files):
        args += ["-c", "get", "-c", "select next"]
    start = time.perf_counter()
    subprocess.run(args + [folder], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def tagwhirl(folder):
    out = subprocess.run(["wine", os.path.join(BIN, "CurrentValuesBench.exe"),
                          subprocess.run(["winepath", "-w", folder], check=True,
                                         capture_output=True, text=True).stdout.strip(), "1"],
                         check=True, capture_output=True, text=True).stdout
    line = next(l for l in out.splitlines() if l.startswith("round"))
    shown = float(re.search(r"all values shown ([\d.]+) s", line).group(1))
    return shown, line.strip()


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    folder, empty = os.path.join(WORK, "music"), os.path.join(WORK, "empty")
    make_folder(folder)
    os.makedirs(empty)
    subprocess.run(["sync"], check=True)
    for name in os.listdir(folder):  # cached for both tools alike
        with open(os.path.join(folder, name), "rb") as f:
            f.read()
    start_all = min(kid3_all(empty) for _ in range(3))
    start_each = min(kid3_each(empty) for _ in range(3))
    print(f"{FILES} files; kid3-cli start-up {start_all:.3f} s")
    ours, theirs = [], []
    for round_ in range(ROUNDS):
        steps = ["tagwhirl", "kid3"] if round_ % 2 == 0 else ["kid3", "tagwhirl"]
        for step in steps:
            if step == "tagwhirl":
                seconds, line = tagwhirl(folder)
                ours.append(seconds)
                print(f"  round {round_ + 1} tagwhirl: {line}")
            else:
                each = kid3_each(folder) - start_each
                whole = kid3_all(folder) - start_all if round_ == 0 else float("inf")
                theirs.append(min(each, whole))
                print(f"  round {round_ + 1} kid3-cli: get per file {each:.3f} s, "
                      f"select all + get {whole:.3f} s")
    a, b = statistics.median(ours), statistics.median(theirs)
    print(f"median: tagwhirl all values shown {a:.3f} s, kid3-cli {b:.3f} s, "
          f"ratio tagwhirl / kid3-cli {a / b:.2f}")


main()
