#include "mp3infp/Id3v2Tag.h"

#include <algorithm>

#include "mp3infp/Padding.h"
#include "mp3infp/RecordingDate.h"

namespace mp3infp {
namespace {

constexpr uint8_t kUnsynchronisation = 0x80;
constexpr uint16_t kV24FrameUnsynchronised = 0x0002;
constexpr uint8_t kExtendedHeader = 0x40;  // 2.2: compression
constexpr uint8_t kFooter = 0x10;

// The frame of each field in versions 2.2, 2.3 and 2.4. The year's frame holds the year alone
// in 2.2 and 2.3 (the day and month go into the day frame) and the whole date in 2.4.
struct FieldFrames {
  Field field;
  std::string_view byVersion[3];
};
constexpr FieldFrames kFieldFrames[] = {
    {Field::kArtist, {"TP1", "TPE1", "TPE1"}},  {Field::kAlbum, {"TAL", "TALB", "TALB"}},
    {Field::kTitle, {"TT2", "TIT2", "TIT2"}},   {Field::kTrack, {"TRK", "TRCK", "TRCK"}},
    {Field::kGenre, {"TCO", "TCON", "TCON"}},   {Field::kYear, {"TYE", "TYER", "TDRC"}},
    {Field::kComment, {"COM", "COMM", "COMM"}},
};
// The day and month of the recording, which 2.4 keeps in TDRC.
constexpr std::string_view kDayFrames[3] = {"TDA", "TDAT", ""};

// A 2.2 frame's size has 24 bits, a 2.3/2.4 frame's 32 and 28, a tag's body 28.
constexpr uint64_t kMaxTagBody = (1u << 28) - 1;
uint64_t MaxFramePayload(int version) {
  return version == 2 ? (1u << 24) - 1 : version == 4 ? kMaxTagBody : UINT32_MAX;
}

bool IsFrameIdChar(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

bool IsFrameId(const uint8_t* p, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (!IsFrameIdChar(p[i])) return false;
  }
  return true;
}

struct FrameLayout {
  size_t idLength, headerSize;
};

FrameLayout LayoutOf(int version) { return version == 2 ? FrameLayout{3, 6} : FrameLayout{4, 10}; }

uint32_t FrameSize(const uint8_t* header, int version, bool syncSafe) {
  if (version == 2) return uint32_t(header[3]) << 16 | uint32_t(header[4]) << 8 | header[5];
  return syncSafe ? ReadSyncSafe32(header + 4) : ReadBigEndian32(header + 4);
}

// Walks the frames of `body` from `start`: true when they end exactly at the body's end or at
// padding (zero bytes). Used to tell whether a 2.4 tag's frame sizes are synchsafe, as the
// standard wants, or plain integers, as some writers made them.
bool FramesWalkCleanly(std::span<const uint8_t> body, size_t start, int version, bool syncSafe) {
  const FrameLayout layout = LayoutOf(version);
  size_t pos = start;
  for (size_t count = 0; count < Id3v2Tag::kMaxFrames; ++count) {
    if (pos == body.size() || (pos < body.size() && body[pos] == 0)) return true;
    if (body.size() - pos < layout.headerSize) return false;
    if (!IsFrameId(&body[pos], layout.idLength)) return false;
    if (syncSafe && !IsSyncSafe(&body[pos + 4])) return false;
    const uint32_t size = FrameSize(&body[pos], version, syncSafe);
    if (size > body.size() - pos - layout.headerSize) return false;
    pos += layout.headerSize + size;
  }
  return false;
}

}  // namespace

std::optional<uint64_t> Id3v2Tag::TotalSize(const uint8_t* header) {
  if (header[0] != 'I' || header[1] != 'D' || header[2] != '3') return std::nullopt;
  if (header[3] < 2 || header[3] > 4 || header[4] == 0xFF) return std::nullopt;
  if (!IsSyncSafe(header + 6)) return std::nullopt;
  uint64_t size = kHeaderSize + ReadSyncSafe32(header + 6);
  if (header[3] == 4 && (header[5] & kFooter)) size += kHeaderSize;
  return size;
}

Id3v2Tag Id3v2Tag::Parse(std::span<const uint8_t> data) {
  Id3v2Tag tag;
  tag.wellFormed_ = false;
  if (data.size() < kHeaderSize) return tag;
  const auto total = TotalSize(data.data());
  if (!total) return tag;
  tag.version_ = data[3];
  const uint8_t flags = data[5];
  const int version = tag.version_;
  bool wellFormed = *total <= data.size();
  const size_t bodySize = std::min<uint64_t>(ReadSyncSafe32(&data[6]), data.size() - kHeaderSize);

  // A 2.2 tag marked compressed has no defined compression: nothing in it can be read safely.
  if (version == 2 && (flags & kExtendedHeader)) return tag;

  Bytes body(data.begin() + kHeaderSize, data.begin() + kHeaderSize + bodySize);
  if (version < 4 && (flags & kUnsynchronisation)) body = RemoveUnsynchronisation(body);
  const bool allUnsynchronised = version == 4 && (flags & kUnsynchronisation);

  size_t pos = 0;
  if (version >= 3 && (flags & kExtendedHeader)) {
    // The extended header carries nothing we keep (a CRC of the old frames, restrictions), so it
    // is skipped and not written back. Some writers set the flag without writing the header:
    // when what follows does not read as one but as a frame, the flag is taken as false.
    bool real = false;
    if (body.size() >= 6) {
      if (version == 3) {
        const uint32_t size = ReadBigEndian32(body.data());
        real = (size == 6 || size == 10) && size + 4 <= body.size();
        if (real) pos = size + 4;
      } else {
        const uint32_t size = ReadSyncSafe32(body.data());
        real = IsSyncSafe(body.data()) && size >= 6 && size <= body.size() && body[4] == 1;
        if (real) pos = size;
      }
    }
    if (!real && !(body.size() >= 4 && IsFrameId(body.data(), 4))) wellFormed = false;
  }

  bool syncSafe = version == 4;
  if (version == 4 && !FramesWalkCleanly(body, pos, 4, true) &&
      FramesWalkCleanly(body, pos, 4, false)) {
    syncSafe = false;
  }

  const FrameLayout layout = LayoutOf(version);
  while (pos < body.size()) {
    if (body[pos] == 0) break;  // padding
    if (tag.frames_.size() >= kMaxFrames || body.size() - pos < layout.headerSize ||
        !IsFrameId(&body[pos], layout.idLength)) {
      wellFormed = false;
      break;
    }
    const uint32_t size = FrameSize(&body[pos], version, syncSafe);
    if (size > body.size() - pos - layout.headerSize) {
      wellFormed = false;
      break;
    }
    uint16_t frameFlags = version == 2 ? 0 : uint16_t(body[pos + 8] << 8 | body[pos + 9]);
    // A 2.4 tag marked unsynchronised as a whole means each frame is: the frame says so itself,
    // so that its content is read right and a frame we replace no longer claims it.
    if (allUnsynchronised) frameFlags |= kV24FrameUnsynchronised;
    const auto begin = body.begin() + pos + layout.headerSize;
    tag.frames_.push_back(
        MakeFrame(std::string(reinterpret_cast<const char*>(&body[pos]), layout.idLength),
                  frameFlags, Bytes(begin, begin + size)));
    pos += layout.headerSize + size;
  }
  tag.wellFormed_ = wellFormed;
  return tag;
}

Id3v2Tag Id3v2Tag::ParseWhole(std::span<const uint8_t> data) {
  if (data.size() < kHeaderSize || data.size() - kHeaderSize > kMaxTagBody) return Parse(data);
  Bytes whole(data.begin(), data.end());
  if (whole[3] == 4) whole[5] &= uint8_t(~kFooter);
  Bytes size;
  AppendSyncSafe32(size, uint32_t(data.size() - kHeaderSize));
  std::copy(size.begin(), size.end(), whole.begin() + 6);
  return Parse(whole);
}

std::string_view Id3v2Tag::FrameId(Field field) const {
  for (const auto& row : kFieldFrames) {
    if (row.field == field) return row.byVersion[version_ - 2];
  }
  return {};
}

std::string_view Id3v2Tag::DayFrameId() const { return kDayFrames[version_ - 2]; }

Frame* Id3v2Tag::Find(std::string_view id) const {
  for (const auto& frame : frames_) {
    if (frame->id() == id) return frame.get();
  }
  return nullptr;
}

std::optional<std::u16string> Id3v2Tag::Get(Field field) const {
  if (field == Field::kComment) return GetComment();
  if (field == Field::kYear) return GetRecordingDate();
  return GetText(FrameId(field));
}

void Id3v2Tag::Set(Field field, std::u16string_view text) {
  if (field == Field::kComment) {
    SetComment(text);
  } else if (field == Field::kYear) {
    SetRecordingDate(text);
  } else {
    SetText(FrameId(field), text);
  }
}

std::optional<std::u16string> Id3v2Tag::GetText(std::string_view id) const {
  const auto* frame = dynamic_cast<const TextFrame*>(Find(id));
  if (!frame) return std::nullopt;
  return frame->Text(version_);
}

void Id3v2Tag::SetText(std::string_view id, std::u16string_view text) {
  const auto first = std::find_if(frames_.begin(), frames_.end(),
                                  [&](const auto& frame) { return frame->id() == id; });
  if (first == frames_.end()) {
    frames_.push_back(std::make_unique<TextFrame>(std::string(id), 0, Bytes{}));
    static_cast<TextFrame&>(*frames_.back()).SetText(text, version_);
    return;
  }
  static_cast<TextFrame&>(**first).SetText(text, version_);
  frames_.erase(std::remove_if(first + 1, frames_.end(),
                               [&](const auto& frame) { return frame->id() == id; }),
                frames_.end());
}

void Id3v2Tag::Remove(std::string_view id) {
  std::erase_if(frames_, [&](const auto& frame) { return frame->id() == id; });
}

std::optional<std::u16string> Id3v2Tag::GetRecordingDate() const {
  const auto year = GetText(FrameId(Field::kYear));
  if (version_ == 4 || !year) return year;
  const auto date = ParseRecordingDate(*year);
  if (!date || date->month) return year;
  const auto dayMonth = GetText(DayFrameId());
  const auto day = dayMonth ? ParseDayMonth(*dayMonth, date->year) : std::nullopt;
  return day ? IsoText(*day) : year;
}

void Id3v2Tag::SetRecordingDate(std::u16string_view text) {
  const auto date = ParseRecordingDate(text);
  const std::string_view yearId = FrameId(Field::kYear);
  if (!date) {
    // "1990s", "2024年": the user's own words, which readers show as they are.
    SetText(yearId, text);
    return;
  }
  if (version_ == 4) {
    SetText(yearId, IsoText(*date));
    return;
  }
  // A day already in the tag stays only while it agrees with all the new value says: same year,
  // and same month when one is given. Otherwise it would date the recording to a day of another
  // year or month.
  const std::u16string year = IsoText({date->year});
  if (date->day) {
    SetText(DayFrameId(), DayMonthText(*date));
  } else if (const auto dayMonth = GetText(DayFrameId())) {
    const auto day = ParseDayMonth(*dayMonth, date->year);
    const bool sameYear = GetText(yearId) == year;
    const bool sameMonth = !date->month || (day && day->month == date->month);
    if (!sameYear || !sameMonth) Remove(DayFrameId());
  } else {
    // A day frame we cannot read (compressed, not text) would date the new year wrongly.
    Remove(DayFrameId());
  }
  SetText(yearId, year);
}

std::optional<std::u16string> Id3v2Tag::GetComment() const {
  const std::string_view id = FrameId(Field::kComment);
  for (const auto& frame : frames_) {
    if (frame->id() != id) continue;
    const auto parts = static_cast<const CommentFrame&>(*frame).Decode(version_);
    if (parts && parts->description.empty()) return parts->text;
  }
  return std::nullopt;
}

void Id3v2Tag::SetComment(std::u16string_view text) {
  const std::string_view id = FrameId(Field::kComment);
  bool set = false;
  std::erase_if(frames_, [&](const auto& frame) {
    if (frame->id() != id) return false;
    auto& comment = static_cast<CommentFrame&>(*frame);
    const auto parts = comment.Decode(version_);
    if (!parts || !parts->description.empty()) return false;
    if (set) return true;
    comment.Set(parts->language, text, version_);
    return !(set = true);
  });
  if (set) return;
  auto comment = std::make_unique<CommentFrame>(std::string(id), 0, Bytes{});
  comment->Set("jpn", text, version_);
  frames_.push_back(std::move(comment));
}

std::optional<Bytes> Id3v2Tag::RenderFrames() const {
  Bytes body;
  for (const auto& frame : frames_) {
    if (frame->payload().size() > MaxFramePayload(version_)) return std::nullopt;
    const Bytes rendered = frame->Render(version_);
    body.insert(body.end(), rendered.begin(), rendered.end());
    if (body.size() > kMaxTagBody) return std::nullopt;
  }
  return body;
}

Bytes Id3v2Tag::Render(uint64_t room, uint64_t fileSize) const {
  const auto body = RenderFrames();
  if (!body) return {};
  const uint64_t needed = kHeaderSize + body->size();
  uint64_t total = needed + kFreshPadding;
  if (room >= needed && room - needed <= MostPadding(fileSize)) total = room;
  // Never a size that its field cannot hold (the frames alone always fit).
  total = std::min(total, kHeaderSize + kMaxTagBody);
  Bytes out{'I', 'D', '3', uint8_t(version_), 0, 0};
  AppendSyncSafe32(out, uint32_t(total - kHeaderSize));
  out.insert(out.end(), body->begin(), body->end());
  out.resize(total, 0);
  return out;
}

}  // namespace mp3infp
