#!/usr/bin/env bash
# Configures and builds both trees: build/win (the Windows program, its library and tests) and
# build/native (the window-free code and its tests). Extra arguments go to both cmake --build calls.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/install-deps.sh

jobs="$(nproc)"
if [ ! -f build/win/build.ninja ]; then
  cmake -S . -B build/win -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build build/win -j "$jobs" "$@"

if [ "${TAGWHIRL_WINDOWS_ONLY:-}" != 1 ]; then
  if [ ! -f build/native/build.ninja ]; then
    cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAGWHIRL_SANITIZE=ON
  fi
  cmake --build build/native -j "$jobs" "$@"
fi
