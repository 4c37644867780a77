#!/usr/bin/env bash
# tagwhirl against kid3-cli on the same MP3 files: tags from file names, saved in place.
# Installs kid3-cli, builds PeerBench, starts a private X display and Wine, then runs
# peer_bench.py (see there for what is timed).
#
#   bash bench/peer/peer-bench.sh [files] [KiB per file] [rounds]    (defaults: 1000 1024 3)
#   bash bench/peer/peer-bench.sh folders [small] [large] [KiB per file] [rounds]
#                                                  (defaults: 1000 10000 64 3)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$root"

sudo_if_needed() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
# kid3-cli is the tagger compared with; mutagen checks that both wrote the values.
if ! command -v kid3-cli >/dev/null || ! /usr/bin/python3 -c 'import mutagen' 2>/dev/null; then
  sudo_if_needed apt-get install -y kid3-cli python3-mutagen || {
    sudo_if_needed apt-get update && sudo_if_needed apt-get install -y kid3-cli python3-mutagen
  }
fi

if [ ! -f build/win/build.ninja ]; then
  TAGWHIRL_WINDOWS_ONLY=1 bash scripts/build.sh
fi
cmake --build build/win --target PeerBench mp3infp

source scripts/wine-env.sh
source scripts/xvfb.sh
tagwhirl_start_xvfb
trap 'tagwhirl_wine_down; tagwhirl_stop_xvfb' EXIT
tagwhirl_wine_up
/usr/bin/python3 bench/peer/peer_bench.py build/win/bin "$@"
