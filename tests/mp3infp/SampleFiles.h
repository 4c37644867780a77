// Builders of sample files for the tag tests: MPEG audio, ID3v2 tags of every version with
// chosen frames and flags, ID3v1 tags, APEv2 tags, RIFF files. Generated in the tests so that
// each case shows exactly what it is made of.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace samples {

using Bytes = std::vector<uint8_t>;

inline Bytes Of(std::string_view text) { return Bytes(text.begin(), text.end()); }

inline void Append(Bytes& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}

inline void AppendBE32(Bytes& out, uint32_t v) {
  out.insert(out.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}
inline void AppendLE32(Bytes& out, uint32_t v) {
  out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}
inline void AppendSyncSafe(Bytes& out, uint32_t v) {
  out.insert(out.end(), {uint8_t((v >> 21) & 0x7f), uint8_t((v >> 14) & 0x7f),
                         uint8_t((v >> 7) & 0x7f), uint8_t(v & 0x7f)});
}

// `frames` MPEG-1 layer III frames (128 kbit/s, 44.1 kHz, 417 bytes each) with varied content,
// including FF bytes, so that an unsynchronisation or a shifted copy would show.
inline Bytes MpegAudio(int frames, uint32_t seed = 1) {
  Bytes out;
  for (int f = 0; f < frames; ++f) {
    out.insert(out.end(), {0xFF, 0xFB, 0x90, 0x64});
    for (int i = 4; i < 417; ++i) {
      seed = seed * 1103515245u + 12345u;
      out.push_back(uint8_t(seed >> 16));
    }
  }
  return out;
}

// One frame of 2.3/2.4 (four-letter id, flags) or 2.2 (three-letter id, no flags).
inline Bytes Frame(int version, std::string_view id, const Bytes& payload, uint16_t flags = 0,
                   bool plainSizeIn24 = false) {
  Bytes out = Of(id);
  const auto size = uint32_t(payload.size());
  if (version == 2) {
    out.insert(out.end(), {uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)});
  } else {
    if (version == 4 && !plainSizeIn24) {
      AppendSyncSafe(out, size);
    } else {
      AppendBE32(out, size);
    }
    out.push_back(uint8_t(flags >> 8));
    out.push_back(uint8_t(flags));
  }
  Append(out, payload);
  return out;
}

// A text frame payload in ISO-8859-1.
inline Bytes Latin1Text(std::string_view text) {
  Bytes out{0};
  Append(out, Of(text));
  return out;
}

// The tag: header (with `flags`), `body` (frames, extended header...) and `padding` zero bytes.
inline Bytes Tag(int version, const Bytes& body, size_t padding, uint8_t flags = 0) {
  Bytes out{'I', 'D', '3', uint8_t(version), 0, flags};
  AppendSyncSafe(out, uint32_t(body.size() + padding));
  Append(out, body);
  out.resize(out.size() + padding, 0);
  return out;
}

// A tag whose size claims the 10 bytes that follow it, as some writers leave them: a 2.4 tag
// flagged with a footer that it lacks, or an older one whose size counts its own header.
inline Bytes OvershootingTag(int version, const Bytes& body, size_t padding) {
  if (version == 4) return Tag(4, body, padding, 0x10);
  Bytes out = Tag(version, body, padding);
  const Bytes tail(out.begin() + 10, out.end());
  out.resize(6);
  AppendSyncSafe(out, uint32_t(tail.size() + 10));
  Append(out, tail);
  return out;
}

inline Bytes Id3v1(std::string_view title, std::string_view artist, int track = 0,
                   uint8_t genre = 255) {
  Bytes out = Of("TAG");
  out.resize(128, 0);
  std::copy(title.begin(), title.end(), out.begin() + 3);
  std::copy(artist.begin(), artist.end(), out.begin() + 33);
  if (track) out[126] = uint8_t(track);
  out[127] = genre;
  return out;
}

// An APEv2 tag with a header and one item.
inline Bytes Ape(std::string_view key, std::string_view value) {
  Bytes items;
  AppendLE32(items, uint32_t(value.size()));
  AppendLE32(items, 0);
  Append(items, Of(key));
  items.push_back(0);
  Append(items, Of(value));
  auto block = [&](uint32_t flags) {
    Bytes b = Of("APETAGEX");
    AppendLE32(b, 2000);
    AppendLE32(b, uint32_t(items.size() + 32));
    AppendLE32(b, 1);
    AppendLE32(b, flags);
    b.resize(b.size() + 8, 0);
    return b;
  };
  Bytes out = block(0xA0000000u);
  Append(out, items);
  Append(out, block(0x80000000u));
  return out;
}

inline Bytes Chunk(std::string_view id, const Bytes& data, bool pad = true) {
  Bytes out = Of(id);
  AppendLE32(out, uint32_t(data.size()));
  Append(out, data);
  if (pad && (data.size() & 1)) out.push_back(0);
  return out;
}

// LIST/INFO with the given (id, value) items; values get their terminator.
inline Bytes InfoList(const std::vector<std::pair<std::string, std::string>>& items) {
  Bytes data = Of("INFO");
  for (const auto& [id, value] : items) {
    Bytes v = Of(value);
    v.push_back(0);
    Append(data, Chunk(id, v));
  }
  return Chunk("LIST", data);
}

// A RIFF file of `form` with the given chunks; `declaredExtra` skews the size in the header.
inline Bytes Riff(std::string_view form, const std::vector<Bytes>& chunks, int declaredExtra = 0) {
  Bytes body = Of(form);
  for (const auto& c : chunks) Append(body, c);
  Bytes out = Of("RIFF");
  AppendLE32(out, uint32_t(int(body.size()) + declaredExtra));
  Append(out, body);
  return out;
}

inline Bytes WaveFormat() {
  Bytes fmt;
  fmt.insert(fmt.end(), {1, 0, 2, 0});  // PCM, stereo
  AppendLE32(fmt, 44100);
  AppendLE32(fmt, 44100 * 4);
  fmt.insert(fmt.end(), {4, 0, 16, 0});
  return fmt;
}

// FLAC: a metadata block (type, body, the last-block flag).
inline Bytes FlacBlock(uint8_t type, const Bytes& body, bool last = false) {
  Bytes out{uint8_t(type | (last ? 0x80 : 0)), uint8_t(body.size() >> 16),
            uint8_t(body.size() >> 8), uint8_t(body.size())};
  Append(out, body);
  return out;
}

// STREAMINFO of 16-bit audio.
inline Bytes FlacStreamInfo(uint32_t rate = 44100, uint32_t channels = 2,
                            uint64_t samples = 88200) {
  Bytes out{0x10, 0x00, 0x10, 0x00, 0, 0, 0, 0, 0, 0};  // block sizes 4096, frame sizes unknown
  out.push_back(uint8_t(rate >> 12));
  out.push_back(uint8_t(rate >> 4));
  out.push_back(uint8_t((rate & 0x0F) << 4 | (channels - 1) << 1 | 0));  // 16 bits: 15 = 0b01111
  out.push_back(uint8_t(0xF0 | (samples >> 32 & 0x0F)));
  AppendBE32(out, uint32_t(samples));
  out.resize(34, 0xAB);  // the MD5 of the audio
  return out;
}

// A PICTURE block's body: front cover, PNG, no description, image size unknown, `data`.
inline Bytes FlacPictureBody(const Bytes& data) {
  Bytes out;
  AppendBE32(out, 3);
  AppendBE32(out, 9);
  Append(out, Of("image/png"));
  out.resize(out.size() + 4 + 16, 0);
  AppendBE32(out, uint32_t(data.size()));
  Append(out, data);
  return out;
}

inline Bytes VorbisCommentBody(std::string_view vendor, const std::vector<std::string>& items) {
  Bytes out;
  AppendLE32(out, uint32_t(vendor.size()));
  Append(out, Of(vendor));
  AppendLE32(out, uint32_t(items.size()));
  for (const auto& item : items) {
    AppendLE32(out, uint32_t(item.size()));
    Append(out, Of(item));
  }
  return out;
}

// Audio frames as far as the tag code cares: the header of an encoder's first frame (44.1 kHz,
// stereo, 16 bits, as FlacStreamInfo's defaults; its CRC-8 last), then varied bytes.
inline Bytes FlacAudio(size_t size, uint32_t seed = 7) {
  Bytes out{0xFF, 0xF8, 0xC9, 0x88, 0x00, 0x23};
  while (out.size() < size) {
    seed = seed * 1103515245u + 12345u;
    out.push_back(uint8_t(seed >> 16));
  }
  return out;
}

// "fLaC", the blocks as given (each with its own flag), the audio.
inline Bytes Flac(const std::vector<Bytes>& blocks, const Bytes& audio = FlacAudio(3000)) {
  Bytes out = Of("fLaC");
  for (const auto& block : blocks) Append(out, block);
  Append(out, audio);
  return out;
}

}  // namespace samples
