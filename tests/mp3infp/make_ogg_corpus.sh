#!/usr/bin/env bash
# Writes the seed corpus of OggFileFuzz: tiny files from the system's encoders (Vorbis with its
# comment sharing a page with the setup header, Opus with padding, a picture, a chain, two
# streams multiplexed, one cut short). Run by hand; the fuzzer's finds are added beside them.
set -euo pipefail
out="${1:-$(dirname "$0")/corpus-ogg}"
mkdir -p "$out"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
ffmpeg -v error -f lavfi -i "sine=frequency=440:duration=0.1" -ac 1 -ar 8000 "$tmp/tone.wav"
ffmpeg -v error -f lavfi -i "color=red:s=2x2" -frames:v 1 "$tmp/cover.png"
oggenc -Q -q -1 -s 1 -c ARTIST=a -c title=t -c TITLE=u -c GENRE= -o "$out/vorbis.ogg" "$tmp/tone.wav"
oggenc -Q -q -1 -s 2 -o "$tmp/second.ogg" "$tmp/tone.wav"
opusenc --quiet --bitrate 6 --artist a --comment R128_TRACK_GAIN=1 "$tmp/tone.wav" "$out/opus.opus"
opusenc --quiet --bitrate 6 --picture "$tmp/cover.png" "$tmp/tone.wav" "$out/picture.opus"
cat "$out/vorbis.ogg" "$tmp/second.ogg" > "$out/chain.ogg"
ffmpeg -v error -i "$out/vorbis.ogg" -i "$tmp/second.ogg" -map 0 -map 1 -c copy "$out/multiplexed.ogg"
head -c -40 "$out/opus.opus" > "$out/cut.opus"
