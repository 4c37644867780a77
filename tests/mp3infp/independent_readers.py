"""What independent readers make of a FLAC, Ogg Vorbis, Opus or M4A file that the tag library
saved, against the file it was saved from: mutagen and the format's own tool (metaflac --list,
vorbiscomment -l, opusinfo) list the values, ffprobe sees them, the decoded audio has the MD5 it
had (ffmpeg -i FILE -map 0:a -f md5 -), and the bytes after the metadata are the same bytes.

    check_saved(check, path, original, values)

`values` maps the field keys the program passes (IART, INAM...) to the Unicode text expected;
`check(condition, message)` records each finding. Used by check_readers.py (files saved through
mp3infp.dll), check_ogg.py and check_mp4.py (files saved by the format code natively) and the
program's end-to-end test of a mixed folder."""
import json
import os
import re
import struct
import subprocess

VORBIS_NAMES = {"IART": "ARTIST", "IPRD": "ALBUM", "INAM": "TITLE", "TRACK": "TRACKNUMBER",
                "IGNR": "GENRE", "ICRD": "DATE", "ICMT": "COMMENT"}
MP4_NAMES = {"IART": "\xa9ART", "IPRD": "\xa9alb", "INAM": "\xa9nam", "TRACK": "trkn",
             "IGNR": "\xa9gen", "ICRD": "\xa9day", "ICMT": "\xa9cmt"}
# ffprobe's names of the fields, whatever the container.
FFPROBE_NAMES = {"IART": "artist", "IPRD": "album", "INAM": "title", "TRACK": "track",
                 "IGNR": "genre", "ICRD": "date", "ICMT": "comment"}
UTF8_ENV = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")


def save_tool(tool, source, target, values):
    """Runs SaveTool on `source` into `target`: `values` maps field names (IART, INAM_v2...) to
    text, passed in code page 932 as the program passes it. The finished process."""
    args = [tool, source, target] + [f"{key}={value}" for key, value in values.items()]
    return subprocess.run([arg.encode("cp932") for arg in args], capture_output=True)


class Findings:
    """What a check script found wrong: `check(condition, what)` records `what` when the
    condition fails; `check.finish()` prints every finding and gives the exit status."""

    def __init__(self):
        self.failures = []

    def __call__(self, condition, what):
        if not condition:
            self.failures.append(what)
        return condition

    def finish(self):
        for failure in self.failures:
            print("FAIL", failure)
        print(f"{len(self.failures)} failures")
        return 1 if self.failures else 0


def read(path):
    with open(path, "rb") as f:
        return f.read()


def kind_of(data):
    """"flac", "vorbis", "opus", "mp4" or None, by content as the library decides."""
    start = 0
    while data[start:start + 3] == b"ID3" and len(data) >= start + 10:
        start += 10 + ((data[start + 6] << 21) | (data[start + 7] << 14) |
                       (data[start + 8] << 7) | data[start + 9])
    if data[start:start + 4] == b"fLaC":
        return "flac"
    if data[:4] == b"OggS":
        body = data[27 + data[26]:]
        return "opus" if body.startswith(b"OpusHead") else "vorbis"
    if data[4:8] == b"ftyp":
        return "mp4"
    return None


def audio_md5(path):
    """The MD5 of the decoded samples, which no change of the tags may alter."""
    result = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:a", "-f", "md5", "-"],
                            capture_output=True)
    return result.stdout.strip() if result.returncode == 0 else None


def ffprobe_tags(path):
    """Format tags and the first audio stream's tags as ffprobe shows them, names in lower case
    (Ogg's comments are stream tags, the others' format tags; a picture's stream has a comment
    of its own)."""
    result = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                             "format_tags:stream_tags", "-of", "json", path], capture_output=True)
    found = json.loads(result.stdout or b"{}")
    tags = {}
    for stream in found.get("streams", []):
        tags.update({k.lower(): v for k, v in stream.get("tags", {}).items()})
    tags.update({k.lower(): v for k, v in found.get("format", {}).get("tags", {}).items()})
    if "tracknumber" in tags:
        tags.setdefault("track", tags["tracknumber"])
    return tags


# FLAC ------------------------------------------------------------------------------------------

def flac_layout(data):
    """(bytes before "fLaC", [(type, last, body)], where the audio starts)."""
    start = 0
    while data[start:start + 3] == b"ID3":
        start += 10 + ((data[start + 6] << 21) | (data[start + 7] << 14) |
                       (data[start + 8] << 7) | data[start + 9])
    pos, blocks = start + 4, []
    while pos + 4 <= len(data):
        length = int.from_bytes(data[pos + 1:pos + 4], "big")
        blocks.append((data[pos] & 0x7F, bool(data[pos] & 0x80), data[pos + 4:pos + 4 + length]))
        pos += 4 + length
        if blocks[-1][1]:
            break
    return data[:start], blocks, pos


def check_flac(check, where, path, original, values):
    from mutagen.flac import FLAC
    saved, before = FLAC(path), FLAC(original)
    names = {VORBIS_NAMES[key] for key in values}
    listing = subprocess.run(["metaflac", "--list", path], capture_output=True, env=UTF8_ENV)
    check(listing.returncode == 0, f"{where}: metaflac --list failed")
    listing = listing.stdout.decode("utf-8", "replace")
    for key, text in values.items():
        name = VORBIS_NAMES[key]
        # One item per field: every old item of that name is replaced.
        check(saved.tags.get(name) == [text],
              f"{where} {key}: mutagen {saved.tags.get(name)!r}, expected [{text!r}]")
        check(re.search(rf"comment\[\d+\]: {name}={re.escape(text)}$", listing, re.M | re.I),
              f"{where} {key}: metaflac does not list {name}={text!r}")
    check(saved.tags.vendor == before.tags.vendor, f"{where}: vendor string changed")
    others = lambda tags: [(k, v) for k, v in (tags or []) if k.upper() not in names]
    check(others(saved.tags) == others(before.tags), f"{where}: other items changed")
    lasts = re.findall(r"^  is last: (\w+)$", listing, re.M)
    check(lasts.count("true") == 1 and lasts[-1] == "true", f"{where}: last-block flags {lasts}")
    new, old = flac_layout(read(path)), flac_layout(read(original))
    check(new[0] == old[0], f"{where}: the bytes before fLaC changed")
    kept = lambda blocks: [(t, body) for t, _, body in blocks if t not in (1, 4)]
    check(kept(new[1]) == kept(old[1]), f"{where}: a block other than comment or padding changed")
    check(read(path)[new[2]:] == read(original)[old[2]:],
          f"{where}: the bytes after the metadata changed")
    check(subprocess.run(["flac", "-s", "-t", path], capture_output=True).returncode == 0,
          f"{where}: flac -t fails")


# Ogg -------------------------------------------------------------------------------------------

def _crc_table():
    table = []
    for i in range(256):
        r = i << 24
        for _ in range(8):
            r = ((r << 1) ^ 0x04C11DB7) if r & 0x80000000 else r << 1
        table.append(r & 0xFFFFFFFF)
    return table


_TABLE = _crc_table()


def ogg_crc(data):
    crc = 0
    for byte in data:
        crc = ((crc << 8) & 0xFFFFFFFF) ^ _TABLE[(crc >> 24) ^ byte]
    return crc


def ogg_pages(data):
    """Every page, whole; raises on bytes that are not a page."""
    out, offset = [], 0
    while offset < len(data):
        if data[offset:offset + 4] != b"OggS" or len(data) - offset < 27:
            raise ValueError(f"no page at {offset}")
        segments = data[offset + 26]
        lacing = data[offset + 27:offset + 27 + segments]
        length = 27 + segments + sum(lacing)
        raw = data[offset:offset + length]
        flags, granule, serial, sequence, crc = struct.unpack("<BqIII", raw[5:27 - 1])
        out.append({"offset": offset, "flags": flags, "granule": granule, "serial": serial,
                    "sequence": sequence, "crc": crc, "lacing": lacing, "raw": raw,
                    "body": raw[27 + segments:],
                    "crc_ok": ogg_crc(raw[:22] + b"\0\0\0\0" + raw[26:]) == crc})
        offset += length
    return out


def ogg_packets(stream_pages, count):
    """The first `count` packets of the pages, and the number of pages they take."""
    found, packet = [], b""
    for index, page in enumerate(stream_pages):
        position = 0
        for lace in page["lacing"]:
            packet += page["body"][position:position + lace]
            position += lace
            if lace < 255:
                found.append(packet)
                packet = b""
                if len(found) == count:
                    return found, index + 1
    return found, len(stream_pages)


def comment_list(packet):
    """Vendor, items and what follows the list of a comment header packet."""
    position = 7 if packet.startswith(b"\x03vorbis") else 8
    (length,) = struct.unpack_from("<I", packet, position)
    vendor = packet[position + 4:position + 4 + length]
    position += 4 + length
    (count,) = struct.unpack_from("<I", packet, position)
    position += 4
    items = []
    for _ in range(count):
        (length,) = struct.unpack_from("<I", packet, position)
        items.append(packet[position + 4:position + 4 + length])
        position += 4 + length
    return vendor, items, packet[position:]


def check_ogg(check, where, path, original, values, opus):
    from mutagen.oggopus import OggOpus
    from mutagen.oggvorbis import OggVorbis
    old, new = ogg_pages(read(original)), ogg_pages(read(path))
    headers = 2 if opus else 3
    old_packets, old_count = ogg_packets(old, headers)
    new_packets, new_count = ogg_packets(new, headers)
    check(all(p["crc_ok"] for p in new), f"{where}: a page checksum is wrong")
    check([p["sequence"] for p in new] == list(range(len(new))), f"{where}: sequence numbers")
    check({p["serial"] for p in new} == {old[0]["serial"]}, f"{where}: serial number")
    check(new[0]["raw"] == old[0]["raw"], f"{where}: first page changed")
    # After the headers: the raw bytes when the header pages kept their number, otherwise the
    # same pages but for their sequence numbers and checksums.
    old_audio, new_audio = old[old_count:], new[new_count:]
    if old_count == new_count:
        check(b"".join(p["raw"] for p in old_audio) == b"".join(p["raw"] for p in new_audio),
              f"{where}: the bytes after the headers changed")
    masked = lambda pages: [p["raw"][:18] + p["raw"][26:] for p in pages]
    check(masked(old_audio) == masked(new_audio), f"{where}: the audio pages changed")
    check(old_packets[2:] == new_packets[2:], f"{where}: setup header changed")
    old_vendor, old_items, old_rest = comment_list(old_packets[1])
    new_vendor, new_items, new_rest = comment_list(new_packets[1])
    check(old_vendor == new_vendor, f"{where}: vendor changed")
    if not opus:
        check(new_rest == old_rest, f"{where}: framing byte or what follows it changed")
    elif old_rest[:1] and old_rest[0] & 1:
        check(new_rest == old_rest, f"{where}: binary data after the list changed")
    names = {VORBIS_NAMES[key] for key in values}
    others = lambda items: [i for i in items if i.split(b"=")[0].upper().decode() not in names]
    check(others(old_items) == others(new_items), f"{where}: other items changed")
    tags = (OggOpus if opus else OggVorbis)(path).tags
    if opus:
        listing = subprocess.run(["opusinfo", path], capture_output=True, env=UTF8_ENV)
    else:
        listing = subprocess.run(["vorbiscomment", "-l", path], capture_output=True, env=UTF8_ENV)
        info = subprocess.run(["ogginfo", path], capture_output=True, env=UTF8_ENV)
        log = info.stdout.decode("utf-8", "replace")
        check(info.returncode == 0 and "WARNING" not in log and "ERROR" not in log,
              f"{where}: ogginfo: {log[-400:]}")
    check(listing.returncode == 0, f"{where}: {listing.args[0]} failed")
    listing = listing.stdout.decode("utf-8", "replace")
    for key, text in values.items():
        name = VORBIS_NAMES[key]
        mine = [i for i in new_items if i.split(b"=")[0].upper() == name.encode()]
        check(mine == [f"{name}={text}".encode()], f"{where}: {name} stored as {mine!r}")
        check(tags.get(name) == [text], f"{where} {key}: mutagen {tags.get(name)!r}")
        check(f"{name}={text}" in listing, f"{where} {key}: {name}={text!r} not listed")


# MP4 -------------------------------------------------------------------------------------------

def mp4_boxes(data, begin, end):
    at = begin
    while at + 8 <= end:
        size, kind = struct.unpack(">I4s", data[at:at + 8])
        header = 8
        if size == 1:
            size, header = struct.unpack(">Q", data[at + 8:at + 16])[0], 16
        elif size == 0:
            size = end - at
        if size < header:
            return
        yield kind, at, header, size
        at += size


def mp4_find(data, path, begin=0, end=None):
    """(begin, end) of the first box at `path`, a list of box types; None when there is none."""
    end = len(data) if end is None else end
    for kind, at, header, size in mp4_boxes(data, begin, end):
        if kind == path[0]:
            payload = at + header + (4 if kind == b"meta" else 0)
            return (at, at + size) if len(path) == 1 else mp4_find(data, path[1:], payload, at + size)
    return None


def mp4_chunk_offsets(data):
    """The box type and the offsets of the first track's chunk offset table."""
    stbl = mp4_find(data, [b"moov", b"trak", b"mdia", b"minf", b"stbl"])
    for kind, at, header, size in mp4_boxes(data, stbl[0] + 8, stbl[1]):
        if kind in (b"stco", b"co64"):
            count = struct.unpack(">I", data[at + 12:at + 16])[0]
            width = 4 if kind == b"stco" else 8
            return kind, [int.from_bytes(data[at + 16 + i * width:at + 16 + (i + 1) * width], "big")
                          for i in range(count)]
    return None, []


def check_mp4(check, where, path, original, values):
    import mutagen.mp4
    new, old = mutagen.mp4.MP4(path), mutagen.mp4.MP4(original)
    for key, text in values.items():
        name = MP4_NAMES[key]
        got = (new.tags or {}).get(name)
        if key == "TRACK":
            track, total = (old.tags or {}).get("trkn", [(0, 0)])[0]
            # A total that was there stays.
            expected = [(int(text), total)]
        else:
            expected = [text]
        check(got == expected, f"{where} {key}: mutagen {got!r}, expected {expected!r}")
    ours = {MP4_NAMES[key] for key in values} | {"gnre"}
    others = lambda tags: {k: v for k, v in (tags or {}).items() if k not in ours}
    check(others(new.tags) == others(old.tags), f"{where}: other items changed")
    before, after = read(original), read(path)
    mdat_old, mdat_new = mp4_find(before, [b"mdat"]), mp4_find(after, [b"mdat"])
    check(before[mdat_old[0]:mdat_old[1]] == after[mdat_new[0]:mdat_new[1]],
          f"{where}: the bytes of mdat changed")
    (kind_old, offsets_old), (kind_new, offsets_new) = (mp4_chunk_offsets(before),
                                                        mp4_chunk_offsets(after))
    shift = mdat_new[0] - mdat_old[0]
    check(kind_old == kind_new and offsets_new == [o + shift for o in offsets_old],
          f"{where}: chunk offsets not moved by {shift}")


def check_saved(check, path, original, values):
    """Every reader's view of `path`, saved with `values` from `original`."""
    where = os.path.basename(path)
    kind = kind_of(read(original))
    check(kind_of(read(path)) == kind, f"{where}: not {kind} any more")
    if kind == "flac":
        check_flac(check, where, path, original, values)
    elif kind in ("vorbis", "opus"):
        check_ogg(check, where, path, original, values, kind == "opus")
    elif kind == "mp4":
        check_mp4(check, where, path, original, values)
    else:
        check(False, f"{where}: no FLAC, Ogg or MP4 file")
        return
    probed = ffprobe_tags(path)
    for key, text in values.items():
        got = probed.get(FFPROBE_NAMES[key])
        if key == "TRACK" and got:
            got = got.split("/")[0]
        check(got == text, f"{where} {key}: ffprobe {got!r}, expected {text!r}")
    md5 = audio_md5(path)
    check(md5 is not None and md5 == audio_md5(original), f"{where}: decoded audio changed")
