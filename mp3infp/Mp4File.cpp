#include "mp3infp/Mp4File.h"

#include <algorithm>
#include <cstring>

#include "mp3infp/Id3v1Tag.h"

namespace mp3infp {
namespace {

using FourCc = Mp4File::FourCc;
using Box = Mp4File::Box;

// A larger moov is not read into memory (and so not rewritten).
constexpr uint64_t kMaxMoov = 64u << 20;
// Boxes are opened only along known paths, so the nesting stays shallow whatever the input.
constexpr int kMaxDepth = 8;

constexpr FourCc Cc(const char (&text)[5]) {
  return {uint8_t(text[0]), uint8_t(text[1]), uint8_t(text[2]), uint8_t(text[3])};
}
constexpr FourCc kFree = Cc("free"), kSkip = Cc("skip"), kIlst = Cc("ilst"), kMeta = Cc("meta"),
                 kUdta = Cc("udta"), kData = Cc("data"), kStco = Cc("stco"), kCo64 = Cc("co64"),
                 kTrkn = Cc("trkn"), kGnre = Cc("gnre"), kHdlr = Cc("hdlr");
constexpr FourCc Copyright(const char (&text)[4]) {
  return {0xA9, uint8_t(text[0]), uint8_t(text[1]), uint8_t(text[2])};
}
// The item of each field, in the order of Field.
const FourCc kFieldItems[] = {Copyright("ART"), Copyright("alb"), Copyright("nam"), kTrkn,
                              Copyright("gen"), Copyright("day"), Copyright("cmt")};

bool IsFree(const FourCc& type) { return type == kFree || type == kSkip; }

FourCc TypeAt(const uint8_t* p) { return {p[0], p[1], p[2], p[3]}; }

uint64_t ReadBigEndian64(const uint8_t* p) {
  return uint64_t(ReadBigEndian32(p)) << 32 | ReadBigEndian32(p + 4);
}
uint16_t ReadBigEndian16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

void AppendBigEndian64(Bytes& out, uint64_t v) {
  AppendBigEndian32(out, uint32_t(v >> 32));
  AppendBigEndian32(out, uint32_t(v));
}

// A box header for `payload` bytes after it; the 64-bit form when asked or when needed.
void AppendHeader(Bytes& out, const FourCc& type, uint64_t payload, bool large = false) {
  if (!large && payload + 8 <= UINT32_MAX) {
    AppendBigEndian32(out, uint32_t(payload + 8));
    out.insert(out.end(), type.begin(), type.end());
  } else {
    AppendBigEndian32(out, 1);
    out.insert(out.end(), type.begin(), type.end());
    AppendBigEndian64(out, payload + 16);
  }
}

Bytes MakeBox(const FourCc& type, const Bytes& payload) {
  Bytes out;
  AppendHeader(out, type, payload.size());
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

Bytes FreeBox(uint64_t size) {
  Bytes out;
  AppendHeader(out, kFree, size - 8);
  out.resize(size, 0);
  return out;
}

// An item holding one data box: `dataType` 1 is UTF-8 text, 0 binary; locale 0 (any).
Bytes MakeItem(const FourCc& type, uint32_t dataType, std::string_view value) {
  Bytes data;
  AppendBigEndian32(data, dataType);
  AppendBigEndian32(data, 0);
  data.insert(data.end(), value.begin(), value.end());
  return MakeBox(type, MakeBox(kData, data));
}

// The header of the box at `p` with `available` bytes left in its parent: its size and header
// size. Nothing when it does not fit; size 0 (to the end) gives `available`.
struct Header {
  uint64_t size;
  uint32_t headerSize;
};
std::optional<Header> ReadHeader(const uint8_t* p, uint64_t available) {
  if (available < 8) return std::nullopt;
  uint64_t size = ReadBigEndian32(p);
  uint32_t headerSize = 8;
  if (size == 1) {
    if (available < 16) return std::nullopt;
    size = ReadBigEndian64(p + 8);
    headerSize = 16;
  } else if (size == 0) {
    size = available;
  }
  if (size < headerSize || size > available) return std::nullopt;
  return Header{size, headerSize};
}

const Box* Child(const Box& parent, const FourCc& type) {
  for (const Box& child : parent.children) {
    if (!child.made && child.type == type) return &child;
  }
  return nullptr;
}

bool IsContainer(const FourCc& type) {
  for (const char* name : {"moov", "trak", "mdia", "minf", "stbl", "udta", "meta", "ilst"}) {
    if (std::memcmp(type.data(), name, 4) == 0) return true;
  }
  return false;
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

// An MPEG-4 descriptor's length: up to four bytes of seven bits.
std::optional<uint32_t> DescriptorLength(const uint8_t*& p, const uint8_t* end) {
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i) {
    if (p >= end) return std::nullopt;
    const uint8_t byte = *p++;
    length = length << 7 | (byte & 0x7F);
    if (!(byte & 0x80)) return length;
  }
  return length;
}

// The average bit rate of the DecoderConfigDescriptor in an esds payload; 0 when not found.
uint32_t EsdsAverageBitRate(const uint8_t* p, const uint8_t* end) {
  if (end - p < 4) return 0;
  p += 4;  // version and flags
  if (p >= end || *p++ != 0x03) return 0;
  auto length = DescriptorLength(p, end);
  if (!length || end - p < 3) return 0;
  const uint8_t flags = p[2];
  size_t skip = 3 + (flags & 0x80 ? 2 : 0) + (flags & 0x20 ? 2 : 0);
  if (flags & 0x40) {
    const size_t at = 3 + (flags & 0x80 ? 2 : 0);
    if (end - p <= ptrdiff_t(at)) return 0;
    skip += 1 + p[at];
  }
  if (end - p <= ptrdiff_t(skip)) return 0;
  p += skip;
  if (*p++ != 0x04) return 0;
  length = DescriptorLength(p, end);
  if (!length || end - p < 13) return 0;
  return ReadBigEndian32(p + 9);
}

}  // namespace

std::unique_ptr<Mp4File> Mp4File::Parse(ByteSource& source) {
  const uint64_t fileSize = source.Size();
  uint8_t head[16];
  if (fileSize < 8 || !source.Read(0, head, 8) || TypeAt(head + 4) != Cc("ftyp")) return nullptr;

  std::unique_ptr<Mp4File> file(new Mp4File);
  file->fileSize_ = fileSize;
  file->stream_.format = "MP4";
  std::optional<uint64_t> moovEnd;
  bool afterMoov = false;
  for (uint64_t offset = 0; offset < fileSize;) {
    const uint64_t available = fileSize - offset;
    const size_t length = size_t(std::min<uint64_t>(16, available));
    if (!source.Read(offset, head, length)) {
      file->sound_ = false;
      break;
    }
    // Bytes that are no box, or a box past the end: what follows cannot be placed.
    const auto header = ReadHeader(head, available);
    if (!header) {
      file->sound_ = false;
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
      if (moovEnd) {
        file->sound_ = false;  // which one a reader takes is its own choice
      } else {
        moovEnd = offset + header->size;
        file->moovOffset_ = offset;
        file->moovSize_ = header->size;
        afterMoov = true;
        file->moov_.type = type;
        file->moov_.headerSize = header->headerSize;
        file->moov_.size = header->size;
        file->moov_.container = true;
      }
    }
    offset += header->size;
  }
  if (!moovEnd || file->moovSize_ > kMaxMoov ||
      !source.ReadBytes(file->moovOffset_, size_t(file->moovSize_), file->moovBytes_)) {
    file->sound_ = false;
    file->moovBytes_.clear();
    file->moov_ = Box{};
    return file;
  }
  file->ParseChildren(file->moov_, file->moov_.headerSize, file->moovSize_, 0);
  if (Child(file->moov_, Cc("mvex"))) file->sound_ = false;
  file->ReadStream();
  return file;
}

void Mp4File::ParseChildren(Box& parent, uint64_t begin, uint64_t end, int depth) {
  for (uint64_t offset = begin; offset < end;) {
    const uint8_t* p = moovBytes_.data() + offset;
    if (end - offset < 8) {
      Box tail;
      tail.made = Bytes(p, p + (end - offset));
      tail.tail = true;
      parent.children.push_back(std::move(tail));
      return;
    }
    const auto header = ReadHeader(p, end - offset);
    // A size of 0 inside a box is not allowed; a wrong size leaves the rest unplaceable.
    if (!header || ReadBigEndian32(p) == 0) {
      sound_ = false;
      return;
    }
    Box box;
    box.type = TypeAt(p + 4);
    box.offset = offset;
    box.size = header->size;
    box.headerSize = header->headerSize;
    const uint64_t payload = offset + header->headerSize;
    const uint64_t boxEnd = offset + header->size;
    if (parent.type == kIlst) {
      // An item: its data boxes are read when asked for.
    } else if (IsContainer(box.type) && depth < kMaxDepth) {
      box.container = true;
      uint64_t childrenBegin = payload;
      // meta is a full box in ISO files and a plain one in some QuickTime files.
      if (box.type == kMeta &&
          !(boxEnd - payload >= 8 && TypeAt(moovBytes_.data() + payload + 4) == kHdlr)) {
        if (boxEnd - payload < 4) {
          sound_ = false;
          return;
        }
        childrenBegin += 4;
      }
      box.prefix.assign(moovBytes_.begin() + payload, moovBytes_.begin() + childrenBegin);
      ParseChildren(box, childrenBegin, boxEnd, depth + 1);
    } else if (box.type == kStco || box.type == kCo64) {
      const uint64_t entrySize = box.type == kStco ? 4 : 8;
      if (boxEnd - payload < 8 ||
          ReadBigEndian32(moovBytes_.data() + payload + 4) > (boxEnd - payload - 8) / entrySize) {
        sound_ = false;  // offsets we cannot all see cannot all be moved
      }
    }
    parent.children.push_back(std::move(box));
    offset = boxEnd;
  }
}

const Box* Mp4File::Ilst() const {
  const Box* udta = Child(moov_, kUdta);
  const Box* meta = udta ? Child(*udta, kMeta) : nullptr;
  return meta ? Child(*meta, kIlst) : nullptr;
}

std::optional<std::pair<uint32_t, Bytes>> Mp4File::ItemData(const FourCc& type) const {
  const auto read = [&](const uint8_t* p,
                        uint64_t size) -> std::optional<std::pair<uint32_t, Bytes>> {
    const auto header = ReadHeader(p, size);
    if (!header) return std::nullopt;
    for (uint64_t offset = header->headerSize; offset < header->size;) {
      const auto child = ReadHeader(p + offset, header->size - offset);
      if (!child || ReadBigEndian32(p + offset) == 0) return std::nullopt;
      if (TypeAt(p + offset + 4) == kData && child->size >= child->headerSize + 8) {
        const uint8_t* data = p + offset + child->headerSize;
        return std::pair{ReadBigEndian32(data) & 0xFFFFFF,
                         Bytes(data + 8, p + offset + child->size)};
      }
      offset += child->size;
    }
    return std::nullopt;
  };
  for (const auto& [changed, item] : changes_) {
    if (changed == type) return item ? read(item->data(), item->size()) : std::nullopt;
  }
  const Box* ilst = Ilst();
  if (!ilst) return std::nullopt;
  for (const Box& item : ilst->children) {
    if (item.made || item.type != type) continue;
    // An item without a data box is kept as it is but gives no value.
    if (auto data = read(moovBytes_.data() + item.offset, item.size)) return data;
  }
  return std::nullopt;
}

std::optional<std::string> Mp4File::Get(ValueName name, const TextCodec& codec) const {
  if (name.tag != TagKind::kDefault) return std::nullopt;
  const FourCc& type = kFieldItems[static_cast<int>(name.field)];
  const auto data = ItemData(type);
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
  const FourCc& type = kFieldItems[static_cast<int>(name.field)];
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
        const auto begin = moovBytes_.begin() + item.offset;
        children.insert(children.end(), begin, begin + item.size);
      } else if (!written[*change] && changes_[*change].second) {
        // The new item takes the place of the first old one.
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

bool Mp4File::RenderBox(const Box& box, int64_t shift, uint64_t shiftFrom, Bytes& out) const {
  if (box.made) {
    out.insert(out.end(), box.made->begin(), box.made->end());
    return true;
  }
  if (box.container) {
    const size_t start = out.size();
    out.resize(start + box.headerSize);
    out.insert(out.end(), box.prefix.begin(), box.prefix.end());
    for (const Box& child : box.children) {
      if (!RenderBox(child, shift, shiftFrom, out)) return false;
    }
    Bytes header;
    const uint64_t payload = out.size() - start - box.headerSize;
    AppendHeader(header, box.type, payload, box.headerSize == 16);
    if (header.size() != box.headerSize) out.insert(out.begin() + start, 8, 0);  // grew past 4 GiB
    std::copy(header.begin(), header.end(), out.begin() + start);
    return true;
  }
  const size_t start = out.size();
  const auto begin = moovBytes_.begin() + box.offset;
  out.insert(out.end(), begin, begin + box.size);
  if (shift == 0 || (box.type != kStco && box.type != kCo64)) return true;
  uint8_t* p = out.data() + start + box.headerSize;
  const uint32_t count = ReadBigEndian32(p + 4);
  p += 8;
  for (uint32_t i = 0; i < count; ++i) {
    if (box.type == kStco) {
      const uint64_t offset = ReadBigEndian32(p + 4 * i);
      if (offset < shiftFrom) continue;
      const int64_t moved = int64_t(offset) + shift;
      if (moved < 0 || moved > int64_t(UINT32_MAX)) return false;
      Bytes bytes;
      AppendBigEndian32(bytes, uint32_t(moved));
      std::copy(bytes.begin(), bytes.end(), p + 4 * i);
    } else {
      const uint64_t offset = ReadBigEndian64(p + 8 * i);
      if (offset < shiftFrom) continue;
      Bytes bytes;
      AppendBigEndian64(bytes, offset + uint64_t(shift));
      std::copy(bytes.begin(), bytes.end(), p + 8 * i);
    }
  }
  return true;
}

Bytes Mp4File::RenderMoov(uint64_t padding, int64_t shift, uint64_t shiftFrom) const {
  Box moov = moov_;
  const auto insertAt = [](Box& parent, Box child) -> Box& {
    // Before a trailing terminator, which must stay last.
    auto at = parent.children.end();
    if (!parent.children.empty() && parent.children.back().tail) --at;
    return *parent.children.insert(at, std::move(child));
  };
  const auto find = [](Box& parent, const FourCc& type) -> Box* {
    for (Box& child : parent.children) {
      if (!child.made && child.type == type) return &child;
    }
    return nullptr;
  };
  Box* udta = find(moov, kUdta);
  if (!udta) {
    Box box;
    box.type = kUdta;
    box.container = true;
    udta = &insertAt(moov, std::move(box));
  }
  Box* meta = find(*udta, kMeta);
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
    hdlr.made = MakeBox(kHdlr, handler);
    box.children.push_back(std::move(hdlr));
    meta = &insertAt(*udta, std::move(box));
  }
  auto& children = meta->children;
  auto ilst = std::find_if(children.begin(), children.end(),
                           [](const Box& box) { return !box.made && box.type == kIlst; });
  if (ilst == children.end()) {
    ilst = children.end();
    if (!children.empty() && children.back().tail) --ilst;
    ilst = children.insert(ilst, Box{});
  }
  // The free boxes around ilst become the padding.
  auto first = ilst, last = ilst + 1;
  while (first != children.begin() && !(first - 1)->made && IsFree((first - 1)->type)) --first;
  while (last != children.end() && !last->made && IsFree(last->type)) ++last;
  std::vector<Box> replacement(1);
  replacement[0].made = RenderIlst();
  if (padding >= 8) {
    replacement.emplace_back();
    replacement.back().made = FreeBox(padding);
  }
  const auto at = children.erase(first, last);
  children.insert(at, replacement.begin(), replacement.end());

  Bytes out;
  if (!RenderBox(moov, shift, shiftFrom, out)) return {};
  return out;
}

std::optional<SavePlan> Mp4File::Plan() const {
  if (!sound_) return std::nullopt;
  SavePlan plan;
  plan.oldSize = fileSize_;
  const auto replace = [&](uint64_t offset, uint64_t length, Bytes bytes) {
    if (offset > 0) plan.pieces.push_back({0, offset, {}, true});
    plan.pieces.push_back({offset, length, std::move(bytes), false});
    if (offset + length < fileSize_)
      plan.pieces.push_back({offset + length, fileSize_ - offset - length, {}, true});
  };
  if (changes_.empty()) {
    plan.pieces.push_back({0, fileSize_, {}, true});
    return plan;
  }

  // In place: the new ilst and the free boxes around it in meta take the room they took.
  if (const Box* ilst = Ilst()) {
    const Box* meta = Child(*Child(moov_, kUdta), kMeta);
    const auto& children = meta->children;
    size_t first = size_t(ilst - children.data()), last = first + 1;
    while (first > 0 && !children[first - 1].made && IsFree(children[first - 1].type)) --first;
    while (last < children.size() && !children[last].made && IsFree(children[last].type)) ++last;
    const uint64_t begin = children[first].offset;
    const uint64_t room = children[last - 1].offset + children[last - 1].size - begin;
    Bytes bytes = RenderIlst();
    if (bytes.size() == room || bytes.size() + 8 <= room) {
      if (bytes.size() < room) {
        const Bytes padding = FreeBox(room - bytes.size());
        bytes.insert(bytes.end(), padding.begin(), padding.end());
      }
      replace(moovOffset_ + begin, room, std::move(bytes));
      return plan;
    }
  }

  // Still in place: moov grows into the free boxes that follow it.
  const Bytes bare = RenderMoov(0, 0, 0);
  if (bare.empty()) return std::nullopt;
  const uint64_t room = moovSize_ + freeAfterMoov_;
  if (bare.size() == room || bare.size() + 8 <= room) {
    Bytes moov = bare.size() == room ? bare : RenderMoov(room - bare.size(), 0, 0);
    if (moov.size() != room) return std::nullopt;
    replace(moovOffset_, room, std::move(moov));
    return plan;
  }

  // moov grows, with padding for the next save; the media data after it moves.
  const uint64_t moovEnd = moovOffset_ + moovSize_;
  const int64_t shift = int64_t(bare.size() + kPadding) - int64_t(moovSize_);
  Bytes moov = RenderMoov(kPadding, shift, moovEnd);
  if (moov.size() != bare.size() + kPadding) return std::nullopt;
  replace(moovOffset_, moovSize_, std::move(moov));
  return plan;
}

void Mp4File::ReadStream() {
  const auto payloadOf = [&](const Box& box) {
    return std::pair{moovBytes_.data() + box.offset + box.headerSize,
                     moovBytes_.data() + box.offset + box.size};
  };
  const auto duration = [&](const Box* box, uint32_t& timescale, uint64_t& length) {
    if (!box) return false;
    const auto [p, end] = payloadOf(*box);
    if (end - p >= 20 && p[0] == 0) {
      timescale = ReadBigEndian32(p + 12);
      length = ReadBigEndian32(p + 16);
    } else if (end - p >= 32 && p[0] == 1) {
      timescale = ReadBigEndian32(p + 20);
      length = ReadBigEndian64(p + 24);
    } else {
      return false;
    }
    return timescale != 0;
  };

  uint32_t timescale = 0;
  uint64_t length = 0;
  for (const Box& trak : moov_.children) {
    if (trak.made || trak.type != Cc("trak") || !trak.container) continue;
    const Box* mdia = Child(trak, Cc("mdia"));
    const Box* handler = mdia ? Child(*mdia, kHdlr) : nullptr;
    if (!handler) continue;
    const auto [h, hEnd] = payloadOf(*handler);
    if (hEnd - h < 12 || TypeAt(h + 8) != Cc("soun")) continue;
    duration(Child(*mdia, Cc("mdhd")), timescale, length);
    const Box* minf = Child(*mdia, Cc("minf"));
    const Box* stbl = minf ? Child(*minf, Cc("stbl")) : nullptr;
    const Box* stsd = stbl ? Child(*stbl, Cc("stsd")) : nullptr;
    if (stsd) {
      const auto [p, end] = payloadOf(*stsd);
      const auto entry = end - p >= 8 ? ReadHeader(p + 8, uint64_t(end - p - 8)) : std::nullopt;
      if (entry && entry->headerSize == 8 && entry->size >= 36) {
        const uint8_t* e = p + 8;
        const FourCc format = TypeAt(e + 4);
        const uint16_t version = ReadBigEndian16(e + 16);
        if (version == 0 || version == 1) {
          stream_.channels = ReadBigEndian16(e + 24);
          stream_.sampleRate = ReadBigEndian16(e + 32);
        }
        const uint64_t childrenAt = version == 1 ? 52 : version == 2 ? 72 : 36;
        for (uint64_t offset = childrenAt; offset < entry->size;) {
          const auto child = ReadHeader(e + offset, entry->size - offset);
          if (!child || ReadBigEndian32(e + offset) == 0) break;
          const uint8_t* c = e + offset + child->headerSize;
          const uint64_t size = child->size - child->headerSize;
          if (TypeAt(e + offset + 4) == Cc("esds")) {
            stream_.bitRate = EsdsAverageBitRate(c, c + size);
          } else if (TypeAt(e + offset + 4) == Cc("alac") && size >= 28) {
            stream_.channels = c[13];
            stream_.bitRate = ReadBigEndian32(c + 20);
            stream_.sampleRate = ReadBigEndian32(c + 24);
          }
          offset += child->size;
        }
        if (format == Cc("mp4a")) stream_.format = "MP4 (AAC)";
        if (format == Cc("alac")) stream_.format = "MP4 (ALAC)";
      }
    }
    if (stream_.sampleRate == 0) stream_.sampleRate = timescale;
    if (stream_.bitRate == 0 && stbl && timescale && length) {
      // No nominal rate: the sizes of the samples over the length.
      if (const Box* stsz = Child(*stbl, Cc("stsz"))) {
        const auto [p, end] = payloadOf(*stsz);
        if (end - p >= 12) {
          const uint32_t sampleSize = ReadBigEndian32(p + 4);
          const uint64_t count = ReadBigEndian32(p + 8);
          uint64_t total = 0;
          if (sampleSize != 0) {
            total = sampleSize * count;
          } else if (count <= uint64_t(end - p - 12) / 4) {
            for (uint64_t i = 0; i < count; ++i) total += ReadBigEndian32(p + 12 + 4 * i);
          }
          stream_.bitRate = uint32_t(
              std::min<double>(UINT32_MAX, double(total) * 8 * timescale / double(length)));
        }
      }
    }
    break;
  }
  if (timescale == 0 || length == 0) duration(Child(moov_, Cc("mvhd")), timescale, length);
  if (timescale != 0) stream_.seconds = double(length) / timescale;
}

}  // namespace mp3infp
