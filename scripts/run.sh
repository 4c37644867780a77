#!/usr/bin/env bash
# Builds tagwhirl and starts it under Wine with the files and folders given (Linux paths are
# turned into Windows paths). Without a display it runs on a private Xvfb one.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
args=("$@")
cd "$root"
TAGWHIRL_WINDOWS_ONLY=1 bash scripts/build.sh

source scripts/wine-env.sh
source scripts/xvfb.sh
if [ -z "${DISPLAY:-}" ]; then
  echo "no DISPLAY: running on a private Xvfb display"
  tagwhirl_start_xvfb
  trap tagwhirl_stop_xvfb EXIT
fi
tagwhirl_wine_prefix

paths=()
for a in "${args[@]}"; do
  if [ -e "$a" ]; then
    paths+=("$(winepath -w "$(realpath "$a")" 2>/dev/null)")
  else
    paths+=("$a")
  fi
done
set +e
wine "$root/build/win/bin/tagwhirl.exe" "${paths[@]}"
code=$?
echo "tagwhirl ended with exit code $code"
exit $code
