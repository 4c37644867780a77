#!/usr/bin/python3
"""Undo of a save through the whole program, under Wine and X with real keyboard and mouse input.

A folder of 1,000 mixed files (MP3 with and without tags, FLAC with and without room, Ogg Vorbis,
Opus, M4A with moov first and last; the formats other than MP3 made by Debian's encoders through
make_format_samples.py) is saved in place and undone with Ctrl+Z, saved into an output folder and
undone from the list's context menu, and saved while the program is killed (SIGKILL) at random
points, then started again and its offer to undo taken (once killed again in the middle of that
undo, and its offer to finish it taken). Every time, every file's SHA-256 must be what it was
before, with nothing left beside them; a file another program edited after the save, at the same
size and with its time kept, is named and left as it is.

All of it twice: with the music on the journal's volume, and on a second volume (drive D: of the
Wine prefix, mapped to a tmpfs of its own), where the originals of files written anew are kept in
the volume's own folder of kept originals, which must be empty again after every undo.

Usage: UndoTest.py <bin folder>   (DISPLAY must name a running X server)
"""
import hashlib
import os
import random
import threading
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import wine_gui
from wine_gui import ROOT, check, click, mp3, wait_until, xdotool

BIN = os.path.abspath(sys.argv[1])
wine_gui.init(BIN)

SAMPLES = [None, "id3", "flac-padded.flac", "flac-tight.flac", "ogg-vorbis.ogg", "ogg-opus.opus",
           "m4a-moov-first.m4a", "m4a-moov-last.m4a"]
# Of each sample: saves of 1,000 mixed files (UNDO_COPIES and UNDO_KILLED_COPIES make them
# smaller while a change is tried).
COPIES = int(os.environ.get("UNDO_COPIES", "125"))
KILLED_COPIES = int(os.environ.get("UNDO_KILLED_COPIES", "125"))
# What a wait allows grows with the files.
SLOW = max(60, (COPIES + KILLED_COPIES) * len(SAMPLES) // 3)


def sha(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def hashes(folder):
    """The files' hashes; a file the program removes while they are read (its temporary file,
    which the undo under way deletes) is left out, so the wait simply looks again."""
    found = {}
    for name in os.listdir(folder):
        try:
            found[name] = sha(os.path.join(folder, name))
        except FileNotFoundError:
            pass
    return found


def make_music(work, folder, copies):
    samples, music = os.path.join(work, "samples"), os.path.join(work, folder)
    if not os.path.isdir(samples):
        made = subprocess.run([sys.executable, os.path.join(ROOT, "tests", "mp3infp",
                                                            "make_format_samples.py"), samples],
                              capture_output=True, text=True)
        check(made.returncode == 0, "make_format_samples.py succeeds " + made.stderr)
    os.makedirs(music)
    tagged = b"ID3\x03\x00\x00\x00\x00\x08\x00" + b"\x00" * 1024  # an empty tag with room
    for i in range(copies):
        for sample in SAMPLES:
            ext = os.path.splitext(sample)[1] if sample and sample != "id3" else ".mp3"
            name = "楽団%d - %s %d%s" % (i, (sample or "bare").split(".")[0], i, ext)
            path = os.path.join(music, name)
            if sample in (None, "id3"):
                with open(path, "wb") as f:
                    f.write(mp3(tagged if sample else b""))
            else:
                shutil.copy(os.path.join(samples, sample), path)
    return music


def save(folder=None):
    wine_gui.apply_rule("$A - $T.$I")
    if folder:
        click("text:出力先を指定(&D)")
        click("id:1004")
        xdotool("type", "--delay", "20", wine_gui.windows_path(folder))
    click("text:保存(&S)")


def all_changed(music, before):
    return lambda: all(sha(os.path.join(music, n)) != h for n, h in before.items())


def edit_keeping_time(path, value):
    """Another tagger's edit in the padding a rewrite left: the same size, the time put back."""
    stat = os.stat(path)
    with open(path, "r+b") as f:
        data = f.read()
        at = data.find(value)
        check(at >= 0, "the saved value is in " + os.path.basename(path))
        f.seek(at)
        f.write(value.upper())
    os.utime(path, ns=(stat.st_atime_ns, stat.st_mtime_ns))
    return sha(path)


def in_place_then_ctrl_z(app, music, before):
    program, window = wine_gui.start(app, music)
    save()
    check(wait_until(all_changed(music, before), SLOW), "in place: every file is saved")
    time.sleep(1)
    # One file written anew, edited since by another program: named, and left as it is.
    edited = next(n for n in sorted(before) if "flac-tight" in n)
    edited_sha = edit_keeping_time(os.path.join(music, edited),
                                   edited.split(" - ")[1].rsplit(".", 1)[0].encode())
    # In the rule box Ctrl+Z undoes the typing only.
    click("class:ComboBoxEx32")
    xdotool("type", "x")
    xdotool("key", "ctrl+z")
    time.sleep(2)
    check(all_changed(music, before)(), "Ctrl+Z in a text field leaves the save alone")
    click("class:tagwhirl.TargetListView")
    xdotool("key", "ctrl+z")
    expected = dict(before, **{edited: edited_sha})
    check(wait_until(lambda: wine_gui.exists("caption:元に戻す", "shown"), SLOW),
          "in place: the file edited since is named")
    check(wait_until(lambda: hashes(music) == expected, SLOW),
          "in place: Ctrl+Z gives every other file its bytes back, nothing left beside them")
    check(enter_on_box(), "in place: Enter closes the box")
    # No window is active after the box under Xvfb, which has no window manager: a click gives
    # the list the focus back, as in the runs that were killed.
    click("class:tagwhirl.TargetListView")
    wine_gui.close(program, window)
    shutil.copy(os.path.join(os.path.dirname(music), "samples", "flac-tight.flac"),
                os.path.join(music, edited))
    check(sha(os.path.join(music, edited)) == before[edited], "the edited file is put back")


def enter_on_box(caption="元に戻す"):
    """Enter on the box once it has the keyboard; True when it has closed."""
    box = subprocess.run(["timeout", "30", "xdotool", "search", "--sync", "--name", caption],
                         env=wine_gui.ENV, capture_output=True, text=True).stdout.split()
    if not box or not wine_gui.focus(box[-1], top="caption:" + caption):
        return False
    xdotool("key", "Return")
    return wait_until(lambda: not wine_gui.exists("caption:" + caption, "shown"), 30)


def folder_now_a_link(app, root):
    """The saved folder is moved away and a link to a copy of it (the same bytes, sizes and
    times) takes its name: undo finds other files there, names them, and writes and deletes
    nothing through the link."""
    music = make_music(root, "linked", 1)
    before = hashes(music)
    program, window = wine_gui.start(app, music)
    save()
    check(wait_until(all_changed(music, before), SLOW), "linked: every file is saved")
    time.sleep(1)
    saved = hashes(music)
    moved, elsewhere = music + ".moved", music + ".elsewhere"
    os.rename(music, moved)
    shutil.copytree(moved, elsewhere)
    os.symlink(elsewhere, music)
    click("class:tagwhirl.TargetListView")
    xdotool("key", "ctrl+z")
    check(wait_until(lambda: wine_gui.exists("caption:元に戻す", "shown"), SLOW),
          "linked: the files are named")
    check(hashes(elsewhere) == saved, "linked: nothing written or deleted through the link")
    check(hashes(moved) == saved, "linked: the folder moved away is as the save left it")
    check(enter_on_box(), "linked: Enter closes the box")
    click("class:tagwhirl.TargetListView")
    wine_gui.close(program, window)


def into_folder_then_menu(app, music, before, out):
    program, window = wine_gui.start(app, music)
    save(out)
    check(wait_until(lambda: len(os.listdir(out)) == len(before), SLOW),
          "into a folder: every copy is made")
    time.sleep(1)
    check(wine_gui.context_menu(window), "the context menu opens")
    xdotool("key", "u")
    check(wait_until(lambda: not os.listdir(out), SLOW), "into a folder: undo removes the copies")
    check(hashes(music) == before, "into a folder: the originals stay as they were")
    wine_gui.close(program, window)


def written(music, stamps):
    count = 0
    for name, stamp in stamps.items():
        try:
            count += os.stat(os.path.join(music, name)).st_mtime_ns != stamp
        except OSError:
            pass
    return count


def restored(music, stamps):
    return len(stamps) - written(music, stamps)


def answer(button, trial):
    """A button of the offer to undo, pressed again while the box stays: under Xvfb, with no
    window manager, a click that comes while the box is still being laid out can be lost, and the
    test then waited in vain for an undo nobody had asked for."""
    for attempt in range(3):
        click(button, top="caption:元に戻す")
        if wait_until(lambda: not wine_gui.exists("caption:元に戻す", "shown"), 10):
            return
        print("     killed (%d): the box is still shown after click %d" % (trial, attempt + 1))
    check(False, "killed (%d): the box takes the click" % trial)


def killed_then_restarted(app, music, trials):
    pristine = music + ".pristine"
    shutil.copytree(music, pristine)
    before = hashes(music)
    cut = 0
    for trial in range(trials):
        program, window = wine_gui.start(app, music)
        # Killed once a random number of files has been written: a time of its own would fall
        # after the save's end on a quiet machine and before its start on a busy one.
        stamps = {n: os.stat(os.path.join(music, n)).st_mtime_ns for n in os.listdir(music)}
        goal = random.randint(1, len(stamps) * 3 // 4)

        def kill():
            wait_until(lambda: written(music, stamps) >= goal, SLOW, 0.001)
            os.kill(program.pid, signal.SIGKILL)
        # Watching from the start: the save may be over before the click that starts it returns.
        killer = threading.Thread(target=kill)
        killer.start()
        save()
        killer.join()
        program.wait()
        program, window = wine_gui.start(app, music)
        if wait_until(lambda: wine_gui.exists("caption:元に戻す", "shown"), 30):
            cut += 1
            # はい, the default button: undo.
            untouched = restored(music, stamps)
            answer("text:はい(&Y)", trial)
            if trial == 0:
                # Killed again, in the middle of the undo: the next start finishes it.
                check(wait_until(lambda: restored(music, stamps) > untouched, 120, 0.001),
                      "killed (%d): the undo begins within two minutes" % trial)
                os.kill(program.pid, signal.SIGKILL)
                program.wait()
                program, window = wine_gui.start(app, music)
                if wait_until(lambda: wine_gui.exists("caption:元に戻す", "shown"), 30):
                    answer("id:1", trial)
                    print("     killed (%d): the undo was stopped and is finished" % trial)
            check(wait_until(lambda: hashes(music) == before, SLOW),
                  "killed (%d): every file has its bytes back, no temporary file left" % trial)
        else:
            # The save had ended before the kill: another run's save, which this one does not
            # undo. The files are put back for the next round.
            print("     killed (%d): the save had ended" % trial)
            shutil.rmtree(music)
            shutil.copytree(pristine, music)
        # The box came before the window took the focus: a click gives it.
        click("class:tagwhirl.TargetListView")
        wine_gui.close(program, window)
    check(cut > 0, "at least one save was cut off (%d of %d)" % (cut, trials))


def kept_files(volume):
    """The files in the volume's folders of kept originals (none where it has none); the originals
    of files undo named, set aside for the user in its not-restored folders, are meant to stay."""
    found = []
    for folder, folders, names in os.walk(os.path.join(volume, ".tagwhirl-kept")):
        folders[:] = [f for f in folders if not f.startswith("not-restored")]
        found += [os.path.join(folder, n) for n in names]
    return found


def second_volume(work):
    """A tmpfs of its own as drive D: of the prefix; None where mounting is not allowed."""
    mount = os.path.join(work, "second")
    os.makedirs(mount)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2g", "tmpfs", mount],
                      capture_output=True).returncode != 0:
        print("     no second volume: mounting a tmpfs is not allowed here; its cases are skipped")
        return None
    drive = os.path.join(wine_gui.ENV["WINEPREFIX"], "dosdevices", "d:")
    if os.path.lexists(drive):
        os.remove(drive)
    os.symlink(mount, drive)
    return mount


def run_cases(app, work, volume, name):
    root = os.path.join(volume or work, name)
    os.makedirs(root)
    music, out = make_music(root, "music", COPIES), os.path.join(root, "out")
    os.makedirs(out)
    before = hashes(music)
    where = "on a second volume" if volume else "on the journal's volume"
    print("  music %s" % where)
    in_place_then_ctrl_z(app, music, before)
    into_folder_then_menu(app, music, before, out)
    killed_then_restarted(app, make_music(root, "big", KILLED_COPIES),
                          int(os.environ.get("UNDO_KILLS", "3")))
    if volume:
        check(not kept_files(volume), "%s: the volume's kept originals are gone" % where)
    folder_now_a_link(app, root)


def main():
    work = tempfile.mkdtemp(prefix="undo.", dir=os.path.join(BIN, ".."))
    volume = None
    try:
        journal = os.path.join(work, "journal")
        wine_gui.ENV["TAGWHIRL_JOURNAL"] = wine_gui.windows_path(work) + "\\journal"
        app = os.path.join(wine_gui.make_app(work), "tagwhirl.exe")
        volume = second_volume(work)
        for place in [None] + ([volume] if volume else []):
            run_cases(app, work, place, "one" if place is None else "two")
        check(os.path.isdir(journal), "the journal is where TAGWHIRL_JOURNAL says")
    finally:
        if volume:
            os.remove(os.path.join(wine_gui.ENV["WINEPREFIX"], "dosdevices", "d:"))
            subprocess.run(["umount", volume])
        shutil.rmtree(work, ignore_errors=True)


main()
sys.exit(wine_gui.finish("UndoTest"))
