#include "mp3infp/VorbisComment.h"

#include <unordered_set>
#include <utility>

namespace mp3infp {
namespace {

// Each field beside its name, so that no two lists have to be kept in the enum's order.
constexpr std::pair<Field, std::string_view> kNames[] = {
    {Field::kArtist, "ARTIST"},     {Field::kAlbum, "ALBUM"}, {Field::kTitle, "TITLE"},
    {Field::kTrack, "TRACKNUMBER"}, {Field::kGenre, "GENRE"}, {Field::kYear, "DATE"},
    {Field::kComment, "COMMENT"}};

char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

// The name of an item, upper-cased; an item without '=' is all name.
std::string UpperName(std::string_view item) {
  std::string name(item.substr(0, item.find('=')));
  for (char& c : name) c = Upper(c);
  return name;
}

// The item is "name=..." with the name in any case.
bool HasName(std::string_view item, std::string_view name) {
  if (item.size() <= name.size() || item[name.size()] != '=') return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (Upper(item[i]) != Upper(name[i])) return false;
  }
  return true;
}

void AppendString(Bytes& out, std::string_view text) {
  AppendLittleEndian32(out, uint32_t(text.size()));
  out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

std::string_view VorbisComment::NameOf(Field field) {
  for (const auto& [named, name] : kNames) {
    if (named == field) return name;
  }
  return {};
}

void VorbisComment::Merge(const VorbisComment& other) {
  std::unordered_set<std::string> names;
  for (const std::string& item : items_) names.insert(UpperName(item));
  for (const std::string& item : other.items_) {
    if (!names.contains(UpperName(item))) items_.push_back(item);
  }
}

std::optional<VorbisComment> VorbisComment::Parse(std::span<const uint8_t> data) {
  VorbisComment comment;
  size_t pos = 0;
  // A length-prefixed string at `pos`, or false when it passes the end.
  const auto take = [&](std::string& out) {
    if (data.size() - pos < 4) return false;
    const uint32_t length = ReadLittleEndian32(&data[pos]);
    pos += 4;
    if (length > data.size() - pos) return false;
    out.assign(reinterpret_cast<const char*>(&data[pos]), length);
    pos += length;
    return true;
  };
  if (!take(comment.vendor_) || data.size() - pos < 4) return std::nullopt;
  const uint32_t count = ReadLittleEndian32(&data[pos]);
  pos += 4;
  // Each item takes at least its four length bytes: a larger count cannot be true.
  if (count > (data.size() - pos) / 4) return std::nullopt;
  comment.items_.resize(count);
  for (std::string& item : comment.items_) {
    if (!take(item)) return std::nullopt;
  }
  comment.tail_.assign(data.begin() + pos, data.end());
  return comment;
}

std::optional<std::string> VorbisComment::Get(std::string_view name) const {
  for (const std::string& item : items_) {
    if (HasName(item, name)) return item.substr(name.size() + 1);
  }
  return std::nullopt;
}

void VorbisComment::Set(std::string_view name, std::string_view utf8Value) {
  std::string item(name);
  item += '=';
  item += utf8Value;
  bool placed = false;
  for (size_t i = 0; i < items_.size();) {
    if (!HasName(items_[i], name)) {
      ++i;
    } else if (!placed) {
      items_[i++] = item;
      placed = true;
    } else {
      items_.erase(items_.begin() + i);
    }
  }
  if (!placed) items_.push_back(std::move(item));
}

std::optional<std::string> VorbisComment::GetField(Field field, const TextCodec& codec) const {
  const auto value = Get(NameOf(field));
  if (!value) return std::nullopt;
  return codec.FromUnicode(Utf8ToUtf16(*value));
}

void VorbisComment::SetField(Field field, std::string_view value, const TextCodec& codec) {
  Set(NameOf(field), Utf16ToUtf8(codec.ToUnicode(value)));
}

Bytes VorbisComment::Render(std::span<const uint8_t> tail) const {
  Bytes out;
  AppendString(out, vendor_);
  AppendLittleEndian32(out, uint32_t(items_.size()));
  for (const std::string& item : items_) AppendString(out, item);
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

}  // namespace mp3infp
