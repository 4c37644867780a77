#!/usr/bin/python3
"""tagwhirl against kid3-cli on the same files, in one folder, tags from file names, in place.

Run A: files without tags (both tools must rewrite every file), rule "$A - $T.mp3".
Run B: the same files again with new values (artist and title swapped), rule "$T - $A.mp3";
both tools' tags now have room.

kid3-cli's time is its run less its start-up on an empty folder (best of three). tagwhirl's time
is intake plus the save loop as its window handles it, timed inside PeerBench, which leaves
start-up out by itself. The floor of run A is a flushed copy of the same files to new files
(CopyFile and FlushFileBuffers under Wine), as a save that keeps its flush before the swap cannot
beat it. Beside it, the same copy over the copies it made, which frees their blocks as a rewrite
frees the original's, and the barest rewrite that flushes before it swaps (read, write beside
with 1 KiB more, flush, rename over) on a copy of its own: what the system charges any such
rewrite. Every tool works on its own copy of the files; what a timed step wrote is synced to disk,
untimed, before the next starts, and the order of the steps turns from round to round.

Then, with the music on a second volume (a loop-mounted ext4 image of its own as drive D:, the
journal staying where it was), runs A and B again with and without the journal: the journal's cost
there, where the originals of rewritten files are kept in the volume's own folder.

Usage: peer_bench.py <bin folder> [files] [KiB per file] [rounds]
"""
import os
import random
import shutil
import subprocess
import sys
import time

from mutagen.id3 import ID3

BIN = os.path.abspath(sys.argv[1])
FILES = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
KIB = int(sys.argv[3]) if len(sys.argv) > 3 else 1024
ROUNDS = int(sys.argv[4]) if len(sys.argv) > 4 else 2
WORK = os.environ.get("TAGWHIRL_PEER_DIR", "/tmp/tagwhirl-peer")
RULES = {"A": ("$A - $T.mp3", "%{artist} - %{title}"), "B": ("$T - $A.mp3", "%{title} - %{artist}")}


def make_master(folder):
    os.makedirs(folder)
    rng = random.Random(7)
    payload = bytes(rng.getrandbits(8) for _ in range(413 * 64))
    frames = b"".join(b"\xff\xfb\x90\x64" + payload[i * 413:(i + 1) * 413] for i in range(64))
    data = (frames * (KIB * 1024 // len(frames) + 1))[:KIB * 1024]
    for i in range(FILES):
        with open(os.path.join(folder, f"Artist {i:04d} - Title {i:04d}.mp3"), "wb") as f:
            f.write(data)


def sync():
    subprocess.run(["sync"], check=True)


def fresh_copy(source, target):
    shutil.rmtree(target, ignore_errors=True)
    shutil.copytree(source, target)


def kid3(folder, fmt):
    start = time.perf_counter()
    # Without "timeout off" kid3-cli gives up on a long save and ends with status 1.
    subprocess.run(["kid3-cli", "-c", "timeout off", "-c", "select all", "-c", f"totag '{fmt}' 12",
                    "-c", "save", folder], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def peer(*args):
    out = subprocess.run(["wine", os.path.join(BIN, "PeerBench.exe"), *args], check=True,
                         capture_output=True, text=True).stdout
    line = out.strip().splitlines()[-1]
    return float(line.split()[1]), line


def winpath(path):
    return subprocess.run(["winepath", "-w", path], check=True, capture_output=True,
                          text=True).stdout.strip()


def title_of(folder, i):
    return str(ID3(os.path.join(folder, f"Artist {i:04d} - Title {i:04d}.mp3")).get("TIT2"))


def second_volume():
    """A loop-mounted ext4 image as drive D: of the prefix; None where it cannot be mounted."""
    mount, image = os.path.join(WORK, "second"), os.path.join(WORK, "second.img")
    os.makedirs(mount)
    size = FILES * KIB * 1024 * 3 + (256 << 20)
    made = subprocess.run(f"truncate -s {size} {image} && mkfs.ext4 -q -F {image} && "
                          f"mount -o loop {image} {mount}", shell=True, capture_output=True)
    if made.returncode != 0:
        print("no second volume (a loop mount is not allowed here): its figures are left out")
        return None
    drive = os.path.join(os.environ["WINEPREFIX"], "dosdevices", "d:")
    if os.path.lexists(drive):
        os.remove(drive)
    os.symlink(mount, drive)
    return mount


def drop_second_volume(mount):
    os.remove(os.path.join(os.environ["WINEPREFIX"], "dosdevices", "d:"))
    subprocess.run(["umount", mount])


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    # The journal on the files' volume, as TAGWHIRL_JOURNAL lets a user put it: the originals of
    # rewritten files are then kept as links. "tagwhirl" saves with it, "nojournal" without.
    os.environ["TAGWHIRL_JOURNAL"] = winpath(WORK) + "\\journal"
    master, empty = os.path.join(WORK, "master"), os.path.join(WORK, "empty")
    make_master(master)
    os.makedirs(empty)
    sync()
    kid3_start = min(kid3(empty, RULES["A"][1]) for _ in range(3))
    print(f"{FILES} files of {KIB} KiB in one folder; kid3-cli start-up {kid3_start:.3f} s")

    results = {k: [] for k in
               ("kid3 A", "tagwhirl A", "nojournal A", "floor A", "over A", "rewrite A", "kid3 B",
                "tagwhirl B", "nojournal B", "tagwhirl A2", "nojournal A2", "tagwhirl B2",
                "nojournal B2")}
    second = second_volume()

    def tool_run(tool, run):  # on this round's folders
        if tool == "kid3":
            seconds = kid3(dirs["kid3"], RULES[run][1]) - kid3_start
            line = f"kid3-cli {seconds:.3f} s (less start-up)"
        elif tool == "tagwhirl":
            seconds, line = peer("save", winpath(dirs["tagwhirl"]), RULES[run][0])
        else:
            seconds, line = peer("save", winpath(dirs["nojournal"]), RULES[run][0], "nojournal")
        results[f"{tool} {run}"].append(seconds)
        print(f"round {round_ + 1} run {run}: {line}")

    for round_ in range(ROUNDS):
        dirs = {t: os.path.join(WORK, t) for t in ("kid3", "tagwhirl", "nojournal", "bare")}
        for folder in dirs.values():
            fresh_copy(master, folder)
        shutil.rmtree(os.path.join(WORK, "copy"), ignore_errors=True)
        sync()
        # The disk's speed drifts within a run (one round's run A took 7.5 s, the next 9.3 s, and
        # another run's 10.9 and 8.8 s), and what goes first meets the disk just after the fresh
        # copies: tagwhirl's run A and the flushed copies take turns at going first.
        steps = ["tagwhirl", "kid3", "copies", "bare", "nojournal"]
        for step in steps[2 * round_ % 5:] + steps[:2 * round_ % 5]:
            if step in ("kid3", "tagwhirl", "nojournal"):
                tool_run(step, "A")
            elif step == "copies":
                copies = winpath(os.path.join(WORK, "copy"))
                for key, how in (("floor A", []), ("over A", ["over"])):
                    seconds, line = peer("copy", winpath(master), copies, *how)
                    results[key].append(seconds)
                    print(f"round {round_ + 1} {key}: flushed {line}")
                    sync()
            else:
                seconds, line = peer("rewrite", winpath(dirs["bare"]))
                results["rewrite A"].append(seconds)
                print(f"round {round_ + 1} bare {line}")
            sync()
        for tool in (["kid3", "tagwhirl", "nojournal"] if round_ % 2 == 0 else
                     ["nojournal", "tagwhirl", "kid3"]):
            tool_run(tool, "B")
            sync()
        for tool in ("kid3", "tagwhirl"):
            if title_of(dirs[tool], 1) != "Artist 0001":
                print(f"FAIL: {tool} did not write the values of run B")
                return 1
        if second:
            # The same runs with the music on the second volume, the journal where it was.
            on_second = {t: os.path.join(second, t) for t in ("tagwhirl", "nojournal")}
            for folder in on_second.values():
                fresh_copy(master, folder)
            sync()
            for run in "AB":
                for tool in (["tagwhirl", "nojournal"] if round_ % 2 == 0 else
                             ["nojournal", "tagwhirl"]):
                    how = [] if tool == "tagwhirl" else ["nojournal"]
                    seconds, line = peer("save", winpath(on_second[tool]), RULES[run][0], *how)
                    results[f"{tool} {run}2"].append(seconds)
                    print(f"round {round_ + 1} run {run} on a second volume: {line}")
                    sync()
            for folder in on_second.values():
                shutil.rmtree(folder)

    def best(key):
        return min(results[key])

    print()
    print("| run | tagwhirl | kid3-cli | tagwhirl / kid3-cli | target |")
    print("|---|---|---|---|---|")
    print(f"| A | {best('tagwhirl A'):.3f} s | {best('kid3 A'):.3f} s | "
          f"{best('tagwhirl A') / best('kid3 A'):.2f} | ≤ 1.2 × flushed copy "
          f"({best('floor A'):.3f} s): {best('tagwhirl A') / best('floor A'):.2f} |")
    print(f"| B | {best('tagwhirl B'):.3f} s | {best('kid3 B'):.3f} s | "
          f"{best('tagwhirl B') / best('kid3 B'):.2f} | ≤ 1.0 × kid3-cli |")
    for run in "AB":
        print(f"| {run} without the journal | {best('nojournal ' + run):.3f} s | "
              f"{best('kid3 ' + run):.3f} s | {best('nojournal ' + run) / best('kid3 ' + run):.2f} | "
              f"journal's cost: {best('tagwhirl ' + run) / best('nojournal ' + run):.2f} × |")
    if second:
        for run in "AB":
            print(f"| {run}, music on a second volume | {best('tagwhirl ' + run + '2'):.3f} s | "
                  f"without the journal {best('nojournal ' + run + '2'):.3f} s | | journal's cost: "
                  f"{best('tagwhirl ' + run + '2') / best('nojournal ' + run + '2'):.2f} × "
                  f"(≤ 1.25) |")
        drop_second_volume(second)
    print(f"run A / flushed copy over the copies ({best('over A'):.3f} s): "
          f"{best('tagwhirl A') / best('over A'):.2f}")
    print(f"run A / bare rewrite of the copies ({best('rewrite A'):.3f} s): "
          f"{best('tagwhirl A') / best('rewrite A'):.2f}")
    print("(best of the rounds; every round's figures above)")
    shutil.rmtree(WORK, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
