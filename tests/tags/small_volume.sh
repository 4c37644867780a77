#!/usr/bin/env bash
# Runs a test program with TAGWHIRL_SMALL_VOLUME naming (as Wine sees it) a tmpfs of 512 KiB of its
# own, where the test can fill a journal's volume. Mounting needs root: elsewhere the variable is
# left unset and the test skips those cases, saying so.
set -u
dir=$(mktemp -d)
if mount -t tmpfs -o size=512k tmpfs "$dir" 2>/dev/null; then
  export TAGWHIRL_SMALL_VOLUME="Z:${dir//\//\\}"
  trap 'umount "$dir"; rmdir "$dir"' EXIT
else
  echo "mounting a tmpfs is not allowed here: the cases of a small journal volume are skipped"
  trap 'rmdir "$dir"' EXIT
fi
"$@"
