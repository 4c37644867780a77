#include "mp3infp/Id3v2Tag.h"

#include <algorithm>

#include "mp3infp/RecordingDate.h"

namespace mp3infp {
namespace {

constexpr uint8_t kUnsynchronisation = 0x80;
constexpr uint16_t kV24FrameUnsynchronised = 0x0002;
constexpr uint8_t kExtendedHeader = 0x40;  // 2.2: compression
constexpr uint8_t kFooter = 0x10;

constexpr std::pair<std::string_view, std::string_view> kV22Ids[] = {
    {"TPE1", "TP1"}, {"TALB", "TAL"}, {"TIT2", "TT2"}, {"TRCK", "TRK"}, {"TCON", "TCO"},
    {"TYER", "TYE"}, {"COMM", "COM"}, {"TDRC", "TYE"}, {"TDAT", "TDA"},
};

// The tag's TDAT read as a day of `year`; nothing without one that names a day of that year.
std::optional<RecordingDate> StoredDay(const Id3v2Tag& tag, int year) {
  const auto dayMonth = tag.GetText("TDAT");
  return dayMonth ? ParseDayMonth(*dayMonth, year) : std::nullopt;
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

std::string Id3v2Tag::FrameId(std::string_view id) const {
  if (version_ == 2) {
    for (const auto& [modern, old] : kV22Ids) {
      if (modern == id) return std::string(old);
    }
  }
  // The year lives in TDRC since 2.4.
  if (version_ == 4 && id == "TYER") return "TDRC";
  return std::string(id);
}

Frame* Id3v2Tag::Find(std::string_view id) const {
  for (const auto& frame : frames_) {
    if (frame->id() == id) return frame.get();
  }
  return nullptr;
}

std::optional<std::u16string> Id3v2Tag::GetText(std::string_view id) const {
  const auto* frame = dynamic_cast<const TextFrame*>(Find(FrameId(id)));
  if (!frame) return std::nullopt;
  return frame->Text(version_);
}

void Id3v2Tag::SetText(std::string_view id, std::u16string_view text) {
  const std::string frameId = FrameId(id);
  auto* frame = dynamic_cast<TextFrame*>(Find(frameId));
  if (!frame) {
    auto made = std::make_unique<TextFrame>(frameId, 0, Bytes{});
    frame = made.get();
    frames_.push_back(std::move(made));
  }
  frame->SetText(text, version_);
}

void Id3v2Tag::Remove(std::string_view id) {
  const std::string frameId = FrameId(id);
  std::erase_if(frames_, [&](const auto& frame) { return frame->id() == frameId; });
}

std::optional<std::u16string> Id3v2Tag::GetRecordingDate() const {
  const auto year = GetText("TYER");
  if (version_ == 4 || !year) return year;
  const auto date = ParseRecordingDate(*year);
  if (!date || date->month) return year;
  const auto day = StoredDay(*this, date->year);
  return day ? IsoText(*day) : year;
}

void Id3v2Tag::SetRecordingDate(std::u16string_view text) {
  const auto date = ParseRecordingDate(text);
  if (!date) {
    // "1990s", "2024年": the user's own words, which readers show as they are.
    SetText("TYER", text);
    return;
  }
  if (version_ == 4) {
    SetText("TDRC", IsoText(*date));
    return;
  }
  // A day already in the tag stays only while it agrees with all the new value says: same year,
  // and same month when one is given. Otherwise it would date the recording to a day of another
  // year or month.
  const std::u16string year = IsoText({date->year});
  if (date->day) {
    SetText("TDAT", DayMonthText(*date));
  } else if (Find(FrameId("TDAT"))) {
    const auto day = StoredDay(*this, date->year);
    const bool sameYear = GetText("TYER") == year;
    const bool sameMonth = !date->month || (day && day->month == date->month);
    if (!sameYear || !sameMonth) Remove("TDAT");
  }
  SetText("TYER", year);
}

std::optional<std::u16string> Id3v2Tag::GetComment() const {
  const std::string id = FrameId("COMM");
  for (const auto& frame : frames_) {
    if (frame->id() != id) continue;
    const auto parts = static_cast<const CommentFrame&>(*frame).Decode(version_);
    if (parts && parts->description.empty()) return parts->text;
  }
  return std::nullopt;
}

void Id3v2Tag::SetComment(std::u16string_view text) {
  const std::string id = FrameId("COMM");
  for (const auto& frame : frames_) {
    if (frame->id() != id) continue;
    auto& comment = static_cast<CommentFrame&>(*frame);
    const auto parts = comment.Decode(version_);
    if (parts && parts->description.empty()) {
      comment.Set(parts->language, text, version_);
      return;
    }
  }
  auto comment = std::make_unique<CommentFrame>(id, 0, Bytes{});
  comment->Set("jpn", text, version_);
  frames_.push_back(std::move(comment));
}

Bytes Id3v2Tag::Render(size_t minimumSize) const {
  Bytes body;
  for (const auto& frame : frames_) {
    const Bytes rendered = frame->Render(version_);
    body.insert(body.end(), rendered.begin(), rendered.end());
  }
  size_t total = kHeaderSize + body.size();
  total = minimumSize ? std::max(total, minimumSize) : total + kPadding;
  if (total - kHeaderSize >= (1u << 28)) return {};
  Bytes out{'I', 'D', '3', uint8_t(version_), 0, 0};
  AppendSyncSafe32(out, uint32_t(total - kHeaderSize));
  out.insert(out.end(), body.begin(), body.end());
  out.resize(total, 0);
  return out;
}

}  // namespace mp3infp
