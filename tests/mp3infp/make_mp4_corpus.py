#!/usr/bin/env python3
"""Writes the seed corpus of Mp4FileFuzz: tiny M4A files made by ffmpeg in the layouts it writes
(moov after or before mdat, AAC and ALAC, tags and cover art), and one tagged by mutagen, which
leaves a free box after ilst; then bytes appended after the last box, and a large free box
after moov."""
import os
import shutil
import subprocess
import sys
import tempfile

out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus-mp4")
os.makedirs(out, exist_ok=True)
work = tempfile.mkdtemp()
cover = os.path.join(work, "cover.png")
subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "color=red:size=8x8",
                "-frames:v", "1", cover], check=True)
for name, codec, flags, tags, art in [
    ("aac-tail.m4a", "aac", [], ["-metadata", "title=T", "-metadata", "track=3/9"], False),
    ("aac-fast.m4a", "aac", ["-movflags", "+faststart"], ["-metadata", "artist=A"], False),
    ("alac-fast.m4a", "alac", ["-movflags", "+faststart"], [], False),
    ("aac-cover.m4a", "aac", ["-movflags", "+faststart"], ["-metadata", "genre=Rock"], True),
]:
    args = ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=duration=0.05"]
    if art:
        args += ["-i", cover, "-map", "0", "-map", "1", "-c:v", "png", "-disposition:v",
                 "attached_pic"]
    subprocess.run(args + ["-c:a", codec] + flags + tags + [os.path.join(out, name)], check=True)
# What tolerance and the padding policy meet: an ID3v1 tag and junk after the last box, and a
# free box after moov larger than the padding a save keeps.
with open(os.path.join(out, "aac-tail.m4a"), "rb") as f:
    tail = f.read()
for name, extra in [("aac-id3v1.m4a", b"TAG" + b"Old title".ljust(125, b"\0")),
                    ("aac-junk.m4a", b"\xff\xfe" * 20),
                    ("aac-large-free.m4a", (100000).to_bytes(4, "big") + b"free" + bytes(99992))]:
    with open(os.path.join(out, name), "wb") as f:
        f.write(tail + extra)
try:
    import mutagen.mp4
    tagged = os.path.join(out, "mutagen-padded.m4a")
    shutil.copy(os.path.join(out, "aac-fast.m4a"), tagged)
    f = mutagen.mp4.MP4(tagged)
    f["\xa9nam"] = ["Title"]
    f["----:com.apple.iTunes:X"] = [b"y"]
    f.save()
except ImportError:
    pass
shutil.rmtree(work)
