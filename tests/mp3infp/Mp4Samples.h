// Builders of MP4 files for the tests and the fuzz seeds: a movie with one sound track whose
// chunks lie in mdat, in the layouts found in the wild (moov before or after mdat, stco or co64,
// with or without udta/meta/ilst, free boxes around the items, 64-bit and open-ended sizes).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/mp3infp/SampleFiles.h"

namespace samples {

inline Bytes Mp4Box(std::string_view type, const Bytes& payload) {
  Bytes out;
  AppendBE32(out, uint32_t(payload.size() + 8));
  Append(out, Of(type));
  Append(out, payload);
  return out;
}
inline Bytes Mp4Box(std::string_view type, const std::vector<Bytes>& children) {
  Bytes payload;
  for (const Bytes& child : children) Append(payload, child);
  return Mp4Box(type, payload);
}
inline Bytes Mp4Box64(std::string_view type, const Bytes& payload) {
  Bytes out;
  AppendBE32(out, 1);
  Append(out, Of(type));
  AppendBE32(out, 0);
  AppendBE32(out, uint32_t(payload.size() + 16));
  Append(out, payload);
  return out;
}
inline Bytes Mp4Free(uint32_t size) {
  Bytes out = Mp4Box("free", Bytes(size - 8, 0));
  return out;
}
// An item with one data box; `type` 1 is UTF-8 text.
inline Bytes Mp4Item(std::string_view id, const Bytes& value, uint32_t type = 1) {
  Bytes data;
  AppendBE32(data, type);
  AppendBE32(data, 0);
  Append(data, value);
  return Mp4Box(id, {Mp4Box("data", data)});
}
inline Bytes Mp4Text(std::string_view id, std::string_view text) { return Mp4Item(id, Of(text)); }
inline Bytes Mp4Track(uint16_t track, uint16_t total) {
  return Mp4Item(
      "trkn",
      {0, 0, uint8_t(track >> 8), uint8_t(track), uint8_t(total >> 8), uint8_t(total), 0, 0}, 0);
}
inline Bytes Mp4Freeform(std::string_view name, std::string_view value) {
  Bytes mean{0, 0, 0, 0}, nameBox{0, 0, 0, 0}, data{0, 0, 0, 1, 0, 0, 0, 0};
  Append(mean, Of("com.apple.iTunes"));
  Append(nameBox, Of(name));
  Append(data, Of(value));
  return Mp4Box("----", {Mp4Box("mean", mean), Mp4Box("name", nameBox), Mp4Box("data", data)});
}
inline Bytes Mp4Meta(const std::vector<Bytes>& children) {
  Bytes payload{0, 0, 0, 0};
  Bytes hdlr(8, 0);
  Append(hdlr, Of("mdirappl"));
  hdlr.resize(hdlr.size() + 9, 0);
  Append(payload, Mp4Box("hdlr", hdlr));
  for (const Bytes& child : children) Append(payload, child);
  return Mp4Box("meta", payload);
}
// The ©-prefixed item names.
inline std::string C(std::string_view name) { return "\xA9" + std::string(name); }

struct Mp4Layout {
  bool moovFirst = true;
  bool co64 = false;
  bool alac = false;
  // The udta box whole (empty: none), made with Mp4Box/Mp4Meta.
  Bytes udta;
  uint32_t freeAfterMoov = 0;  // a top-level free box right after moov
  int chunks = 3;
  uint32_t chunkSize = 300;
};

// The audio: `chunks` chunks of varied bytes.
inline Bytes Mp4MediaData(const Mp4Layout& layout) {
  Bytes out;
  uint32_t seed = 7;
  for (int i = 0; i < layout.chunks * int(layout.chunkSize); ++i) {
    seed = seed * 1103515245u + 12345u;
    out.push_back(uint8_t(seed >> 16));
  }
  return out;
}

inline Bytes Mp4SampleEntry(bool alac) {
  Bytes entry(6, 0);
  entry.insert(entry.end(), {0, 1});         // data reference index
  entry.resize(entry.size() + 8, 0);         // version, revision, vendor
  entry.insert(entry.end(), {0, 2, 0, 16});  // channels, sample size
  entry.resize(entry.size() + 4, 0);
  entry.insert(entry.end(), {0xAC, 0x44, 0, 0});  // 44100 Hz, 16.16
  if (alac) {
    Bytes config{0, 0, 0, 0};
    AppendBE32(config, 4096);
    config.insert(config.end(), {0, 16, 40, 10, 14, 2, 0, 255});
    AppendBE32(config, 0);
    AppendBE32(config, 705000);
    AppendBE32(config, 44100);
    Append(entry, Mp4Box("alac", config));
    return Mp4Box("alac", entry);
  }
  Bytes esds{0, 0, 0, 0, 0x03, 25, 0, 1, 0, 0x04, 17, 0x40, 0x15, 0, 0, 0};
  AppendBE32(esds, 160000);  // max
  AppendBE32(esds, 128000);  // average
  esds.insert(esds.end(), {0x05, 2, 0x12, 0x10, 0x06, 1, 2});
  Append(entry, Mp4Box("esds", esds));
  return Mp4Box("mp4a", entry);
}

// The whole file; chunk i of the audio at offset `chunkSize * i` of mdat's payload.
inline Bytes Mp4File(const Mp4Layout& layout) {
  const Bytes media = Mp4MediaData(layout);
  const Bytes ftyp =
      Mp4Box("ftyp", Of(std::string("M4A ") + std::string("\0\0\0\0", 4) + "M4A mp42isom"));
  const auto moovFor = [&](uint64_t mdatPayload) {
    Bytes mvhd{0, 0, 0, 0};
    mvhd.resize(12, 0);
    AppendBE32(mvhd, 1000);
    AppendBE32(mvhd, 2500);
    mvhd.resize(100, 0);
    Bytes mdhd(12, 0);
    AppendBE32(mdhd, 44100);
    AppendBE32(mdhd, 44100 * 2);
    mdhd.resize(24, 0);
    Bytes hdlr(8, 0);
    Append(hdlr, Of("soun"));
    hdlr.resize(hdlr.size() + 13, 0);
    Bytes stsd{0, 0, 0, 0, 0, 0, 0, 1};
    Append(stsd, Mp4SampleEntry(layout.alac));
    Bytes stsz{0, 0, 0, 0};
    AppendBE32(stsz, 0);
    AppendBE32(stsz, uint32_t(layout.chunks));
    for (int i = 0; i < layout.chunks; ++i) AppendBE32(stsz, layout.chunkSize);
    Bytes offsets{0, 0, 0, 0};
    AppendBE32(offsets, uint32_t(layout.chunks));
    for (int i = 0; i < layout.chunks; ++i) {
      const uint64_t offset = mdatPayload + uint64_t(i) * layout.chunkSize;
      if (layout.co64) AppendBE32(offsets, uint32_t(offset >> 32));
      AppendBE32(offsets, uint32_t(offset));
    }
    const Bytes stbl = Mp4Box("stbl", {Mp4Box("stsd", stsd), Mp4Box("stsz", stsz),
                                       Mp4Box(layout.co64 ? "co64" : "stco", offsets)});
    const Bytes trak =
        Mp4Box("trak", {Mp4Box("tkhd", Bytes(84, 1)),
                        Mp4Box("mdia", {Mp4Box("mdhd", mdhd), Mp4Box("hdlr", hdlr),
                                        Mp4Box("minf", {Mp4Box("smhd", Bytes(8, 0)), stbl})})});
    std::vector<Bytes> children{Mp4Box("mvhd", mvhd), trak};
    if (!layout.udta.empty()) children.push_back(layout.udta);
    return Mp4Box("moov", children);
  };
  const Bytes mdat = Mp4Box("mdat", media);
  const Bytes free = layout.freeAfterMoov ? Mp4Free(layout.freeAfterMoov) : Bytes();
  Bytes out = ftyp;
  if (layout.moovFirst) {
    const uint64_t moovSize = moovFor(0).size();
    Append(out, moovFor(ftyp.size() + moovSize + free.size() + 8));
    Append(out, free);
    Append(out, mdat);
  } else {
    Append(out, mdat);
    Append(out, moovFor(ftyp.size() + 8));
    Append(out, free);
  }
  return out;
}

}  // namespace samples
