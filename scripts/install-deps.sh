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
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
elif [ -n "${need_update:-}" ]; then
  $sudo apt-get update -qq
fi

if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  if ! grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  fi
  $sudo locale-gen >/dev/null
fi
