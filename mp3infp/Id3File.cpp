#include "mp3infp/Id3File.h"

namespace mp3infp {

bool Id3File::AddId3v1() {
  if (!IsMp3()) return false;
  if (!id3v1_) {
    id3v1_.emplace();
    id3v1Offset_ = size_;
    id3v1Changed_ = true;
  }
  return true;
}

bool Id3File::AddId3v2() {
  if (!IsMp3()) return false;
  if (!id3v2_) {
    id3v2_.emplace();
    id3v2Offset_ = 0;
    id3v2Length_ = 0;
    id3v2Changed_ = true;
  }
  return true;
}

uint32_t Id3File::Id3TagFlags() const {
  return (id3v1_ ? kFlagId3v1 : 0) | (id3v2_ ? kFlagId3v2 : 0);
}

bool Id3File::SetId3v1(Field field, std::string_view value, const TextCodec& codec) {
  if (!AddId3v1()) return false;
  id3v1_->Set(field, value, codec);
  id3v1Changed_ = true;
  return true;
}

bool Id3File::SetId3v2(Field field, std::string_view value, const TextCodec& codec) {
  // A tag the file has takes the value whatever the file holds (the "id3 " chunk of WAVE).
  if (!id3v2_ && !AddId3v2()) return false;
  id3v2_->Set(field, codec.ToUnicode(value));
  id3v2Changed_ = true;
  return true;
}

std::optional<std::string> Id3File::GetId3(ValueName name, const TextCodec& codec) const {
  if (!IsMp3()) return std::nullopt;
  const bool any = name.tag == TagKind::kDefault;
  if ((any || name.tag == TagKind::kId3v2) && id3v2_) {
    if (const auto text = Id3v2Text(name.field)) return codec.FromUnicode(*text);
    if (!any) return std::string();
  }
  if ((any || name.tag == TagKind::kId3v1) && id3v1_) {
    return Recode(id3v1_->Get(name.field), codec.Legacy(), codec);
  }
  return std::nullopt;
}

std::optional<std::u16string> Id3File::Id3v2Text(Field field) const {
  if (!id3v2_) return std::nullopt;
  return id3v2_->Get(field);
}

void Id3File::ReadId3v1AtEnd(ByteSource& source, uint64_t notBefore) {
  if (size_ < Id3v1Tag::kSize || size_ - Id3v1Tag::kSize < notBefore) return;
  Bytes bytes;
  if (!source.ReadBytes(size_ - Id3v1Tag::kSize, Id3v1Tag::kSize, bytes)) return;
  id3v1_ = Id3v1Tag::Parse(bytes);
  if (id3v1_) {
    id3v1Offset_ = size_ - Id3v1Tag::kSize;
    id3v1Existed_ = true;
  }
}

void Id3File::ForgetId3v1() {
  id3v1_.reset();
  id3v1Existed_ = false;
}

Bytes Id3File::RenderId3v2(uint64_t room) const { return id3v2_->Render(room, size_); }

void Id3File::AddId3v1Edit(std::vector<Edit>& edits) const {
  if (!id3v1Changed_) return;
  const auto& bytes = id3v1_->bytes();
  edits.push_back(
      {id3v1Offset_, id3v1Existed_ ? Id3v1Tag::kSize : 0, Bytes(bytes.begin(), bytes.end())});
}

}  // namespace mp3infp
