#include "mp3infp/MpegFile.h"

#include <algorithm>
#include <cctype>

namespace mp3infp {
namespace {

// An MPEG audio frame header: sync, a defined version, layer, bitrate and sampling rate.
bool IsMpegFrameHeader(const uint8_t* p) {
  return p[0] == 0xFF && (p[1] & 0xE0) == 0xE0 && (p[1] & 0x18) != 0x08 && (p[1] & 0x06) != 0 &&
         (p[2] & 0xF0) != 0xF0 && (p[2] & 0x0C) != 0x0C;
}

bool IsMpegExtension(std::string_view extension) {
  std::string lower(extension);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == ".mp3" || lower == ".mp2" || lower == ".mp1";
}

}  // namespace

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
      if (!file->id3v2_->wellFormed()) file->valid_ = false;
      file->id3v2Length_ = *total;
      audioStart = available;
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
  uint8_t frame[4];
  const bool mpeg = size - probe >= sizeof frame && source.Read(probe, frame, sizeof frame) &&
                    IsMpegFrameHeader(frame);
  if (!file->id3v2_ && !mpeg && !(file->id3v1_ && IsMpegExtension(extension))) return nullptr;
  return file;
}

uint32_t MpegFile::TagFlags() const {
  uint32_t flags = 0;
  if (id3v1_) flags |= kFlagId3v1;
  if (id3v2_) flags |= kFlagId3v2;
  return flags;
}

bool MpegFile::Set(ValueName name, std::string_view value, const TextCodec& codec) {
  switch (name.tag) {
    case TagKind::kId3v1:
      return SetId3v1(name.field, value, codec);
    case TagKind::kId3v2:
      return SetId3v2(name.field, value, codec);
    case TagKind::kRiffInfo:
      return false;
    case TagKind::kDefault:
      break;
  }
  bool done = false;
  if (id3v1_) done = SetId3v1(name.field, value, codec) || done;
  if (id3v2_) done = SetId3v2(name.field, value, codec) || done;
  return done || SetId3v2(name.field, value, codec);
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
