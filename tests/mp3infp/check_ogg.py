#!/usr/bin/env python3
"""Makes Ogg Vorbis and Opus files with the system's encoders, saves values into them through
SaveTool (the library's code) and checks the result with independent readers
(independent_readers.py: mutagen, vorbiscomment, ogginfo, opusinfo, ffprobe, the decoded audio's
MD5 from ffmpeg, and a page walker that checks every checksum, the sequence numbers, the serial
and the pages after the headers).
    check_ogg.py SaveTool WORK_FOLDER"""
import base64
import os
import shutil
import struct
import subprocess
import sys

from mutagen.oggflac import OggFLAC
from mutagen.oggopus import OggOpus
from mutagen.oggvorbis import OggVorbis

from independent_readers import comment_list, ogg_crc, ogg_pages as pages, ogg_packets as packets
from independent_readers import audio_md5, ffprobe_tags, FFPROBE_NAMES, VORBIS_NAMES
import independent_readers

tool, work = sys.argv[1], sys.argv[2]
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
check = independent_readers.Findings()

# The seven fields as the program passes them (code page 932) and the names they are stored as.
FIELDS = [("IART", "ARTIST", "表示アーティスト～"), ("IPRD", "ALBUM", "アルバム－ソ"),
          ("INAM", "TITLE", "題名テスト"), ("TRACK", "TRACKNUMBER", "12"),
          ("IGNR", "GENRE", "J-POP"), ("ICRD", "DATE", "2023"), ("ICMT", "COMMENT", "コメント表示")]



def path(name):
    return os.path.join(work, name)


def run(*command, ok=True):
    result = subprocess.run(command, capture_output=True)
    if ok:
        check(result.returncode == 0, f"{command[:3]} failed: {result.stderr[-300:]!r}")
    return result


def read(name):
    with open(path(name), "rb") as f:
        return f.read()


def write(name, data):
    with open(path(name), "wb") as f:
        f.write(data)


def save(source, target, values, expect=0):
    """Saves with SaveTool; the tool's word on how it would write ("in place", "rewritten")."""
    result = independent_readers.save_tool(tool, path(source), path(target), dict(values))
    check(result.returncode == expect,
          f"{source} -> {target}: exit {result.returncode}, expected {expect}")
    return result.stdout.decode().strip()


def verify(source, target, values, opus=False, same_pages=True):
    """Everything a save must keep and give, from `source` to `target`, as independent readers
    see it; with `same_pages`, the header pages also keep their number."""
    independent_readers.check_saved(check, path(target), path(source), dict(values))
    if same_pages:
        headers = 2 if opus else 3
        old_count = packets(pages(read(source)), headers)[1]
        new_count = packets(pages(read(target)), headers)[1]
        check(old_count == new_count, f"{source} -> {target}: header pages {old_count} -> {new_count}")


def tool_info(name):
    result = run(tool, "info", path(name))
    return dict(line.split("=", 1) for line in result.stdout.decode().splitlines()
                if not line.startswith("item="))


JAPANESE = [(k, v) for k, _, v in FIELDS]
ASCII = [("INAM", "Plain title"), ("IART", "Someone")]

# Sources: two seconds of stereo, Vorbis (its comment header shares a page with the setup
# header, as libvorbis lays it out) and Opus (with the padding opusenc leaves).
run("ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=2",
    "-ac", "2", "-ar", "44100", path("tone.wav"))
run("ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=red:s=16x16", "-frames:v", "1",
    path("cover.png"))
run("oggenc", "-Q", "-q", "0", "-s", "1234", "-c", "ARTIST=Old", "-c", "title=first",
    "-c", "TITLE=second", "-c", "REPLAYGAIN_TRACK_GAIN=-3.20 dB", "-c", "LYRICS=",
    "-o", path("vorbis.ogg"), path("tone.wav"))
run("oggenc", "-Q", "-q", "0", "-s", "5678", "-c", "TITLE=next", "-o", path("second.ogg"),
    path("tone.wav"))
run("opusenc", "--quiet", "--artist", "Old", "--comment", "R128_TRACK_GAIN=12",
    "--picture", path("cover.png"), path("tone.wav"), path("opus.opus"))

# The comment and the setup header share the second page.
first = pages(read("vorbis.ogg"))
check(sum(1 for lace in first[1]["lacing"] if lace < 255) == 2, "vorbis.ogg: layout not shared")

# Stream information.
info = tool_info("vorbis.ogg")
check((info["format"], info["rate"], info["channels"], info["seconds"], info["writable"])
      == ("Ogg Vorbis", "44100", "2", "2.000", "1"), f"vorbis.ogg info {info}")
check(int(info["bitrate"]) > 0, f"vorbis.ogg bit rate {info}")
info = tool_info("opus.opus")
check((info["format"], info["rate"], info["channels"], info["seconds"])
      == ("Opus", "48000", "2", "2.000"), f"opus.opus info {info}")

# Vorbis: every field, with mixed-case duplicates replaced; the pages keep their number.
check(save("vorbis.ogg", "vorbis-saved.ogg", JAPANESE) == "rewritten", "vorbis: not rewritten")
verify("vorbis.ogg", "vorbis-saved.ogg", JAPANESE)
# The same length again: in place.
check(save("vorbis-saved.ogg", "vorbis-again.ogg", JAPANESE) == "in place", "vorbis: same length")
check(read("vorbis-saved.ogg") == read("vorbis-again.ogg"), "vorbis: same values, other bytes")

# A picture of 90 KB: the comment spans pages; a save keeps the picture and the page count.
picture = struct.pack(">II", 3, 9) + b"image/png" + struct.pack(">I", 0) + struct.pack(">IIIII", 16, 16, 24, 0, 90000) + os.urandom(90000)
with open(path("comments.txt"), "w") as f:
    f.write("METADATA_BLOCK_PICTURE=" + base64.b64encode(picture).decode() + "\n")
run("vorbiscomment", "-a", "-c", path("comments.txt"), path("vorbis.ogg"), path("picture.ogg"))
check(packets(pages(read("picture.ogg")), 3)[1] >= 3, "picture.ogg: comment on one page")
save("picture.ogg", "picture-saved.ogg", JAPANESE)
verify("picture.ogg", "picture-saved.ogg", JAPANESE)

# A comment too long for the header pages: more pages, every later page renumbered.
long_comment = [("ICMT", "長い" * 20000)]
save("vorbis.ogg", "grown.ogg", long_comment)
verify("vorbis.ogg", "grown.ogg", long_comment, same_pages=False)
check(packets(pages(read("grown.ogg")), 3)[1] > 2, "grown.ogg: did not grow")
save("grown.ogg", "shrunk.ogg", ASCII + [("ICMT", "short")])
verify("grown.ogg", "shrunk.ogg", ASCII + [("ICMT", "short")])

# Opus: opusenc leaves room after the list, so saves go in place; the picture stays.
check(save("opus.opus", "opus-saved.opus", JAPANESE) == "in place", "opus: not in place")
verify("opus.opus", "opus-saved.opus", JAPANESE, opus=True)
# Without room: rewritten with room added, and the next save fits in place.
shutil.copy(path("opus.opus"), path("tight.opus"))
tight = OggOpus(path("tight.opus"))
tight.save(padding=lambda info: 0)
check(comment_list(packets(pages(read("tight.opus")), 2)[0][1])[2] == b"", "tight.opus: padded")
check(save("tight.opus", "tight-saved.opus", JAPANESE) == "rewritten", "tight opus: in place")
verify("tight.opus", "tight-saved.opus", JAPANESE, opus=True)
check(save("tight-saved.opus", "tight-again.opus", ASCII) == "in place", "opus: no room left")
verify("tight-saved.opus", "tight-again.opus", ASCII, opus=True)

# A chain of two streams: the first stream's tags; the second link stays byte for byte, also
# when the first one's pages are renumbered.
write("chain.ogg", read("vorbis.ogg") + read("second.ogg"))
for target, values in (("chain-saved.ogg", ASCII), ("chain-grown.ogg", long_comment)):
    save("chain.ogg", target, values)
    check(read(target).endswith(read("second.ogg")), f"{target}: second link changed")
    check(OggVorbis(path(target)).tags["TITLE" if values == ASCII else "COMMENT"]
          == [dict(values)["INAM" if values == ASCII else "ICMT"]], f"{target}: mutagen")
    log = run("ogginfo", path(target)).stdout.decode("utf-8", "replace")
    check("WARNING" not in log and "ERROR" not in log and log.count("New logical stream") == 2,
          f"{target}: ogginfo {log[-300:]}")
    check(all(p["crc_ok"] for p in pages(read(target))), f"{target}: checksums")



def renumbered(data, first, only=None):
    """`data` with its pages numbered on from `first` (or only page `only` given number `first`),
    checksums right."""
    out = b""
    for index, page in enumerate(pages(data)):
        raw = bytearray(page["raw"])
        if only is None or index == only:
            struct.pack_into("<I", raw, 18, page["sequence"] + first if only is None else first)
            raw[22:26] = b"\0\0\0\0"
            struct.pack_into("<I", raw, 22, ogg_crc(bytes(raw)))
        out += bytes(raw)
    return out


def warnings(name):
    log = run("ogginfo", path(name), ok=False).stdout.decode("utf-8", "replace")
    return {line for line in log.splitlines() if "WARNING" in line or "ERROR" in line}


def verify_odd(source, target, values, kind, decoder):
    """A save of a file with more than one stream or an unusual layout: the tagged (first audio)
    stream's pages numbered on from its first without a hole, every other stream's pages byte
    for byte and in order, the audio and video decoding as before, the values where readers
    look, and no complaint from ogginfo or the codec's decoder that the source did not have."""
    old, new = pages(read(source)), pages(read(target))
    where = f"{source} -> {target}"
    check(all(p["crc_ok"] for p in new), f"{where}: checksums")
    serial = next(p["serial"] for p in old if p["body"][:8].startswith(
        (b"\x01vorbis", b"OpusHead", b"\x7fFLAC")))
    first = next(p["sequence"] for p in old if p["serial"] == serial)
    ours = [p["sequence"] for p in new if p["serial"] == serial]
    check(ours == list(range(first, first + len(ours))), f"{where}: sequence numbers {ours[:6]}")
    others = lambda ps: [p["raw"] for p in ps if p["serial"] != serial]
    check(others(old) == others(new), f"{where}: another stream's pages changed")
    check(audio_md5(path(source)) == audio_md5(path(target)), f"{where}: audio changed")
    video = lambda name: run("ffmpeg", "-v", "error", "-i", path(name), "-map", "0:v?", "-f",
                             "md5", "-").stdout
    check(video(source) == video(target), f"{where}: video changed")
    tags, probed = kind(path(target)).tags, ffprobe_tags(path(target))
    for key, text in values:
        check(tags.get(VORBIS_NAMES[key]) == [text], f"{where} {key}: mutagen")
        check(probed.get(FFPROBE_NAMES[key]) == text, f"{where} {key}: ffprobe")
    check(warnings(target) <= warnings(source), f"{where}: ogginfo {warnings(target)}")
    headers = {OggVorbis: 3, OggOpus: 2}.get(kind)
    if headers:
        items = lambda name: comment_list(packets([p for p in pages(read(name))
                                                    if p["serial"] == serial], headers)[0][1])[1]
        ours = {VORBIS_NAMES[key] for key, _ in values}
        others = lambda name: [i for i in items(name) if i.split(b"=")[0].upper().decode() not in ours]
        check(others(source) == others(target), f"{where}: other items changed")
    command = [path(target) if arg == "{}" else arg for arg in decoder]
    check(run(*command).returncode == 0, f"{where}: {decoder[0]}")


# Tolerated and written: FLAC in Ogg from ffmpeg and from flac (with a seek table and padding
# after the comment), a Theora video with its Vorbis sound, two Vorbis streams multiplexed, and
# streams whose first page is not numbered 0.
run("ffmpeg", "-v", "error", "-i", path("tone.wav"), "-c:a", "flac", path("ffmpeg.oga"))
run("flac", "-s", "--ogg", "-T", "ARTIST=Old", path("tone.wav"), "-o", path("flac.oga"))
run("ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=duration=1:size=64x48:rate=10",
    "-f", "lavfi", "-i", "sine=duration=1", "-c:v", "libtheora", "-c:a", "libvorbis",
    path("theora.ogg"))
run("ffmpeg", "-v", "error", "-i", path("vorbis.ogg"), "-i", path("second.ogg"), "-map", "0",
    "-map", "1", "-c", "copy", path("multiplexed.ogg"))
check(len({p["serial"] for p in pages(read("multiplexed.ogg"))}) == 2, "not multiplexed")
write("from5.ogg", renumbered(read("vorbis.ogg"), 5))
write("from5.opus", renumbered(read("opus.opus"), 5))
# The codecs' own decoders (libvorbisfile, libFLAC, libopusfile); opusinfo, like ogginfo,
# warns about any stream whose first page is not numbered 0.
FLAC_TEST, VORBIS_TEST = ("flac", "-s", "-t", "{}"), ("oggdec", "-Q", "-o", "/dev/null", "{}")
OPUS_TEST = ("opusdec", "--quiet", "{}", "/dev/null")
for name, kind, decoder in (("ffmpeg.oga", OggFLAC, FLAC_TEST), ("flac.oga", OggFLAC, FLAC_TEST),
                            ("theora.ogg", OggVorbis, VORBIS_TEST),
                            ("multiplexed.ogg", OggVorbis, VORBIS_TEST),
                            ("from5.ogg", OggVorbis, VORBIS_TEST),
                            ("from5.opus", OggOpus, OPUS_TEST)):
    for suffix, values in (("saved", JAPANESE), ("grown", long_comment)):
        target = f"{suffix}-{name}"
        save(name, target, values)
        verify_odd(name, target, values, kind, decoder)
check(tool_info("ffmpeg.oga")["format"] == "FLAC (Ogg)", "ffmpeg.oga: format")

def share_header_page(data, headers):
    """`data` with the page that ends the `headers` header packets joined with the next page, as
    muxers that fill every page lay out a short stream: audio packets after the headers."""
    ps = pages(data)
    last = packets(ps, headers)[1] - 1
    joined, following = ps[last], ps[last + 1]
    lacing = joined["lacing"] + following["lacing"]
    raw = bytearray(following["raw"][:26] + bytes([len(lacing)]) + lacing + joined["body"]
                    + following["body"])
    raw[5] = (joined["flags"] & 1) | (following["flags"] & 4)
    struct.pack_into("<II", raw, 18, joined["sequence"], 0)
    struct.pack_into("<I", raw, 22, ogg_crc(bytes(raw)))
    out = b"".join(p["raw"] for p in ps[:last]) + bytes(raw)
    return out + renumbered(b"".join(p["raw"] for p in ps[last + 2:]), -1)


# Short streams of tiny packets whose audio begins on the last header page, tagged by mutagen
# with lower-case names and a picture: saved with the headers ending their page, the audio
# moved as it is onto the next; "artist=" is replaced, not doubled.
run("ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=0.05", "-ac", "1",
    "-ar", "8000", path("blip.wav"))
run("oggenc", "-Q", "-q", "-1", "-o", path("blip.ogg"), path("blip.wav"))
run("opusenc", "--quiet", "--bitrate", "6", path("blip.wav"), path("blip.opus"))
run("flac", "-s", "--ogg", "--padding=0", "--no-seektable", path("blip.wav"), "-o", path("blip.oga"))
cover = read("cover.png")
for name, kind, decoder in (("blip.ogg", OggVorbis, VORBIS_TEST), ("blip.opus", OggOpus, OPUS_TEST),
                            ("blip.oga", OggFLAC, FLAC_TEST)):
    tagged = kind(path(name))
    tagged.tags["artist"] = ["old artist"]
    tagged.tags["title"] = ["old"]
    tagged.tags["replaygain_track_gain"] = ["-1.00 dB"]
    if kind is not OggFLAC:
        picture = struct.pack(">II", 3, 9) + b"image/png" + struct.pack(">I6I", 0, 2, 2, 24, 0, 0, len(cover)) + cover
        tagged.tags["metadata_block_picture"] = [base64.b64encode(picture).decode()]
    tagged.save()
    first_packet = pages(read(name))[0]["body"]
    headers = {OggVorbis: 3, OggOpus: 2}.get(kind) or 1 + struct.unpack(">H", first_packet[7:9])[0]
    shared = "shared-" + name
    write(shared, share_header_page(read(name), headers))
    layout = [len(p["lacing"]) for p in pages(read(shared))]
    check(len(pages(read(shared))) < len(pages(read(name))), f"{shared}: not joined {layout}")
    for suffix, values in (("saved", JAPANESE), ("grown", long_comment)):
        target = f"{suffix}-{shared}"
        if save(shared, target, values) == "":
            continue
        verify_odd(shared, target, values, kind, decoder)
        check(not warnings(target), f"{target}: ogginfo {warnings(target)}")
        check(kind(path(target)).tags.get("metadata_block_picture") ==
              tagged.tags.get("metadata_block_picture"), f"{target}: picture")

# Refused, and nothing written: a page missing between the headers, a broken checksum in the
# headers, headers cut short; a file cut in its audio takes a save that keeps its pages, but not
# one that would renumber them.
write("hole.ogg", renumbered(read("vorbis.ogg"), 2, only=1))
damaged = bytearray(read("vorbis.ogg"))
damaged[first[1]["offset"] + 60] ^= 0x20
write("bad-crc.ogg", bytes(damaged))
write("cut-headers.ogg", read("vorbis.ogg")[:first[1]["offset"] + 200])
write("cut-audio.ogg", read("vorbis.ogg")[:-100])
for name, values in (("hole.ogg", ASCII), ("bad-crc.ogg", ASCII),
                     ("cut-headers.ogg", ASCII), ("cut-audio.ogg", long_comment)):
    save(name, "refused-" + name, values, expect=2)
    check(not os.path.exists(path("refused-" + name)), f"{name}: written")
save("cut-audio.ogg", "cut-audio-saved.ogg", ASCII)
check(read("cut-audio-saved.ogg").endswith(read("cut-audio.ogg")[first[2]["offset"]:]),
      "cut-audio.ogg: the audio after the headers changed")

sys.exit(check.finish())
