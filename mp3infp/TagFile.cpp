#include "mp3infp/TagFile.h"

#include <algorithm>
#include <cctype>

namespace mp3infp {
namespace {

// Larger LIST/INFO or "id3 " chunks than this are not read into memory (and so not rewritten).
constexpr uint64_t kMaxChunkRead = 64u << 20;

struct FieldNames {
  std::string_view key, frame, info;
};
constexpr FieldNames kFieldNames[] = {
    {"IART", "TPE1", "IART"},  {"IPRD", "TALB", "IPRD"}, {"INAM", "TIT2", "INAM"},
    {"TRACK", "TRCK", "ITRK"}, {"IGNR", "TCON", "IGNR"}, {"ICRD", "TYER", "ICRD"},
    {"ICMT", "COMM", "ICMT"},
};

const FieldNames& NamesOf(Field field) { return kFieldNames[static_cast<int>(field)]; }

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

std::optional<ValueName> ParseValueName(std::string_view name) {
  constexpr std::pair<std::string_view, TagKind> kSuffixes[] = {
      {"_v1", TagKind::kId3v1}, {"_v2", TagKind::kId3v2}, {"_rmp", TagKind::kRiffInfo}};
  TagKind tag = TagKind::kDefault;
  for (const auto& [suffix, kind] : kSuffixes) {
    if (name.size() > suffix.size() && name.ends_with(suffix)) {
      name.remove_suffix(suffix.size());
      tag = kind;
      break;
    }
  }
  for (size_t i = 0; i < std::size(kFieldNames); ++i) {
    if (kFieldNames[i].key == name) return ValueName{static_cast<Field>(i), tag};
  }
  return std::nullopt;
}

uint64_t SavePlan::NewSize() const {
  uint64_t size = 0;
  for (const auto& piece : pieces) size += piece.kept ? piece.length : piece.bytes.size();
  return size;
}

bool SavePlan::InPlace() const {
  uint64_t position = 0;
  for (const auto& piece : pieces) {
    if (piece.kept && piece.offset != position) return false;
    position += piece.kept ? piece.length : piece.bytes.size();
  }
  return position >= oldSize;
}

std::vector<SavePlan::Patch> SavePlan::Patches() const {
  std::vector<Patch> patches;
  uint64_t position = 0;
  for (const auto& piece : pieces) {
    if (!piece.kept) patches.push_back({position, &piece.bytes});
    position += piece.kept ? piece.length : piece.bytes.size();
  }
  return patches;
}

TagFile TagFile::Parse(ByteSource& source, std::string_view extension) {
  TagFile file;
  file.size_ = source.Size();
  file.riff_ = RiffLayout::Parse(source);
  if (file.riff_) {
    file.ParseRiff(source);
  } else {
    file.ParseMp3(source, extension);
  }
  return file;
}

void TagFile::ParseMp3(ByteSource& source, std::string_view extension) {
  uint64_t audioStart = 0;
  uint8_t header[Id3v2Tag::kHeaderSize];
  if (size_ >= sizeof header && source.Read(0, header, sizeof header)) {
    if (const auto total = Id3v2Tag::TotalSize(header)) {
      Bytes bytes;
      const uint64_t available = std::min(*total, size_);
      if (!source.ReadBytes(0, available, bytes)) sound_ = false;
      id3v2_ = Id3v2Tag::Parse(bytes);
      if (!id3v2_->sound()) sound_ = false;
      id3v2Length_ = *total;
      audioStart = available;
    }
  }
  ParseTail(source, audioStart);

  // Some files carry a second tag after the first; it stays part of what follows ours.
  uint64_t probe = audioStart;
  for (int stacked = 0; stacked < 8; ++stacked) {
    if (size_ - probe < sizeof header || !source.Read(probe, header, sizeof header)) break;
    const auto total = Id3v2Tag::TotalSize(header);
    if (!total) break;
    probe += std::min(*total, size_ - probe);
  }
  uint8_t frame[4];
  const bool mpeg = size_ - probe >= sizeof frame && source.Read(probe, frame, sizeof frame) &&
                    IsMpegFrameHeader(frame);
  if (id3v2_ || mpeg || (id3v1_ && IsMpegExtension(extension))) kind_ = FileKind::kMp3;
}

void TagFile::ParseTail(ByteSource& source, uint64_t notBefore) {
  if (size_ < Id3v1Tag::kSize || size_ - Id3v1Tag::kSize < notBefore) return;
  Bytes bytes;
  if (!source.ReadBytes(size_ - Id3v1Tag::kSize, Id3v1Tag::kSize, bytes)) return;
  id3v1_ = Id3v1Tag::Parse(bytes);
  if (id3v1_) {
    id3v1Offset_ = size_ - Id3v1Tag::kSize;
    id3v1Existed_ = true;
  }
}

void TagFile::ParseRiff(ByteSource& source) {
  if (!riff_->sound) sound_ = false;
  if (riff_->form == "RMP3") {
    kind_ = FileKind::kRiffMp3;
  } else if (riff_->form == "WAVE") {
    kind_ = FileKind::kWave;
  } else {
    return;
  }
  for (size_t i = 0; i < riff_->chunks.size(); ++i) {
    const Chunk& chunk = riff_->chunks[i];
    const bool info = chunk.id == "LIST";
    const bool id3 = kind_ == FileKind::kRiffMp3 && (chunk.id == "id3 " || chunk.id == "ID3 ");
    if (!info && !id3) continue;
    if (chunk.size > kMaxChunkRead) {
      sound_ = false;
      continue;
    }
    Bytes data;
    if (!source.ReadBytes(chunk.DataOffset(), chunk.size, data)) {
      sound_ = false;
      continue;
    }
    if (info && data.size() >= 4 && std::equal(data.begin(), data.begin() + 4, "INFO")) {
      LocatedInfo located{i, {}};
      if (!located.list.Parse(std::span(data).subspan(4))) sound_ = false;
      infos_.push_back(std::move(located));
    } else if (id3 && !id3v2_) {
      id3v2_ = Id3v2Tag::Parse(data);
      const auto total = data.size() >= 10 ? Id3v2Tag::TotalSize(data.data()) : std::nullopt;
      if (!id3v2_->sound() || !total || *total > data.size()) sound_ = false;
      id3v2Offset_ = chunk.DataOffset();
      id3v2Length_ = chunk.size;
      id3v2Chunk_ = i;
    }
  }
  if (kind_ == FileKind::kRiffMp3) {
    // An ID3v1 tag at the very end: after the RIFF chunk, or ending the MPEG data. It must not
    // overlap any chunk header or chunk other than the data.
    ParseTail(source, 12);
    if (id3v1_) {
      for (const Chunk& chunk : riff_->chunks) {
        const bool overlaps = chunk.offset < size_ && chunk.End() > id3v1Offset_;
        const bool insideData = chunk.id == "data" && chunk.DataOffset() <= id3v1Offset_ &&
                                chunk.DataOffset() + chunk.size >= size_;
        if (overlaps && !insideData) {
          id3v1_.reset();
          id3v1Existed_ = false;
          break;
        }
      }
    }
  }
}

uint32_t TagFile::TagFlags() const {
  if (!IsMp3()) return 0;
  uint32_t flags = 0;
  if (id3v1_) flags |= kFlagId3v1;
  if (id3v2_) flags |= kFlagId3v2;
  if (kind_ == FileKind::kRiffMp3 && !infos_.empty()) flags |= kFlagRiffInfo;
  return flags;
}

bool TagFile::AddId3v1() {
  if (!IsMp3()) return false;
  if (!id3v1_) {
    id3v1_.emplace();
    id3v1Offset_ = size_;
    id3v1Changed_ = true;
  }
  return true;
}

bool TagFile::AddId3v2() {
  if (!IsMp3()) return false;
  if (!id3v2_) {
    id3v2_.emplace();
    id3v2Offset_ = 0;
    id3v2Length_ = 0;
    id3v2Changed_ = true;
  }
  return true;
}

bool TagFile::Set(ValueName name, std::string_view value, const TextCodec& codec) {
  switch (kind_) {
    case FileKind::kUnknown:
      return false;
    case FileKind::kWave:
      return (name.tag == TagKind::kDefault || name.tag == TagKind::kRiffInfo) &&
             SetInfo(name.field, value, codec);
    case FileKind::kMp3:
    case FileKind::kRiffMp3:
      break;
  }
  switch (name.tag) {
    case TagKind::kId3v1:
      return SetId3v1(name.field, value, codec);
    case TagKind::kId3v2:
      return SetId3v2(name.field, value, codec);
    case TagKind::kRiffInfo:
      return kind_ == FileKind::kRiffMp3 && SetInfo(name.field, value, codec);
    case TagKind::kDefault:
      break;
  }
  // The name alone: every tag the file has; a file without any gets an ID3v2 tag.
  bool done = false;
  if (id3v1_) done = SetId3v1(name.field, value, codec) || done;
  if (id3v2_) done = SetId3v2(name.field, value, codec) || done;
  if (!infos_.empty()) done = SetInfo(name.field, value, codec) || done;
  return done || SetId3v2(name.field, value, codec);
}

bool TagFile::SetId3v1(Field field, std::string_view value, const TextCodec& codec) {
  if (!AddId3v1()) return false;
  Id3v1Tag& tag = *id3v1_;
  switch (field) {
    case Field::kArtist:
      tag.SetArtist(value, codec);
      break;
    case Field::kAlbum:
      tag.SetAlbum(value, codec);
      break;
    case Field::kTitle:
      tag.SetTitle(value, codec);
      break;
    case Field::kTrack:
      tag.SetTrack(value, codec);
      break;
    case Field::kGenre:
      tag.SetGenre(value);
      break;
    case Field::kYear:
      tag.SetYear(value, codec);
      break;
    case Field::kComment:
      tag.SetComment(value, codec);
      break;
  }
  id3v1Changed_ = true;
  return true;
}

bool TagFile::SetId3v2(Field field, std::string_view value, const TextCodec& codec) {
  if (!AddId3v2()) return false;
  const std::u16string text = codec.ToUnicode(value);
  if (field == Field::kComment) {
    id3v2_->SetComment(text);
  } else if (field == Field::kYear) {
    id3v2_->SetRecordingDate(text);
  } else {
    id3v2_->SetText(NamesOf(field).frame, text);
  }
  id3v2Changed_ = true;
  return true;
}

bool TagFile::SetInfo(Field field, std::string_view text, const TextCodec& codec) {
  // RIFF INFO text is read in the system's legacy code page, as ID3v1 text is.
  const std::string value = Recode(text, codec, codec.Legacy());
  const std::string_view id = NamesOf(field).info;
  bool done = false;
  // Every LIST/INFO chunk that holds the field gets it, so that no reader finds a stale copy.
  for (auto& located : infos_) {
    if (located.list.Has(id)) {
      located.list.Set(id, value);
      located.changed = done = true;
    }
  }
  if (!done) {
    if (infos_.empty()) infos_.push_back({riff_ ? riff_->chunks.size() : 0, {}});
    infos_.front().list.Set(id, value);
    infos_.front().changed = true;
  }
  infoChanged_ = true;
  return true;
}

std::optional<std::string> TagFile::Get(ValueName name, const TextCodec& codec) const {
  const FieldNames& names = NamesOf(name.field);
  const bool any = name.tag == TagKind::kDefault;
  if ((any || name.tag == TagKind::kId3v2) && id3v2_ && IsMp3()) {
    if (const auto text = Id3v2Text(name.field)) return codec.FromUnicode(*text);
    if (!any) return std::string();
  }
  if ((any || name.tag == TagKind::kId3v1) && id3v1_ && IsMp3()) {
    const Id3v1Tag& tag = *id3v1_;
    const auto text = [&](const std::string& legacy) {
      return Recode(legacy, codec.Legacy(), codec);
    };
    switch (name.field) {
      case Field::kArtist:
        return text(tag.artist());
      case Field::kAlbum:
        return text(tag.album());
      case Field::kTitle:
        return text(tag.title());
      case Field::kYear:
        return text(tag.year());
      case Field::kComment:
        return text(tag.comment());
      case Field::kTrack:
        return tag.track() ? std::to_string(tag.track()) : std::string();
      case Field::kGenre:
        return std::string(GenreName(tag.genre()).value_or(""));
    }
  }
  if ((any || name.tag == TagKind::kRiffInfo) && !infos_.empty()) {
    for (const auto& located : infos_) {
      if (auto value = located.list.Get(names.info)) return Recode(*value, codec.Legacy(), codec);
    }
    return std::string();
  }
  return std::nullopt;
}

std::optional<std::u16string> TagFile::Id3v2Text(Field field) const {
  if (!id3v2_) return std::nullopt;
  if (field == Field::kComment) return id3v2_->GetComment();
  if (field == Field::kYear) return id3v2_->GetRecordingDate();
  return id3v2_->GetText(NamesOf(field).frame);
}

Bytes TagFile::RenderId3v2(uint64_t room) const {
  if (room) {
    Bytes fitted = id3v2_->Render(room);
    if (fitted.size() == room) return fitted;
  }
  return id3v2_->Render(0);
}

std::optional<SavePlan> TagFile::Plan() const {
  if (!sound_ || kind_ == FileKind::kUnknown) return std::nullopt;
  struct Edit {
    uint64_t offset, oldLength;
    Bytes bytes;
  };
  std::vector<Edit> edits;

  if (riff_) {
    std::vector<Edit> chunkEdits;
    std::vector<Bytes> appended;
    for (const auto& located : infos_) {
      if (!located.changed) continue;
      Bytes chunk = located.list.Render();
      if (located.chunk < riff_->chunks.size()) {
        const Chunk& old = riff_->chunks[located.chunk];
        chunkEdits.push_back({old.offset, old.End() - old.offset, std::move(chunk)});
      } else {
        appended.push_back(std::move(chunk));
      }
    }
    if (id3v2Changed_) {
      const Bytes tag = RenderId3v2(id3v2Length_);
      if (tag.empty()) return std::nullopt;
      Bytes chunk{'i', 'd', '3', ' '};
      if (id3v2Chunk_) std::copy_n(riff_->chunks[*id3v2Chunk_].id.begin(), 4, chunk.begin());
      AppendLittleEndian32(chunk, uint32_t(tag.size()));
      chunk.insert(chunk.end(), tag.begin(), tag.end());
      if (tag.size() & 1) chunk.push_back(0);
      if (id3v2Chunk_) {
        const Chunk& old = riff_->chunks[*id3v2Chunk_];
        chunkEdits.push_back({old.offset, old.End() - old.offset, std::move(chunk)});
      } else {
        appended.push_back(std::move(chunk));
      }
    }
    if (!appended.empty()) {
      Edit insertion{riff_->end, 0, {}};
      // An odd last chunk that lacks its pad byte gets it first, so that a reader finds the new
      // chunk where the standard puts it. (Offsets need not be even: an earlier chunk may lack
      // its pad byte too.) A last chunk written anew brings its own pad byte.
      const auto rewritten = [&](const Chunk& chunk) {
        return std::any_of(chunkEdits.begin(), chunkEdits.end(),
                           [&](const Edit& edit) { return edit.offset == chunk.offset; });
      };
      if (!riff_->chunks.empty() && (riff_->chunks.back().size & 1) &&
          !riff_->chunks.back().padded && !rewritten(riff_->chunks.back())) {
        insertion.bytes.push_back(0);
      }
      for (const Bytes& chunk : appended) {
        insertion.bytes.insert(insertion.bytes.end(), chunk.begin(), chunk.end());
      }
      chunkEdits.push_back(std::move(insertion));
    }
    int64_t growth = 0;
    for (const Edit& edit : chunkEdits)
      growth += int64_t(edit.bytes.size()) - int64_t(edit.oldLength);
    if (growth != 0) {
      const int64_t riffSize = int64_t(riff_->declaredEnd) - 8 + growth;
      if (riffSize < 4 || riffSize > int64_t(UINT32_MAX)) return std::nullopt;
      Bytes size;
      AppendLittleEndian32(size, uint32_t(riffSize));
      edits.push_back({4, 4, std::move(size)});
    }
    std::sort(chunkEdits.begin(), chunkEdits.end(),
              [](const Edit& a, const Edit& b) { return a.offset < b.offset; });
    for (Edit& edit : chunkEdits) edits.push_back(std::move(edit));
  } else if (id3v2Changed_) {
    Bytes tag = RenderId3v2(id3v2Length_);
    if (tag.empty()) return std::nullopt;
    edits.push_back({0, id3v2Length_, std::move(tag)});
  }

  if (id3v1Changed_) {
    const auto& bytes = id3v1_->bytes();
    edits.push_back(
        {id3v1Offset_, id3v1Existed_ ? Id3v1Tag::kSize : 0, Bytes(bytes.begin(), bytes.end())});
  }

  SavePlan plan;
  plan.oldSize = size_;
  uint64_t position = 0;
  for (Edit& edit : edits) {
    // Edits that would overlap mean the layout was misread: write nothing.
    if (edit.offset < position || edit.offset + edit.oldLength > size_) return std::nullopt;
    if (edit.offset > position) plan.pieces.push_back({position, edit.offset - position, {}, true});
    plan.pieces.push_back({edit.offset, edit.oldLength, std::move(edit.bytes), false});
    position = edit.offset + edit.oldLength;
  }
  if (position < size_) plan.pieces.push_back({position, size_ - position, {}, true});
  return plan;
}

}  // namespace mp3infp
