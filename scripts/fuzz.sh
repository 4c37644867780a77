#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build/fuzz) and runs one of them.
#   scripts/fuzz.sh <target> <seconds> <corpus folder> [more libFuzzer options]
# New inputs go into a scratch folder beside the corpus; merge the useful ones by hand.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/install-deps.sh
target="$1"; seconds="$2"; corpus="$3"; shift 3
if [ ! -f build/fuzz/build.ninja ]; then
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTAGWHIRL_FUZZ=ON -DBUILD_TESTING=OFF
fi
cmake --build build/fuzz --target "$target"
scratch="build/fuzz/corpus-$target"
mkdir -p "$scratch"
# Crashes and slow inputs go beside the scratch corpus, not into the working folder.
exec build/fuzz/bin/"$target" -max_total_time="$seconds" -artifact_prefix="build/fuzz/$target-" \
  "$@" "$scratch" "$corpus"
