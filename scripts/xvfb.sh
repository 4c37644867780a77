# Sourced: a private X display for the programs that show windows.
tagwhirl_start_xvfb() {
  local n
  for n in $(seq 91 140); do
    if [ ! -e "/tmp/.X${n}-lock" ] && [ ! -e "/tmp/.X11-unix/X${n}" ]; then
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      TAGWHIRL_XVFB_PID=$!
      export DISPLAY=":$n"
      local i
      for i in $(seq 1 50); do
        if xdpyinfo >/dev/null 2>&1; then return 0; fi
        sleep 0.1
      done
      echo "Xvfb did not start on :$n" >&2
      return 1
    fi
  done
  echo "no free X display" >&2
  return 1
}

tagwhirl_stop_xvfb() {
  if [ -n "${TAGWHIRL_XVFB_PID:-}" ]; then
    kill "$TAGWHIRL_XVFB_PID" 2>/dev/null || true
    wait "$TAGWHIRL_XVFB_PID" 2>/dev/null || true
    TAGWHIRL_XVFB_PID=
  fi
}
