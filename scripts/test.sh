#!/usr/bin/env bash
# Installs what is missing, builds both trees and runs every test: the native tests (with the
# sanitizers) first, then the Windows tests under Wine on a private Xvfb display.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/build.sh

status=0
echo "== native tests"
ctest --test-dir build/native --output-on-failure -j "$(nproc)" || status=1

echo "== Windows tests under Wine"
source scripts/wine-env.sh
source scripts/xvfb.sh
tagwhirl_start_xvfb
trap 'tagwhirl_wine_down; tagwhirl_stop_xvfb' EXIT
tagwhirl_wine_up
ctest --test-dir build/win --output-on-failure --timeout 600 || status=1

if [ $status -ne 0 ]; then
  echo "SOME TESTS FAILED"
else
  echo "ALL TESTS PASSED"
fi
exit $status
