#!/usr/bin/env bash
# Installs every Debian package the build and the tests need, and only those that are missing,
# so that a second run costs a few dpkg queries. Also makes sure the ja_JP.UTF-8 locale exists:
# Wine derives the ANSI code page (932) from it.
set -euo pipefail

packages=(
  cmake ninja-build make pkg-config
  g++ clang libclang-rt-14-dev
  g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  libboost1.81-dev googletest
  wine wine32:i386 wine64
  xvfb xdotool x11-utils imagemagick fonts-ipafont-gothic
  locales
  python3-mutagen libimage-exiftool-perl id3v2
  ffmpeg flac vorbis-tools opus-tools
)

sudo=""
if [ "$(id -u)" != 0 ]; then sudo="sudo"; fi

# A mirror in the middle of its sync serves an index of the wrong size for a minute or so, and
# apt-get update then fails as a whole. Try again a few times; if one index still cannot be had,
# go on with the others: the install itself says whether anything needed is missing.
update() {
  local try
  for try in 1 2 3; do
    if $sudo apt-get update -qq; then return 0; fi
    if [ "$try" != 3 ]; then
      echo "apt-get update failed (try $try of 3); trying again in $((try * 10)) s" >&2
      sleep $((try * 10))
    fi
  done
  echo "apt-get update kept failing; installing from the indexes it has" >&2
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  update
  if ! $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"; then
    # Seen: the security archive's i386 index a sync behind its amd64 one, so that the 32-bit
    # half of Wine, whose libraries must match the 64-bit ones version for version, cannot be
    # installed at all. The main archive alone is consistent across the two; a build machine can
    # do without the newer security versions until the mirror is whole again.
    echo "apt-get install failed; trying again from the main archive alone" >&2
    sources=$(mktemp -d)
    trap 'rm -rf "$sources"' EXIT
    for f in /etc/apt/sources.list.d/*.sources; do
      if [ -e "$f" ]; then
        awk 'BEGIN { RS = ""; ORS = "\n\n" } !/security/' "$f" >"$sources/$(basename "$f")"
      fi
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      if [ -e "$f" ]; then grep -v security "$f" >"$sources/$(basename "$f")" || true; fi
    done
    $sudo apt-get install -y -qq --no-install-recommends \
      -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$sources" "${missing[@]}"
  fi
elif [ -n "${need_update:-}" ]; then
  update
fi

if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  if ! grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  fi
  $sudo locale-gen >/dev/null
fi
