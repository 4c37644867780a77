#!/usr/bin/env bash
# Builds the Windows program and packs the download for Windows users:
# build/tagwhirl-VERSION-win32.zip (the program, mp3infp.dll, the sample rules, the guide to rules
# and a read-me). The version is that of project() in CMakeLists.txt.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

TAGWHIRL_WINDOWS_ONLY=1 bash scripts/build.sh --target tagwhirl mp3infp
version=$(sed -n 's/^#define TAGWHIRL_VERSION_TEXT "\(.*\)"$/\1/p' build/win/generated/Version.h)
python3 scripts/make-package.py build/win/bin "$version" build
