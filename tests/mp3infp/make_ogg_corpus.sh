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
# FLAC in Ogg from both encoders, Theora video with Vorbis sound, a stream numbered from page 5,
# one with a page missing between its headers, and audio on the last header page.
ffmpeg -v error -i "$tmp/tone.wav" -c:a flac "$out/flac-ffmpeg.oga"
flac -s --ogg --padding=64 "$tmp/tone.wav" -o "$out/flac.oga"
ffmpeg -v error -f lavfi -i "testsrc=duration=0.2:size=16x16:rate=5" -f lavfi \
  -i "sine=duration=0.2:sample_rate=8000" -c:v libtheora -q:v 0 -c:a libvorbis -ac 1 \
  "$out/theora.ogg"
/usr/bin/python3 - "$out" "$(dirname "$0")" <<'PY'
import struct, sys
sys.path.insert(0, sys.argv[2])
from independent_readers import ogg_crc, ogg_pages
def renumber(data, number):
    out = b""
    for index, page in enumerate(ogg_pages(data)):
        raw = bytearray(page["raw"])
        struct.pack_into("<II", raw, 18, number(index, page["sequence"]), 0)
        out += raw[:22] + struct.pack("<I", ogg_crc(bytes(raw))) + raw[26:]
    return out
vorbis = open(sys.argv[1] + "/vorbis.ogg", "rb").read()
open(sys.argv[1] + "/from5.ogg", "wb").write(renumber(vorbis, lambda i, s: s + 5))
open(sys.argv[1] + "/hole.ogg", "wb").write(renumber(vorbis, lambda i, s: s + (i > 0)))
# The last header page joined with the first audio page.
def joined(data, count):
    pages = ogg_pages(data)
    head, audio = pages[1], pages[2:2 + count]
    raw = bytearray(audio[-1]["raw"][:26])
    lacing = head["lacing"] + b"".join(p["lacing"] for p in audio)
    raw[5] = audio[-1]["flags"] & 4
    raw += bytes([len(lacing)]) + lacing + head["body"] + b"".join(p["body"] for p in audio)
    rest = b"".join(p["raw"] for p in pages[2 + count:])
    return pages[0]["raw"] + renumber(bytes(raw) + rest, lambda i, s: s - count + 1 if i else 1)
open(sys.argv[1] + "/shared.ogg", "wb").write(joined(vorbis, 1))
opus = open(sys.argv[1] + "/opus.opus", "rb").read()
open(sys.argv[1] + "/shared.opus", "wb").write(joined(opus, 1))
PY
