"""Driving the program under Wine and X as a person does, for the tests of the whole program
(EndToEndTest.py, MixedFormatsTest.py, PackageTest.py): Wine's environment, real keyboard and
mouse input through xdotool, the windows found by WindowProbe.exe, and the findings recorded.

    import wine_gui
    wine_gui.init(bin_folder)   # the build's bin folder, which holds WindowProbe.exe
"""
import os
import shutil
import subprocess
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
ENV = dict(os.environ)
ENV.update(WINEPREFIX=os.environ.get("WINEPREFIX", os.path.join(ROOT, "build", "wine")),
           WINEARCH="win32", WINEDEBUG="-all", LANG="ja_JP.UTF-8",
           WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
BIN = None
failures = []


def init(bin_folder):
    global BIN
    BIN = os.path.abspath(bin_folder)


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)
    return condition


def finish(name):
    print("%s: %d failures" % (name, len(failures)))
    return 1 if failures else 0


def wine(*args, **kwargs):
    return subprocess.run(["wine", *args], env=ENV, capture_output=True, text=True, **kwargs)


def probe(*args):
    return wine(os.path.join(BIN, "WindowProbe.exe"), *args).stdout.replace("\r", "").strip()


def xdotool(*args):
    # --sync waits for the X server's answer, which a window gone meanwhile never gives.
    return subprocess.run(["timeout", "30", "xdotool", *args], env=ENV, capture_output=True,
                          text=True).stdout.strip()


def windows_path(path):
    return subprocess.run(["winepath", "-w", path], env=ENV, capture_output=True,
                          text=True).stdout.strip()


def wait_until(condition, seconds, step=0.2):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


def click(control, top="tagwhirl.MainWindow"):
    for _ in range(50):
        at = probe("rect", top, control)
        if at:
            x, y = at.split()
            xdotool("mousemove", "--sync", x, y, "click", "1")
            time.sleep(0.3)
            return True
        time.sleep(0.2)
    return check(False, "found " + control)


def exists(top, how="exists"):
    return wine(os.path.join(BIN, "WindowProbe.exe"), how, top).returncode == 0


def rows(top="tagwhirl.MainWindow", control="class:tagwhirl.TargetListView"):
    count = probe("count", top, control)
    return int(count) if count.isdigit() else -1


def focus(window, top="tagwhirl.MainWindow", control=None, seconds=30):
    """Gives `window` (an X id) the X input focus, as a window manager would, and waits until Wine
    has made `top` the active window (and `control`, a class, the focused one): keys sent before
    that go to whatever was active."""
    active = (top.replace("caption:", "#32770: ") + "\n") if top.startswith("caption:") else top + ":"

    def taken():
        xdotool("windowfocus", "--sync", window)
        now = probe("focus") + "\n"
        return now.startswith(active) and (not control or ("\n" + control + ":") in now)
    return wait_until(taken, seconds, step=0.5)


def context_menu(window):
    """Shift+F10 on the list once it has the keyboard; True when the menu shows."""
    if not focus(window, control="tagwhirl.TargetListView"):
        click("class:tagwhirl.TargetListView")
    xdotool("key", "shift+F10")
    return wait_until(lambda: exists("#32768", "shown"), 30)


def make_app(work, program="tagwhirl.exe"):
    """The program alone with its library: no rules file, so only a typed rule acts."""
    app = os.path.join(work, "app")
    os.makedirs(app)
    for name in (program, "mp3infp.dll"):
        shutil.copy(os.path.join(BIN, name), app)
    return app


def start(program, folder, cwd=None):
    """Starts `program` (a path) on a folder; the process and the main window's X id, or None."""
    process = subprocess.Popen(["wine", program, windows_path(folder)],
                               cwd=cwd or os.path.dirname(program), env=ENV,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    window = subprocess.run(["timeout", "40", "xdotool", "search", "--sync", "--name",
                             "^tagwhirl$"], env=ENV, capture_output=True, text=True).stdout.split()
    check(bool(window), "the main window appears")
    if not window or not wait_until(lambda: exists("tagwhirl.MainWindow", "shown"), 30):
        process.kill()
        return None
    # The rows of the folder on the command line are taken after the window shows (or a box
    # comes first).
    wait_until(lambda: rows() > 0 or exists("#32770", "shown"), 30, step=0.5)
    return process, window[0]


def close(process, window):
    # Alt+F4 reaches the window only once Wine has taken the X focus; a key lost on a busy
    # machine is sent again while the window is still there.
    code = "timeout"
    for _ in range(3):
        focus(window)
        xdotool("key", "alt+F4")
        try:
            code = process.wait(20)
            break
        except subprocess.TimeoutExpired:
            if not exists("tagwhirl.MainWindow", "shown"):
                code = process.wait(20) if process.poll() is None else process.returncode
                break
    if process.poll() is None:
        process.kill()
    check(code == 1, "the program ends with exit code 1 (got %s)" % code)


def apply_rule(rule):
    """Every row selected from the keyboard (into the list, Home, Shift+End), then `rule` typed
    into the rule box and confirmed."""
    click("class:tagwhirl.TargetListView")
    xdotool("key", "--delay", "80", "Home", "shift+End")
    click("class:ComboBoxEx32")
    xdotool("type", "--delay", "40", rule)
    xdotool("key", "Return")
    time.sleep(0.5)


def mp3(id3=b""):
    """MPEG audio of 40 frames behind `id3`."""
    frame = b"\xff\xfb\x90\x64" + bytes((i * 37) & 0xFF for i in range(413))
    return id3 + frame * 40
