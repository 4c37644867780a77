#include "mp3infp/Id3v2Frame.h"

#include "mp3infp/TextCodec.h"

namespace mp3infp {
namespace {

// 2.4 frame format flags (the second flag byte).
constexpr uint16_t kV24Compressed = 0x0008;
constexpr uint16_t kV24Encrypted = 0x0004;
constexpr uint16_t kV24Unsynchronised = 0x0002;
constexpr uint16_t kV24DataLength = 0x0001;
constexpr uint16_t kV24Grouped = 0x0040;
// 2.3 frame flags.
constexpr uint16_t kV23Compressed = 0x0080;
constexpr uint16_t kV23Encrypted = 0x0040;
constexpr uint16_t kV23Grouped = 0x0020;

std::string_view AsChars(std::span<const uint8_t> data) {
  return {reinterpret_cast<const char*>(data.data()), data.size()};
}

bool IsWide(uint8_t encoding) { return encoding == 1 || encoding == 2; }

}  // namespace

Bytes RemoveUnsynchronisation(std::span<const uint8_t> data) {
  Bytes out;
  out.reserve(data.size());
  for (size_t i = 0; i < data.size(); ++i) {
    out.push_back(data[i]);
    if (data[i] == 0xFF && i + 1 < data.size() && data[i + 1] == 0x00) ++i;
  }
  return out;
}

std::optional<Bytes> Frame::Content(int version) const {
  if (version == 3) {
    if (flags_ & (kV23Compressed | kV23Encrypted)) return std::nullopt;
    const size_t skip = (flags_ & kV23Grouped) ? 1 : 0;
    if (payload_.size() < skip) return std::nullopt;
    return Bytes(payload_.begin() + skip, payload_.end());
  }
  if (version == 4) {
    if (flags_ & (kV24Compressed | kV24Encrypted)) return std::nullopt;
    size_t skip = 0;
    if (flags_ & kV24Grouped) skip += 1;
    if (flags_ & kV24DataLength) skip += 4;
    if (payload_.size() < skip) return std::nullopt;
    std::span<const uint8_t> data(payload_.data() + skip, payload_.size() - skip);
    if (flags_ & kV24Unsynchronised) return RemoveUnsynchronisation(data);
    return Bytes(data.begin(), data.end());
  }
  return payload_;
}

Bytes Frame::Render(int version) const {
  Bytes out(id_.begin(), id_.end());
  const auto size = static_cast<uint32_t>(payload_.size());
  if (version == 2) {
    out.insert(out.end(), {uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)});
  } else {
    if (version == 4) {
      AppendSyncSafe32(out, size);
    } else {
      AppendBigEndian32(out, size);
    }
    out.push_back(uint8_t(flags_ >> 8));
    out.push_back(uint8_t(flags_));
  }
  out.insert(out.end(), payload_.begin(), payload_.end());
  return out;
}

Bytes EncodeText(std::u16string_view text, int version, bool terminate, uint8_t* encoding) {
  // ISO-8859-1 is kept to plain ASCII, which every reader decodes alike; 2.4 is UTF-8 throughout.
  bool ascii = version != 4;
  for (char16_t c : text) ascii = ascii && c < 0x80;
  Bytes out;
  if (ascii) {
    *encoding = 0;
    for (char16_t c : text) out.push_back(uint8_t(c));
    if (terminate) out.push_back(0);
  } else if (version == 4) {
    *encoding = 3;
    const std::string utf8 = Utf16ToUtf8(text);
    out.assign(utf8.begin(), utf8.end());
    if (terminate) out.push_back(0);
  } else {
    *encoding = 1;
    out = {0xFF, 0xFE};
    for (char16_t c : text) {
      out.push_back(uint8_t(c));
      out.push_back(uint8_t(c >> 8));
    }
    if (terminate) out.insert(out.end(), {0, 0});
  }
  return out;
}

std::u16string DecodeText(uint8_t encoding, std::span<const uint8_t> data, size_t* consumed) {
  std::u16string out;
  if (IsWide(encoding)) {
    size_t i = 0;
    bool bigEndian = encoding == 2;
    if (encoding == 1 && data.size() >= 2) {
      if (data[0] == 0xFE && data[1] == 0xFF) bigEndian = true, i = 2;
      if (data[0] == 0xFF && data[1] == 0xFE) bigEndian = false, i = 2;
    }
    size_t end = i;
    while (end + 1 < data.size() && (data[end] | data[end + 1]) != 0) end += 2;
    for (size_t k = i; k + 1 < data.size() && k < end; k += 2) {
      out +=
          bigEndian ? char16_t(data[k] << 8 | data[k + 1]) : char16_t(data[k + 1] << 8 | data[k]);
    }
    *consumed = std::min(data.size(), end + 2);
    return out;
  }
  size_t end = 0;
  while (end < data.size() && data[end] != 0) ++end;
  *consumed = std::min(data.size(), end + 1);
  const auto bytes = AsChars(data.subspan(0, end));
  return encoding == 3 ? Utf8ToUtf16(bytes) : Latin1ToUtf16(bytes);
}

std::optional<std::u16string> TextFrame::Text(int version) const {
  const auto content = Content(version);
  if (!content || content->empty() || (*content)[0] > 3) return std::nullopt;
  size_t consumed = 0;
  return DecodeText((*content)[0], std::span(*content).subspan(1), &consumed);
}

void TextFrame::SetText(std::u16string_view text, int version) {
  uint8_t encoding = 0;
  Bytes body = EncodeText(text, version, false, &encoding);
  body.insert(body.begin(), encoding);
  Replace(std::move(body));
}

std::optional<CommentFrame::Parts> CommentFrame::Decode(int version) const {
  const auto content = Content(version);
  if (!content || content->size() < 4 || (*content)[0] > 3) return std::nullopt;
  Parts parts;
  parts.language.assign(content->begin() + 1, content->begin() + 4);
  std::span<const uint8_t> rest = std::span(*content).subspan(4);
  size_t consumed = 0;
  parts.description = DecodeText((*content)[0], rest, &consumed);
  parts.text = DecodeText((*content)[0], rest.subspan(consumed), &consumed);
  return parts;
}

void CommentFrame::Set(std::string_view language, std::u16string_view text, int version) {
  uint8_t encoding = 0;
  const Bytes encodedText = EncodeText(text, version, false, &encoding);
  Bytes body{encoding};
  for (size_t i = 0; i < 3; ++i) body.push_back(i < language.size() ? language[i] : ' ');
  // An empty description, terminated in the text's encoding.
  if (IsWide(encoding)) {
    body.insert(body.end(), {0xFF, 0xFE, 0, 0});
  } else {
    body.push_back(0);
  }
  body.insert(body.end(), encodedText.begin(), encodedText.end());
  Replace(std::move(body));
}

std::unique_ptr<Frame> MakeFrame(std::string id, uint16_t flags, Bytes payload) {
  if (id == "COMM" || id == "COM") {
    return std::make_unique<CommentFrame>(std::move(id), flags, std::move(payload));
  }
  if (id[0] == 'T' && id != "TXXX" && id != "TXX") {
    return std::make_unique<TextFrame>(std::move(id), flags, std::move(payload));
  }
  return std::make_unique<Frame>(std::move(id), flags, std::move(payload));
}

}  // namespace mp3infp
