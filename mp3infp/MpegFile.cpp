#include "mp3infp/MpegFile.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace mp3infp {
namespace {

// An MPEG audio frame header: sync, a defined version, layer, bitrate and sampling rate.
bool IsMpegFrameHeader(const uint8_t* p) {
  return p[0] == 0xFF && (p[1] & 0xE0) == 0xE0 && (p[1] & 0x18) != 0x08 && (p[1] & 0x06) != 0 &&
         (p[2] & 0xF0) != 0xF0 && (p[2] & 0x0C) != 0x0C;
}

constexpr uint16_t kBitRates[5][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},  // 1, layer I
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},     // 1, layer II
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},      // 1, layer III
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},     // 2, layer I
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},          // 2, II and III
};
constexpr uint32_t kSampleRates[3] = {44100, 48000, 32000};

// The length of the frame whose header is at `p`, its padding slot included; 0 for a free-format
// frame, whose length its header does not give.
uint32_t FrameLength(const uint8_t* p) {
  const int versionBits = (p[1] >> 3) & 3;
  const int layer = 4 - ((p[1] >> 1) & 3);
  const bool mpeg1 = versionBits == 3;
  const uint32_t bitRate = kBitRates[mpeg1 ? layer - 1 : layer == 1 ? 3 : 4][p[2] >> 4] * 1000u;
  const uint32_t sampleRate = kSampleRates[(p[2] >> 2) & 3] >> (mpeg1              ? 0
                                                                : versionBits == 2 ? 1
                                                                                   : 2);
  const uint32_t padding = (p[2] >> 1) & 1;
  if (!bitRate) return 0;
  if (layer == 1) return (12 * bitRate / sampleRate + padding) * 4;
  return (layer == 3 && !mpeg1 ? 72 : 144) * bitRate / sampleRate + padding;
}

// The header at `p` starts a frame that the header at `next` follows in the same stream:
// version, layer and sampling rate agree.
bool Continues(const uint8_t* p, const uint8_t* next) {
  return IsMpegFrameHeader(next) && (p[1] & 0xFE) == (next[1] & 0xFE) &&
         (p[2] & 0x0C) == (next[2] & 0x0C);
}

// The frame whose header `p` is at `at` is followed, where it ends and before `end`, by another
// frame header of the same stream.
bool FollowedByFrame(ByteSource& source, uint64_t at, const uint8_t* p, uint64_t end) {
  const uint32_t frame = FrameLength(p);
  if (frame < 4 || at > end || frame > end - at || end - at - frame < 4) return false;
  uint8_t following[4];
  return source.Read(at + frame, following, sizeof following) && Continues(p, following);
}

// Where the tag at the head really ends when its size claims the head of the audio
// (Id3v2Tag::kMaxOvershoot): the first frame header a little before `declared` that another
// follows. Nothing when a frame header is at `declared` or none is found before it.
std::optional<uint64_t> AudioBeforeDeclaredEnd(ByteSource& source, uint64_t declared,
                                               uint64_t end) {
  uint8_t header[4];
  if (declared >= end || end - declared < sizeof header ||
      !source.Read(declared, header, sizeof header) || IsMpegFrameHeader(header))
    return std::nullopt;
  const uint64_t from = std::max<uint64_t>(Id3v2Tag::kHeaderSize,
                                           declared - std::min(declared, Id3v2Tag::kMaxOvershoot));
  Bytes window;
  if (from >= declared || !source.ReadBytes(from, size_t(declared - from + 3), window))
    return std::nullopt;
  for (size_t i = 0; from + i < declared; ++i) {
    if (IsMpegFrameHeader(&window[i]) && FollowedByFrame(source, from + i, &window[i], end))
      return from + i;
  }
  return std::nullopt;
}

bool IsMpegExtension(std::string_view extension) {
  std::string lower(extension);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == ".mp3" || lower == ".mp2" || lower == ".mp1";
}

}  // namespace

std::optional<uint64_t> FindMpegAudio(ByteSource& source, uint64_t begin, uint64_t end) {
  uint8_t header[4];
  if (end < begin || end - begin < sizeof header) return std::nullopt;
  if (source.Read(begin, header, sizeof header) && IsMpegFrameHeader(header)) return begin;
  // Bytes before the audio (zeros or what a broken ripper left): a frame header there must be
  // followed by another one where its frame ends, which a stray sync pattern rarely is.
  Bytes window;
  const uint64_t length = std::min<uint64_t>(end - begin, kMaxBytesBeforeAudio + 4);
  if (!source.ReadBytes(begin, size_t(length), window)) return std::nullopt;
  for (size_t i = 0; i + 4 <= window.size(); ++i) {
    if (IsMpegFrameHeader(&window[i]) && FollowedByFrame(source, begin + i, &window[i], end))
      return begin + i;
  }
  return std::nullopt;
}

std::unique_ptr<MpegFile> MpegFile::Parse(ByteSource& source, std::string_view extension) {
  std::unique_ptr<MpegFile> file(new MpegFile(source.Size()));
  const uint64_t size = file->size_;
  uint64_t audioStart = 0;
  uint8_t header[Id3v2Tag::kHeaderSize];
  if (size >= sizeof header && source.Read(0, header, sizeof header)) {
    if (const auto total = Id3v2Tag::TotalSize(header)) {
      Bytes bytes;
      const uint64_t available = std::min(*total, size);
      if (!source.ReadBytes(0, available, bytes)) file->valid_ = false;
      file->id3v2_ = Id3v2Tag::Parse(bytes);
      file->id3v2Length_ = *total;
      audioStart = available;
      // A size that claims the first frame's head: the tag is what comes before the audio, as
      // long as its frames end there. The save writes it with its right size, so that the first
      // frame, which readers skipped, is audio again; rewriting the declared extent would
      // overwrite the head of that frame.
      if (const auto audio = AudioBeforeDeclaredEnd(source, *total, size)) {
        auto whole = Id3v2Tag::ParseWhole(std::span(bytes).first(size_t(*audio)));
        if (whole.wellFormed()) {
          file->id3v2_ = std::move(whole);
          file->id3v2Length_ = *audio;
          audioStart = *audio;
        }
      }
      if (!file->id3v2_->wellFormed()) file->valid_ = false;
    }
  }
  file->ReadId3v1AtEnd(source, audioStart);

  // Some files carry a second tag after the first; it stays part of what follows ours.
  uint64_t probe = audioStart;
  for (int stacked = 0; stacked < 8; ++stacked) {
    if (size - probe < sizeof header || !source.Read(probe, header, sizeof header)) break;
    const auto total = Id3v2Tag::TotalSize(header);
    if (!total) break;
    probe += std::min(*total, size - probe);
  }
  const uint64_t audioEnd = std::max(probe, file->id3v1_ ? file->id3v1Offset_ : size);
  // Bytes before the first frame are taken for junk only in a file that says it is MPEG audio
  // (a tag, or its name).
  const auto first = FindMpegAudio(source, probe, audioEnd);
  const bool mpeg = first && (*first == probe || file->id3v2_ || IsMpegExtension(extension));
  // Without audio, an ID3v1 tag on a file named as MPEG audio still makes it one (a save that
  // adds an ID3v2 tag to it must not make it unreadable). Behind an ID3v2 tag alone there must be
  // nothing but tags: anything else may be another container whose head the tag's size claims,
  // which a save would overwrite.
  const bool named = file->id3v1_ && IsMpegExtension(extension);
  if (!mpeg && !named && !(file->id3v2_ && probe == audioEnd)) return nullptr;
  const uint64_t audio = mpeg ? *first : probe;
  file->stream_ = ReadMpegStream(source, audio, std::max(audio, audioEnd));
  if (file->stream_.format.empty()) file->stream_.format = "MPEG";
  return file;
}

StreamInfo ReadMpegStream(ByteSource& source, uint64_t begin, uint64_t end) {
  StreamInfo stream;
  uint8_t frame[64] = {};
  if (end <= begin || end - begin < 4 || !source.Read(begin, frame, 4) || !IsMpegFrameHeader(frame))
    return stream;
  source.Read(begin, frame, size_t(std::min<uint64_t>(sizeof frame, end - begin)));
  const int versionBits = (frame[1] >> 3) & 3;  // 3: MPEG 1, 2: MPEG 2, 0: MPEG 2.5
  const int layer = 4 - ((frame[1] >> 1) & 3);
  const bool mpeg1 = versionBits == 3;
  const bool mono = (frame[3] >> 6) == 3;
  stream.format = std::string("MPEG ") +
                  (mpeg1              ? "1"
                   : versionBits == 2 ? "2"
                                      : "2.5") +
                  " Layer " +
                  std::string(layer == 1   ? "1"
                              : layer == 2 ? "2"
                                           : "3");
  stream.sampleRate = kSampleRates[(frame[2] >> 2) & 3] >> (mpeg1 ? 0 : versionBits == 2 ? 1 : 2);
  stream.channels = mono ? 1 : 2;
  const int table = mpeg1 ? layer - 1 : layer == 1 ? 3 : 4;
  const uint32_t frameBitRate = kBitRates[table][frame[2] >> 4] * 1000u;
  const uint32_t samplesPerFrame = layer == 1 ? 384 : layer == 2 || mpeg1 ? 1152 : 576;

  // A VBR file says how many frames it has; without that, the first frame's bit rate holds.
  uint32_t frames = 0;
  const size_t xing = 4 + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
  if (layer == 3 &&
      (std::memcmp(frame + xing, "Xing", 4) == 0 || std::memcmp(frame + xing, "Info", 4) == 0)) {
    if (frame[xing + 7] & 1) frames = ReadBigEndian32(frame + xing + 8);
  } else if (layer == 3 && std::memcmp(frame + 36, "VBRI", 4) == 0) {
    frames = ReadBigEndian32(frame + 36 + 14);
  }
  const double bytes = double(end - begin);
  if (frames && stream.sampleRate) {
    stream.seconds = double(frames) * samplesPerFrame / stream.sampleRate;
    stream.bitRate = uint32_t(bytes * 8 / stream.seconds);
  } else if (frameBitRate) {
    stream.bitRate = frameBitRate;
    stream.seconds = bytes * 8 / frameBitRate;
  }
  return stream;
}

uint32_t MpegFile::TagFlags() const { return Id3TagFlags(); }

bool MpegFile::Set(ValueName name, std::string_view value, const TextCodec& codec) {
  return SetByName(name, value, codec, false, [] { return false; });
}

std::optional<std::string> MpegFile::Get(ValueName name, const TextCodec& codec) const {
  return GetId3(name, codec);
}

std::optional<SavePlan> MpegFile::Plan() const {
  if (!valid_) return std::nullopt;
  std::vector<Edit> edits;
  if (id3v2Changed_) {
    Bytes tag = RenderId3v2(id3v2Length_);
    if (tag.empty()) return std::nullopt;
    edits.push_back({0, id3v2Length_, std::move(tag)});
  }
  AddId3v1Edit(edits);
  return PlanEdits(size_, std::move(edits));
}

}  // namespace mp3infp
