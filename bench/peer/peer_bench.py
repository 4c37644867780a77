#!/usr/bin/python3
"""tagwhirl against kid3-cli on the same files, in one folder, tags from file names, in place.

Run A: files without tags (both tools must rewrite every file), rule "$A - $T.mp3".
Run B: the same files again with new values (artist and title swapped), rule "$T - $A.mp3";
both tools' tags now have room.

Every save of tagwhirl is on the disk before it counts as saved; kid3-cli flushes nothing. The
fair comparison is kid3-cli followed by an fsync of each file it wrote (`sync FILE...`, the call
Wine's FlushFileBuffers makes), timed beside kid3-cli alone. kid3-cli's time is its run less its
start-up on an empty folder (best of three); tagwhirl's is intake plus the save loop as its window
handles it, timed inside PeerBench, which leaves start-up out by itself. Each tagwhirl run is
timed with the journal that undo needs and without it.

Each round also times the bare rewrite of the same files (PeerBench rewrite, no tag library, no
journal) keeping each original as a second link and freeing it: what the disk charges for keeping
the originals that undo needs, against which the journal's cost for run A is read.

So that no run pays for another's writes, everything is flushed (`sync`) before each timed run,
each run A follows its own fresh copy of the files, and the originals that tagwhirl's journal kept
and retired are deleted (untimed, and timed apart as what the journal costs later). Which tool
goes first turns from round to round; every round is printed, then the median of the rounds, and
the ratios are taken within each round.

Usage: peer_bench.py <bin folder> [files] [KiB per file] [rounds]
       peer_bench.py <bin folder> folders [small] [large] [KiB per file] [rounds]
       peer_bench.py <bin folder> volumes [files] [KiB per file] [rounds]
The second form prints tagwhirl's time per file of runs A and B in a folder of `small` files
(1,000) and of `large` files (10,000), of 64 KiB each by default. The third prints the journal's
cost (with / without) with the music on the journal's volume and on a second one, a loop-mounted
ext4 image given to Wine as drive D: (root only; left out where it cannot be mounted).
"""
import glob
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

from mutagen.id3 import ID3

BIN = os.path.abspath(sys.argv[1])
WORK = os.environ.get("TAGWHIRL_PEER_DIR", "/tmp/tagwhirl-peer")
RULES = {"A": ("$A - $T.mp3", "%{artist} - %{title}"), "B": ("$T - $A.mp3", "%{title} - %{artist}")}
JOURNAL = os.path.join(WORK, "journal")


def name_of(i):
    return f"Artist {i:05d} - Title {i:05d}.mp3"


def make_master(folder, files, kib):
    os.makedirs(folder)
    rng = random.Random(7)
    payload = bytes(rng.getrandbits(8) for _ in range(413 * 64))
    frames = b"".join(b"\xff\xfb\x90\x64" + payload[i * 413:(i + 1) * 413] for i in range(64))
    data = (frames * (kib * 1024 // len(frames) + 1))[:kib * 1024]
    for i in range(files):
        with open(os.path.join(folder, name_of(i)), "wb") as f:
            f.write(data)


def free_retired():
    """Deletes the originals that tagwhirl's journal kept and has retired, and syncs."""
    for retired in glob.glob(os.path.join(JOURNAL, "retired-*")):
        shutil.rmtree(retired, ignore_errors=True)
    subprocess.run(["sync"], check=True)


def probe():
    """Seconds to write and fsync 4 MiB, as a save's flushes meet the disk now."""
    data = bytes(range(256)) * 4096
    start = time.perf_counter()
    for i in range(4):
        with open(os.path.join(WORK, f"probe-{i}"), "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
    return time.perf_counter() - start


QUIET = []  # the probe's time on the settled disk, taken at the start


def settle():
    """Nothing of an earlier step left to write or to free when the next timed one starts.

    `sync` returns before the disk is done: after a gibibyte was written, the first run's flushes
    still took two to three times as long (a run B of 8.4 s going first, 2.9 s going last), so
    the disk's flushes are also waited for until they are as quick as at the start.
    """
    free_retired()
    if not QUIET:
        time.sleep(5)
        QUIET.append(min(probe() for _ in range(5)))
        return
    deadline = time.perf_counter() + 20
    while probe() > 1.5 * QUIET[0]:
        if time.perf_counter() > deadline:
            print("(the disk's flushes did not settle within 20 s)")
            break
        time.sleep(0.5)


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


def fsync_all(folder):
    """Seconds to fsync every file of `folder`, as FlushFileBuffers does under Wine."""
    paths = sorted(glob.glob(os.path.join(folder, "*.mp3")))
    start = time.perf_counter()
    for i in range(0, len(paths), 2000):
        subprocess.run(["sync", *paths[i:i + 2000]], check=True)
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
    return str(ID3(os.path.join(folder, name_of(i))).get("TIT2"))


def turned(items, round_):
    return items[round_ % len(items):] + items[:round_ % len(items)]


def median(values):
    return statistics.median(values)


def compare(files, kib, rounds):
    master, empty = os.path.join(WORK, "master"), os.path.join(WORK, "empty")
    make_master(master, files, kib)
    os.makedirs(empty)
    settle()
    kid3_start = min(kid3(empty, RULES["A"][1]) for _ in range(3))
    print(f"{files} files of {kib} KiB in one folder, {rounds} rounds; "
          f"kid3-cli start-up {kid3_start:.3f} s")

    columns = ("tagwhirl", "nojournal", "kid3", "kid3+fsync")
    times = {(c, run): [] for c in columns for run in "AB"}
    freed = []
    dirs = {t: os.path.join(WORK, t) for t in ("kid3", "tagwhirl", "nojournal", "bare")}

    def tool_run(tool, run, round_):
        settle()
        if tool == "kid3":
            seconds = kid3(dirs["kid3"], RULES[run][1]) - kid3_start
            flush = fsync_all(dirs["kid3"])
            times[("kid3+fsync", run)].append(seconds + flush)
            line = f"kid3-cli {seconds:.3f} s (less start-up), its fsync {flush:.3f} s"
        elif tool == "tagwhirl":
            seconds, line = peer("save", winpath(dirs["tagwhirl"]), RULES[run][0])
        else:
            seconds, line = peer("save", winpath(dirs["nojournal"]), RULES[run][0], "nojournal")
        times[(tool, run)].append(seconds)
        print(f"round {round_ + 1} run {run} {tool}: {line}", flush=True)
        if (tool, run) == ("tagwhirl", "B"):
            # Run B's start retired the originals that run A kept; freeing them is the journal's
            # cost too, paid while the user goes on after the save.
            subprocess.run(["sync"], check=True)
            start = time.perf_counter()
            free_retired()
            freed.append(time.perf_counter() - start)
            print(f"round {round_ + 1}: the originals run A kept, freed in {freed[-1]:.3f} s")

    # What this disk charges for keeping the originals that undo needs, apart from the journal's
    # own work: the bare rewrite of the same files (no tag library, no records), keeping each
    # original as a second link or freeing it. On a disk mounted with `discard`, the two differ by
    # as much as the journal's cost for run A, and from hour to hour.
    bare = {True: [], False: []}

    def bare_run(keep, round_):
        folder = dirs["bare"]
        new, kept = os.path.join(WORK, "bare-new"), os.path.join(WORK, "bare-kept")
        fresh_copy(master, folder)
        settle()
        args = ["rewrite", winpath(folder), "elsewhere", winpath(new)]
        if keep:
            os.makedirs(kept, exist_ok=True)
            args += ["keep", winpath(kept)]
        seconds, line = peer(*args, "threads", "8")
        bare[keep].append(seconds)
        print(f"round {round_ + 1} bare rewrite: {line}", flush=True)
        for path in (folder, new, kept):
            shutil.rmtree(path, ignore_errors=True)

    for round_ in range(rounds):
        # Each run A comes right after its own fresh copy of the files: writing a gibibyte slows the
        # disk's flushes for a while after `sync` has returned (three times as slow in one
        # measurement), so copying every tool's files at the round's start favoured the last.
        for tool in turned(["tagwhirl", "nojournal", "kid3"], round_):
            fresh_copy(master, dirs[tool])
            tool_run(tool, "A", round_)
        for keep in turned([True, False], round_):
            bare_run(keep, round_)
        for tool in turned(["kid3", "nojournal", "tagwhirl"], round_):
            tool_run(tool, "B", round_)
        for tool in ("kid3", "tagwhirl", "nojournal"):
            if title_of(dirs[tool], 1) != "Artist 00001":
                print(f"FAIL: {tool} did not write the values of run B")
                return 1

    def ratios(a, b, run):  # within each round
        return [x / y for x, y in zip(times[(a, run)], times[(b, run)])]

    print()
    print("Median of the rounds (ratios: median of each round's ratio):")
    print()
    print("| run | tagwhirl | without journal | kid3-cli | kid3-cli + fsync | "
          "tagwhirl / (kid3-cli + fsync) | target | journal's cost (with / without) |")
    print("|---|---|---|---|---|---|---|---|")
    for run, target in (("A", "≤ 1.2"), ("B", "≤ 0.8")):
        cells = " | ".join(f"{median(times[(c, run)]):.3f} s" for c in columns)
        print(f"| {run} | {cells} | {median(ratios('tagwhirl', 'kid3+fsync', run)):.2f} | "
              f"{target} | {median(ratios('tagwhirl', 'nojournal', run)):.2f} |")
    print()
    for run in "AB":
        each = ", ".join(f"{r:.2f}" for r in ratios("tagwhirl", "kid3+fsync", run))
        cost = ", ".join(f"{r:.2f}" for r in ratios("tagwhirl", "nojournal", run))
        print(f"run {run} rounds: tagwhirl / (kid3-cli + fsync) {each}; journal's cost {cost}")
    print(f"originals kept by run A, freed later: median {median(freed):.3f} s")
    keeping = [k / f for k, f in zip(bare[True], bare[False])]
    beyond = [j / k for j, k in zip(ratios("tagwhirl", "nojournal", "A"), keeping)]
    print("the disk's price of keeping the originals (bare rewrite keeping / freeing them): "
          + ", ".join(f"{r:.2f}" for r in keeping) + f" (median {median(keeping):.2f}); "
          "run A's journal's cost beyond it: "
          + ", ".join(f"{r:.2f}" for r in beyond) + f" (median {median(beyond):.2f})")
    return 0


def folders(small, large, kib, rounds):
    sizes = (small, large)
    masters = {n: os.path.join(WORK, f"master-{n}") for n in sizes}
    for n in sizes:
        make_master(masters[n], n, kib)
    settle()
    print(f"tagwhirl (journal on), files of {kib} KiB, folders of {small} and {large} files, "
          f"{rounds} rounds")
    per_file = {(n, run): [] for n in sizes for run in "AB"}
    for round_ in range(rounds):
        for n in turned(list(sizes), round_):
            folder = os.path.join(WORK, f"folder-{n}")
            fresh_copy(masters[n], folder)
            for run in "AB":
                settle()
                seconds, line = peer("save", winpath(folder), RULES[run][0])
                per_file[(n, run)].append(seconds / n * 1000)
                print(f"round {round_ + 1} {n} files run {run}: {line}; "
                      f"{per_file[(n, run)][-1]:.3f} ms a file", flush=True)
            shutil.rmtree(folder)
    print()
    print(f"| run | {small} files | {large} files | ratio (target ≤ 1.2) |")
    print("|---|---|---|---|")
    for run in "AB":
        low, high = median(per_file[(small, run)]), median(per_file[(large, run)])
        print(f"| {run} | {low:.3f} ms a file | {high:.3f} ms a file | {high / low:.2f} |")
    print("(median of the rounds)")
    return 0


def second_volume(files, kib):
    """A loop-mounted ext4 image as drive D: of the prefix; None where it cannot be mounted."""
    mount, image = os.path.join(WORK, "second"), os.path.join(WORK, "second.img")
    os.makedirs(mount)
    size = files * kib * 1024 * 4 + (256 << 20)
    made = subprocess.run(f"truncate -s {size} {image} && mkfs.ext4 -q -F {image} && "
                          f"mount -o loop {image} {mount}", shell=True, capture_output=True)
    if made.returncode != 0:
        print("no second volume (a loop mount is not allowed here)")
        return None
    drive = os.path.join(os.environ["WINEPREFIX"], "dosdevices", "d:")
    if os.path.lexists(drive):
        os.remove(drive)
    os.symlink(mount, drive)
    return mount


def volumes(files, kib, rounds):
    master = os.path.join(WORK, "master")
    make_master(master, files, kib)
    second = second_volume(files, kib)
    if not second:
        return 0
    places = {"same": os.path.join(WORK, "music"), "second": os.path.join(second, "music")}
    cost = {(place, run): [] for place in places for run in "AB"}
    print(f"{files} files of {kib} KiB; the journal's cost with the music on its volume and on D:")
    try:
        for round_ in range(rounds):
            for place in turned(list(places), round_):
                for journal in turned(["with", "without"], round_):
                    fresh_copy(master, places[place])
                    for run in "AB":
                        settle()
                        extra = [] if journal == "with" else ["nojournal"]
                        seconds, line = peer("save", winpath(places[place]), RULES[run][0], *extra)
                        cost[(place, run)].append((journal, seconds))
                        print(f"round {round_ + 1} {place} volume run {run} {journal} journal: "
                              f"{line}", flush=True)
    finally:
        os.remove(os.path.join(os.environ["WINEPREFIX"], "dosdevices", "d:"))
        subprocess.run(["umount", second])
    print()
    print("| music on | run | journal's cost, each round | median | target |")
    print("|---|---|---|---|---|")
    for (place, run), seen in cost.items():
        with_ = [t for j, t in seen if j == "with"]
        without = [t for j, t in seen if j == "without"]
        each = [a / b for a, b in zip(with_, without)]
        target = "≤ 1.25" if place == "second" else ("≤ 1.1" if run == "A" else "≤ 1.25")
        print(f"| {place} volume | {run} | {', '.join(f'{r:.2f}' for r in each)} | "
              f"{median(each):.2f} | {target} |")
    return 0


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    # The journal on the files' volume, as TAGWHIRL_JOURNAL lets a user put it: the originals of
    # rewritten files are then kept as links.
    os.environ["TAGWHIRL_JOURNAL"] = winpath(JOURNAL)
    if sys.argv[2:3] == ["volumes"]:
        args = [int(a) for a in sys.argv[3:]]
        files, kib, rounds = (args + [300, 1024, 3][len(args):])[:3]
        status = volumes(files, kib, max(rounds, 3))
        shutil.rmtree(WORK, ignore_errors=True)
        return status
    args = [int(a) for a in sys.argv[3:]] if sys.argv[2:3] == ["folders"] else None
    if args is not None:
        small, large, kib, rounds = (args + [1000, 10000, 64, 3][len(args):])[:4]
        status = folders(small, large, kib, max(rounds, 3))
    else:
        args = [int(a) for a in sys.argv[2:]]
        files, kib, rounds = (args + [1000, 1024, 3][len(args):])[:3]
        status = compare(files, kib, max(rounds, 3))
    shutil.rmtree(WORK, ignore_errors=True)
    return status


if __name__ == "__main__":
    sys.exit(main())
