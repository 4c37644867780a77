#!/usr/bin/env python3
"""Writes the seed corpus of Mp4FileFuzz: tiny M4A files made by ffmpeg in the layouts it writes
(moov after or before mdat, AAC and ALAC, tags and cover art), and one tagged by mutagen, which
leaves a free box after ilst."""
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
