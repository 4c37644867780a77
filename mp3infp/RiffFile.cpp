#include "mp3infp/RiffFile.h"

#include <algorithm>

#include "mp3infp/MpegFile.h"

namespace mp3infp {
namespace {

// Larger LIST/INFO or "id3 " chunks than this are not read into memory (and so not rewritten).
constexpr uint64_t kMaxChunkRead = 64u << 20;

// The INFO item of each field.
constexpr std::pair<Field, std::string_view> kInfoIds[] = {
    {Field::kArtist, "IART"},  {Field::kAlbum, "IPRD"}, {Field::kTitle, "INAM"},
    {Field::kTrack, "ITRK"},   {Field::kGenre, "IGNR"}, {Field::kYear, "ICRD"},
    {Field::kComment, "ICMT"},
};

std::string_view InfoIdOf(Field field) {
  for (const auto& [known, id] : kInfoIds) {
    if (known == field) return id;
  }
  return {};
}

// The stream of a WAVE file from its "fmt " chunk and the size of its data.
StreamInfo WaveStream(ByteSource& source, const RiffLayout& riff) {
  StreamInfo stream;
  stream.format = "WAVE";
  const Chunk* format = nullptr;
  const Chunk* data = nullptr;
  for (const Chunk& chunk : riff.chunks) {
    if (chunk.id == "fmt " && !format) format = &chunk;
    if (chunk.id == "data" && !data) data = &chunk;
  }
  uint8_t fmt[16];
  if (!format || format->size < sizeof fmt || !source.Read(format->DataOffset(), fmt, sizeof fmt))
    return stream;
  const uint16_t tag = uint16_t(fmt[0] | fmt[1] << 8);
  if (tag == 1 || tag == 0xFFFE) stream.format = "WAVE (PCM)";
  stream.channels = uint32_t(fmt[2] | fmt[3] << 8);
  stream.sampleRate = ReadLittleEndian32(fmt + 4);
  const uint32_t bytesPerSecond = ReadLittleEndian32(fmt + 8);
  stream.bitRate = bytesPerSecond * 8;
  if (data && bytesPerSecond) stream.seconds = double(data->size) / bytesPerSecond;
  return stream;
}

}  // namespace

std::unique_ptr<RiffFile> RiffFile::Parse(ByteSource& source) {
  auto layout = RiffLayout::Parse(source);
  if (!layout) return nullptr;
  FileKind kind;
  if (layout->form == "RMP3") {
    kind = FileKind::kRiffMp3;
  } else if (layout->form == "WAVE") {
    kind = FileKind::kWave;
  } else {
    return nullptr;
  }
  std::unique_ptr<RiffFile> file(new RiffFile(source.Size(), std::move(*layout)));
  file->kind_ = kind;
  const RiffLayout& riff = file->riff_;
  if (!riff.wellFormed) file->valid_ = false;
  for (size_t i = 0; i < riff.chunks.size(); ++i) {
    const Chunk& chunk = riff.chunks[i];
    const bool info = chunk.id == "LIST";
    const bool id3 = chunk.id == "id3 " || chunk.id == "ID3 ";
    if (!info && !id3) continue;
    if (chunk.size > kMaxChunkRead) {
      file->valid_ = false;
      continue;
    }
    Bytes data;
    if (!source.ReadBytes(chunk.DataOffset(), chunk.size, data)) {
      file->valid_ = false;
      continue;
    }
    if (info && data.size() >= 4 && std::equal(data.begin(), data.begin() + 4, "INFO")) {
      LocatedInfo located{i, {}};
      if (!located.list.Parse(std::span(data).subspan(4))) file->valid_ = false;
      file->infos_.push_back(std::move(located));
    } else if (id3 && !file->id3v2_) {
      auto tag = Id3v2Tag::Parse(data);
      const auto total = data.size() >= 10 ? Id3v2Tag::TotalSize(data.data()) : std::nullopt;
      const bool whole = tag.wellFormed() && total && *total <= data.size();
      // WAVE files were tagged through their INFO list alone before their "id3 " chunk was
      // kept in step: one we cannot write back stays as it is, and the INFO list is written.
      if (kind == FileKind::kWave && !whole) continue;
      if (!whole) file->valid_ = false;
      file->id3v2_ = std::move(tag);
      file->id3v2Offset_ = chunk.DataOffset();
      file->id3v2Length_ = chunk.size;
      file->id3v2Chunk_ = i;
    }
  }
  if (kind == FileKind::kWave) file->stream_ = WaveStream(source, riff);
  if (kind == FileKind::kRiffMp3) {
    for (const Chunk& chunk : riff.chunks) {
      if (chunk.id != "data") continue;
      file->stream_ = ReadMpegStream(source, chunk.DataOffset(),
                                     std::min(chunk.DataOffset() + chunk.size, file->size_));
      break;
    }
    if (file->stream_.format.empty()) file->stream_.format = "MPEG";
    // An ID3v1 tag at the very end: after the RIFF chunk, or ending the MPEG data. It must not
    // overlap any chunk header or chunk other than the data.
    file->ReadId3v1AtEnd(source, 12);
    if (file->id3v1_) {
      for (const Chunk& chunk : riff.chunks) {
        const bool overlaps = chunk.offset < file->size_ && chunk.End() > file->id3v1Offset_;
        const bool insideData = chunk.id == "data" && chunk.DataOffset() <= file->id3v1Offset_ &&
                                chunk.DataOffset() + chunk.size >= file->size_;
        if (overlaps && !insideData) {
          file->ForgetId3v1();
          break;
        }
      }
    }
  }
  return file;
}

uint32_t RiffFile::TagFlags() const {
  if (kind_ != FileKind::kRiffMp3) return 0;
  return Id3TagFlags() | (infos_.empty() ? 0 : kFlagRiffInfo);
}

bool RiffFile::Set(ValueName name, std::string_view value, const TextCodec& codec) {
  const auto setInfo = [&] { return SetInfo(name.field, value, codec); };
  if (kind_ == FileKind::kWave) {
    if (name.tag != TagKind::kDefault && name.tag != TagKind::kRiffInfo) return false;
    // Readers of either tag find the same value.
    if (id3v2_) SetId3v2(name.field, value, codec);
    return setInfo();
  }
  return SetByName(name, value, codec, !infos_.empty(), setInfo);
}

bool RiffFile::SetInfo(Field field, std::string_view text, const TextCodec& codec) {
  // RIFF INFO text is read in the system's legacy code page, as ID3v1 text is.
  const std::string value = Recode(text, codec, codec.Legacy());
  const std::string_view id = InfoIdOf(field);
  bool done = false;
  // Every LIST/INFO chunk that holds the field gets it, so that no reader finds a stale copy.
  for (auto& located : infos_) {
    if (located.list.Has(id)) {
      located.list.Set(id, value);
      located.changed = done = true;
    }
  }
  if (!done) {
    if (infos_.empty()) infos_.push_back({riff_.chunks.size(), {}});
    infos_.front().list.Set(id, value);
    infos_.front().changed = true;
  }
  return true;
}

std::optional<std::string> RiffFile::Get(ValueName name, const TextCodec& codec) const {
  if (auto value = GetId3(name, codec)) return value;
  if (name.tag != TagKind::kDefault && name.tag != TagKind::kRiffInfo) return std::nullopt;
  for (const auto& located : infos_) {
    if (auto value = located.list.Get(InfoIdOf(name.field))) {
      return Recode(*value, codec.Legacy(), codec);
    }
  }
  // A WAVE file tagged by another program in its "id3 " chunk alone.
  if (kind_ == FileKind::kWave) {
    if (auto text = Id3v2Text(name.field)) return codec.FromUnicode(*text);
  }
  if (!infos_.empty()) return std::string();
  return std::nullopt;
}

std::optional<SavePlan> RiffFile::Plan() const {
  if (!valid_) return std::nullopt;
  std::vector<Edit> chunkEdits;
  std::vector<Bytes> appended;
  for (const auto& located : infos_) {
    if (!located.changed) continue;
    Bytes chunk = located.list.Render();
    if (located.chunk < riff_.chunks.size()) {
      const Chunk& old = riff_.chunks[located.chunk];
      chunkEdits.push_back({old.offset, old.End() - old.offset, std::move(chunk)});
    } else {
      appended.push_back(std::move(chunk));
    }
  }
  if (id3v2Changed_) {
    const Bytes tag = RenderId3v2(id3v2Length_);
    if (tag.empty()) return std::nullopt;
    Bytes chunk{'i', 'd', '3', ' '};
    if (id3v2Chunk_) std::copy_n(riff_.chunks[*id3v2Chunk_].id.begin(), 4, chunk.begin());
    AppendLittleEndian32(chunk, uint32_t(tag.size()));
    chunk.insert(chunk.end(), tag.begin(), tag.end());
    if (tag.size() & 1) chunk.push_back(0);
    if (id3v2Chunk_) {
      const Chunk& old = riff_.chunks[*id3v2Chunk_];
      chunkEdits.push_back({old.offset, old.End() - old.offset, std::move(chunk)});
    } else {
      appended.push_back(std::move(chunk));
    }
  }
  if (!appended.empty()) {
    Edit insertion{riff_.end, 0, {}};
    // An odd last chunk that lacks its pad byte gets it first, so that a reader finds the new
    // chunk where the standard puts it. (Offsets need not be even: an earlier chunk may lack its
    // pad byte too.) A last chunk written anew brings its own pad byte.
    const auto rewritten = [&](const Chunk& chunk) {
      return std::any_of(chunkEdits.begin(), chunkEdits.end(),
                         [&](const Edit& edit) { return edit.offset == chunk.offset; });
    };
    if (!riff_.chunks.empty() && (riff_.chunks.back().size & 1) && !riff_.chunks.back().padded &&
        !rewritten(riff_.chunks.back())) {
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
  auto edits = riff_.Resize(growth);
  if (!edits) return std::nullopt;
  for (Edit& edit : chunkEdits) edits->push_back(std::move(edit));
  std::sort(edits->begin(), edits->end(),
            [](const Edit& a, const Edit& b) { return a.offset < b.offset; });
  AddId3v1Edit(*edits);
  return PlanEdits(size_, std::move(*edits));
}

}  // namespace mp3infp
