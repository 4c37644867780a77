#include "mp3infp/Mp4File.h"

#include <algorithm>

#include "mp3infp/Id3v1Tag.h"
#include "mp3infp/Mp4Stream.h"
#include "mp3infp/Padding.h"

namespace mp3infp {
namespace {

using namespace mp4;

// A larger moov is not read into memory (and so not rewritten).
constexpr uint64_t kMaxMoov = 64u << 20;

constexpr FourCc kIlst = Cc("ilst"), kMeta = Cc("meta"), kUdta = Cc("udta"), kData = Cc("data"),
                 kTrkn = Cc("trkn"), kGnre = Cc("gnre");

// The item that holds each field.
struct FieldItem {
  Field field;
  FourCc type;
};
constexpr FieldItem kFieldItems[] = {
    {Field::kArtist, Copyright("ART")},  {Field::kAlbum, Copyright("alb")},
    {Field::kTitle, Copyright("nam")},   {Field::kTrack, kTrkn},
    {Field::kGenre, Copyright("gen")},   {Field::kYear, Copyright("day")},
    {Field::kComment, Copyright("cmt")},
};

const FourCc& ItemOf(Field field) {
  for (const FieldItem& item : kFieldItems) {
    if (item.field == field) return item.type;
  }
  return kFieldItems[0].type;  // every field has its row
}

// An item holding one data box: `dataType` 1 is UTF-8 text, 0 binary; locale 0 (any).
Bytes MakeItem(const FourCc& type, uint32_t dataType, std::string_view value) {
  Bytes data;
  AppendBigEndian32(data, dataType);
  AppendBigEndian32(data, 0);
  data.insert(data.end(), value.begin(), value.end());
  return MakeBox(type, MakeBox(kData, data));
}

// Bytes at the end of a file that no box can start (`head`, up to 16 of them, after moov): a
// tag of another format or junk that a program appended, which readers pass over and a save
// keeps as they are. The header of a box that claims more than is left (a file cut short) is
// not among them: rewriting the tags of a truncated file would hide that it is truncated.
bool IsTrailingJunk(const uint8_t* head, size_t length) {
  for (std::string_view tag : {"TAG", "APETAGEX", "LYRICSBEGIN"}) {
    if (length >= tag.size() && std::equal(tag.begin(), tag.end(), head)) return true;
  }
  if (length < 8) return true;
  // A box type is four printable characters (or the copyright sign): anything else is no box.
  return !std::all_of(head + 4, head + 8,
                      [](uint8_t c) { return (c >= 0x20 && c < 0x7F) || c == 0xA9; });
}

// "12" or "12/15", with spaces around; numbers up to 65535.
std::optional<std::pair<uint16_t, std::optional<uint16_t>>> ParseTrack(std::string_view text) {
  const auto trim = [](std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
  };
  const auto number = [&](std::string_view s) -> std::optional<uint16_t> {
    s = trim(s);
    if (s.empty() || s.size() > 5) return std::nullopt;
    uint32_t value = 0;
    for (char c : s) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + uint32_t(c - '0');
    }
    if (value > 65535) return std::nullopt;
    return uint16_t(value);
  };
  const size_t slash = text.find('/');
  const auto track = number(text.substr(0, slash));
  if (!track) return std::nullopt;
  if (slash == std::string_view::npos) return std::pair{*track, std::optional<uint16_t>()};
  const auto total = number(text.substr(slash + 1));
  if (!total) return std::nullopt;
  return std::pair{*track, total};
}

// The first data box of the item whose bytes are `p`: its type indicator and value.
std::optional<std::pair<uint32_t, Bytes>> FirstData(const uint8_t* p, uint64_t size) {
  const auto header = ReadHeader(p, size);
  if (!header) return std::nullopt;
  for (uint64_t offset = header->headerSize; offset < header->size;) {
    const auto child = ReadHeader(p + offset, header->size - offset);
    if (!child || ReadBigEndian32(p + offset) == 0) return std::nullopt;
    if (TypeAt(p + offset + 4) == kData && child->size >= child->headerSize + 8) {
      const uint8_t* data = p + offset + child->headerSize;
      return std::pair{ReadBigEndian32(data) & 0xFFFFFF, Bytes(data + 8, p + offset + child->size)};
    }
    offset += child->size;
  }
  return std::nullopt;
}

}  // namespace

std::unique_ptr<Mp4File> Mp4File::Parse(ByteSource& source) {
  const uint64_t fileSize = source.Size();
  uint8_t head[16];
  if (fileSize < 8 || !source.Read(0, head, 8) || TypeAt(head + 4) != Cc("ftyp")) return nullptr;

  std::unique_ptr<Mp4File> file(new Mp4File);
  file->fileSize_ = fileSize;
  file->stream_.format = "MP4";
  bool moov = false, afterMoov = false;
  uint32_t moovHeaderSize = 8;
  for (uint64_t offset = 0; offset < fileSize;) {
    const uint64_t available = fileSize - offset;
    const size_t length = size_t(std::min<uint64_t>(16, available));
    if (!source.Read(offset, head, length)) {
      file->sound_ = false;
      break;
    }
    const auto header = ReadHeader(head, available);
    if (!header) {
      // What follows cannot be placed: kept as it is when it is what players pass over at the
      // end of a file, otherwise the file is not written.
      if (!moov || !IsTrailingJunk(head, length)) file->sound_ = false;
      break;
    }
    const FourCc type = TypeAt(head + 4);
    if (afterMoov && IsFree(type)) {
      file->freeAfterMoov_ += header->size;
    } else {
      afterMoov = false;
    }
    if (type == Cc("moof") || type == Cc("mfra")) file->sound_ = false;
    if (type == Cc("moov")) {
      if (moov) {
        file->sound_ = false;  // which one a reader takes is its own choice
      } else {
        moov = afterMoov = true;
        file->moovOffset_ = offset;
        file->moovSize_ = header->size;
        moovHeaderSize = header->headerSize;
      }
    }
    offset += header->size;
  }
  Bytes bytes;
  if (!moov || file->moovSize_ > kMaxMoov ||
      !source.ReadBytes(file->moovOffset_, size_t(file->moovSize_), bytes)) {
    file->sound_ = false;
    return file;
  }
  if (!file->moov_.Read(std::move(bytes), moovHeaderSize)) file->sound_ = false;
  if (Child(file->moov_.root(), Cc("mvex"))) file->sound_ = false;
  file->stream_ = ReadStream(file->moov_);
  return file;
}

const Mp4File::Box* Mp4File::Meta() const {
  const Box* udta = Child(moov_.root(), kUdta);
  return udta ? Child(*udta, kMeta) : nullptr;
}

const Mp4File::Box* Mp4File::Ilst() const {
  const Box* meta = Meta();
  return meta ? Child(*meta, kIlst) : nullptr;
}

std::optional<std::pair<uint32_t, Bytes>> Mp4File::ItemData(const FourCc& type) const {
  for (const auto& [changed, item] : changes_) {
    if (changed == type) return item ? FirstData(item->data(), item->size()) : std::nullopt;
  }
  const Box* ilst = Ilst();
  if (!ilst) return std::nullopt;
  for (const Box& item : ilst->children) {
    if (item.made || item.type != type) continue;
    // An item without a data box is kept as it is but gives no value.
    if (auto data = FirstData(moov_.Begin(item), item.size)) return data;
  }
  return std::nullopt;
}

std::optional<std::string> Mp4File::Get(ValueName name, const TextCodec& codec) const {
  if (name.tag != TagKind::kDefault) return std::nullopt;
  const auto data = ItemData(ItemOf(name.field));
  if (name.field == Field::kTrack) {
    if (!data || data->second.size() < 4) return std::nullopt;
    std::string text = std::to_string(ReadBigEndian16(data->second.data() + 2));
    if (data->second.size() >= 6) {
      if (const uint16_t total = ReadBigEndian16(data->second.data() + 4)) {
        text += "/" + std::to_string(total);
      }
    }
    return text;
  }
  if (!data && name.field == Field::kGenre) {
    // The older binary genre: the ID3v1 genre number plus one.
    const auto genre = ItemData(kGnre);
    if (!genre || genre->second.size() < 2) return std::nullopt;
    const uint16_t number = ReadBigEndian16(genre->second.data());
    if (number == 0 || number > 256) return std::nullopt;
    const auto genreName = GenreName(uint8_t(number - 1));
    if (!genreName) return std::nullopt;
    return std::string(*genreName);
  }
  if (!data) return std::nullopt;
  const Bytes& value = data->second;
  std::u16string text;
  if (data->first == 2) {  // UTF-16 big-endian
    for (size_t i = 0; i + 1 < value.size(); i += 2) text += char16_t(value[i] << 8 | value[i + 1]);
  } else if (data->first == 1 || data->first == 0) {
    text = Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(value.data()), value.size()));
  } else {
    return std::nullopt;
  }
  return codec.FromUnicode(text);
}

void Mp4File::Change(const FourCc& type, std::optional<Bytes> item) {
  for (auto& [changed, bytes] : changes_) {
    if (changed == type) {
      bytes = std::move(item);
      return;
    }
  }
  changes_.emplace_back(type, std::move(item));
}

bool Mp4File::Set(ValueName name, std::string_view value, const TextCodec& codec) {
  if (name.tag != TagKind::kDefault) return false;
  const FourCc& type = ItemOf(name.field);
  if (value.empty()) {
    Change(type, std::nullopt);
    if (name.field == Field::kGenre) Change(kGnre, std::nullopt);
    return true;
  }
  if (name.field == Field::kTrack) {
    // trkn holds numbers only: text that is no track number (with an optional total) is refused
    // rather than stored as a number it does not say.
    const auto track = ParseTrack(value);
    if (!track) return false;
    uint16_t total = 0;
    if (track->second) {
      total = *track->second;
    } else if (const auto old = ItemData(kTrkn); old && old->second.size() >= 6) {
      total = ReadBigEndian16(old->second.data() + 4);
    }
    const char number[8] = {
        0, 0, char(track->first >> 8), char(track->first), char(total >> 8), char(total), 0, 0};
    Change(type, MakeItem(type, 0, std::string_view(number, 8)));
    return true;
  }
  Change(type, MakeItem(type, 1, Utf16ToUtf8(codec.ToUnicode(value))));
  // Readers show the binary genre beside the text one: a new genre leaves only itself.
  if (name.field == Field::kGenre) Change(kGnre, std::nullopt);
  return true;
}

Bytes Mp4File::RenderIlst() const {
  Bytes children, tail;
  std::vector<bool> written(changes_.size(), false);
  const auto changeOf = [&](const FourCc& type) -> std::optional<size_t> {
    for (size_t i = 0; i < changes_.size(); ++i) {
      if (changes_[i].first == type) return i;
    }
    return std::nullopt;
  };
  if (const Box* ilst = Ilst()) {
    for (const Box& item : ilst->children) {
      if (item.made) {
        tail = *item.made;  // stays last, after the items added
        continue;
      }
      const auto change = changeOf(item.type);
      if (!change) {
        children.insert(children.end(), moov_.Begin(item), moov_.End(item));
      } else if (!written[*change] && changes_[*change].second) {
        // The new item takes the place of the first old one; the others of its kind go, or
        // readers would show their values beside it.
        const Bytes& bytes = *changes_[*change].second;
        children.insert(children.end(), bytes.begin(), bytes.end());
        written[*change] = true;
      }
    }
  }
  for (size_t i = 0; i < changes_.size(); ++i) {
    if (!written[i] && changes_[i].second) {
      children.insert(children.end(), changes_[i].second->begin(), changes_[i].second->end());
    }
  }
  children.insert(children.end(), tail.begin(), tail.end());
  return MakeBox(kIlst, children);
}

Bytes Mp4File::RenderMoov(uint64_t padding, int64_t shift, uint64_t shiftFrom) const {
  Box moov = moov_.root();
  const auto insertAt = [](Box& parent, Box child) -> Box& {
    // Before a trailing terminator, which must stay last.
    auto at = parent.children.end();
    if (!parent.children.empty() && parent.children.back().tail) --at;
    return *parent.children.insert(at, std::move(child));
  };
  Box* udta = Child(moov, kUdta);
  if (!udta) {
    Box box;
    box.type = kUdta;
    box.container = true;
    udta = &insertAt(moov, std::move(box));
  }
  Box* meta = Child(*udta, kMeta);
  if (!meta) {
    Box box;
    box.type = kMeta;
    box.container = true;
    box.prefix = {0, 0, 0, 0};
    // The handler that tells readers the items are iTunes metadata.
    Bytes handler(8, 0);
    for (char c : std::string_view("mdirappl")) handler.push_back(uint8_t(c));
    handler.resize(handler.size() + 9, 0);
    Box hdlr;
    hdlr.made = MakeBox(Cc("hdlr"), handler);
    box.children.push_back(std::move(hdlr));
    meta = &insertAt(*udta, std::move(box));
  }
  auto& children = meta->children;
  if (!Child(*meta, kIlst)) {
    Box empty;
    empty.type = kIlst;
    insertAt(*meta, std::move(empty));
  }
  const size_t ilst = size_t(Child(*meta, kIlst) - children.data());
  // The new ilst and its padding take the place of the old one and the free boxes around it.
  const auto [first, last] = WithFreeAround(children, ilst);
  std::vector<Box> replacement(1);
  replacement[0].made = RenderIlst();
  if (padding >= 8) {
    replacement.emplace_back();
    replacement.back().made = FreeBox(padding);
  }
  const auto at = children.erase(children.begin() + first, children.begin() + last);
  children.insert(at, replacement.begin(), replacement.end());

  Bytes out;
  if (!moov_.Render(moov, shift, shiftFrom, out)) return {};
  return out;
}

std::optional<SavePlan> Mp4File::Plan() const {
  if (!sound_) return std::nullopt;
  if (changes_.empty()) return PlanEdits(fileSize_, {});
  // Room up to this much stays beside the items for the next save; more is not pulled into
  // moov, where it would make moov huge.
  const uint64_t most = MostPadding(fileSize_);
  const auto fits = [&](uint64_t size, uint64_t room) {
    return size == room || (size + 8 <= room && room - size <= most);
  };

  // In place: the new ilst and the free boxes around it in meta take the room they took.
  if (const Box* ilst = Ilst()) {
    const auto& children = Meta()->children;
    const auto [first, last] = WithFreeAround(children, size_t(ilst - children.data()));
    const uint64_t begin = children[first].offset;
    const uint64_t room = children[last - 1].offset + children[last - 1].size - begin;
    Bytes bytes = RenderIlst();
    if (fits(bytes.size(), room)) {
      if (bytes.size() < room) {
        const Bytes padding = FreeBox(room - bytes.size());
        bytes.insert(bytes.end(), padding.begin(), padding.end());
      }
      return PlanEdits(fileSize_, {{moovOffset_ + begin, room, std::move(bytes)}});
    }
  }

  // Still in place: moov takes the room of the free boxes that follow it, as far as it needs.
  const Bytes bare = RenderMoov(0, 0, 0);
  if (bare.empty()) return std::nullopt;
  const uint64_t room = moovSize_ + freeAfterMoov_;
  if (fits(bare.size(), room)) {
    Bytes moov = bare.size() == room ? bare : RenderMoov(room - bare.size(), 0, 0);
    if (moov.size() != room) return std::nullopt;
    return PlanEdits(fileSize_, {{moovOffset_, room, std::move(moov)}});
  }
  if (bare.size() + kFreshPadding + 8 <= room) {
    // The rest of the room stays a free box of its own after moov. Its bytes stay as they
    // were, but for those of the old moov, which are cleared so that no stale copy of the
    // items lingers in the file.
    Bytes moov = RenderMoov(kFreshPadding, 0, 0);
    if (moov.size() != bare.size() + kFreshPadding) return std::nullopt;
    const Bytes free = FreeHeader(room - moov.size());
    moov.insert(moov.end(), free.begin(), free.end());
    if (moov.size() < moovSize_) moov.resize(moovSize_, 0);
    const uint64_t length = moov.size();
    return PlanEdits(fileSize_, {{moovOffset_, length, std::move(moov)}});
  }

  // moov grows, with padding for the next save; the media data after it moves.
  const uint64_t moovEnd = moovOffset_ + moovSize_;
  const int64_t shift = int64_t(bare.size() + kFreshPadding) - int64_t(moovSize_);
  Bytes moov = RenderMoov(kFreshPadding, shift, moovEnd);
  if (moov.size() != bare.size() + kFreshPadding) return std::nullopt;
  return PlanEdits(fileSize_, {{moovOffset_, moovSize_, std::move(moov)}});
}

}  // namespace mp3infp
