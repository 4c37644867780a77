#!/usr/bin/env bash
# The whole program under Wine and X, driven with real keyboard input:
#  - without mp3infp.dll it shows its box (no owner, the exact text), creates no window, and ends
#    with code 0 once OK is pressed;
#  - with the library it shows its main window and ends with code 1 when the window is closed.
# Needs DISPLAY (scripts/test.sh starts Xvfb) and the build's bin folder as $1.
set -u
bin="$1"
source "$(dirname "$0")/../../scripts/wine-env.sh"
tagwhirl_wine_prefix
probe="$bin/WindowProbe.exe"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

work=$(mktemp -d "$bin/../program-test.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Waits for the Windows process of `wine` (pid $1) to end, at most $2 seconds; sets $code.
wait_exit() {
  local pid=$1 limit=$2 i
  for i in $(seq 1 $((limit * 10))); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      code=$?
      return
    fi
    sleep 0.1
  done
  code=timeout
}

# Gives X window $2 the focus and presses key $3 until the process (pid $1) ends, at most three
# times: a key that reaches Wine before it has made the window active is lost on a busy machine.
press_until_exit() {
  local pid=$1 window=$2 key=$3 try
  for try in 1 2 3; do
    timeout 10 xdotool windowfocus --sync "$window" 2>/dev/null && xdotool key "$key"
    wait_exit "$pid" 15
    [ "$code" != timeout ] && return
  done
}

# The box's fixed text must read the same in the UTF-8 code page and in the system's (932).
for program in tagwhirl.exe tagwhirl-system-code-page.exe; do
  echo "== missing library: $program"
  mkdir -p "$work/alone"
  rm -f "$work/alone/"*.exe
  cp "$bin/$program" "$work/alone/"
  (cd "$work/alone" && exec wine "$program") &
  pid=$!
  box=$(wine "$probe" wait "mp3infp.dll が見つかりません" 20000 | tr -d "\r")
  echo "$box"
  echo "$box" | grep -q '^#32770: ' || fail "the message is not a message box"
  echo "$box" | grep -q '^Button: OK$' || fail "the box has no OK button"
  [ "$(echo "$box" | grep -c '^Button:')" = 1 ] || fail "the box has more than the OK button"
  if wine "$probe" exists tagwhirl.MainWindow; then fail "a main window exists beside the box"; fi
  caption=$(echo "$box" | head -1 | sed 's/^#32770: //')
  window=$(timeout 30 xdotool search --sync --onlyvisible --name "^${caption}\$" | head -1)
  [ -n "$window" ] || fail "the box is not on the X display"
  press_until_exit $pid "$window" Return
  kill $pid 2>/dev/null
  [ "$code" = 0 ] || fail "exit code without the library: $code, expected 0"
done

echo "== main window closed"
(cd "$bin" && exec wine tagwhirl.exe) &
pid=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^tagwhirl$' | head -1)
[ -n "$window" ] || fail "no main window titled tagwhirl"
wine "$probe" exists tagwhirl.MainWindow || fail "the main window has not the program's class"
press_until_exit $pid "$window" alt+F4
kill $pid 2>/dev/null
[ "$code" = 1 ] || fail "exit code after closing: $code, expected 1"

[ $failures = 0 ] && echo "ProgramTest passed"
exit $failures
