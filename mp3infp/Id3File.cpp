#include "mp3infp/Id3File.h"

namespace mp3infp {
namespace {

// The ID3v2 frame of each field (2.3 names; the tag maps them for 2.2).
constexpr std::string_view kFrames[] = {"TPE1", "TALB", "TIT2", "TRCK", "TCON", "TYER", "COMM"};

std::string_view FrameOf(Field field) { return kFrames[static_cast<int>(field)]; }

}  // namespace

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

bool Id3File::SetId3v2(Field field, std::string_view value, const TextCodec& codec) {
  if (!AddId3v2()) return false;
  const std::u16string text = codec.ToUnicode(value);
  if (field == Field::kComment) {
    id3v2_->SetComment(text);
  } else if (field == Field::kYear) {
    id3v2_->SetRecordingDate(text);
  } else {
    id3v2_->SetText(FrameOf(field), text);
  }
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
  return std::nullopt;
}

std::optional<std::u16string> Id3File::Id3v2Text(Field field) const {
  if (!id3v2_) return std::nullopt;
  if (field == Field::kComment) return id3v2_->GetComment();
  if (field == Field::kYear) return id3v2_->GetRecordingDate();
  return id3v2_->GetText(FrameOf(field));
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

Bytes Id3File::RenderId3v2(uint64_t room) const {
  if (room) {
    Bytes fitted = id3v2_->Render(room);
    if (fitted.size() == room) return fitted;
  }
  return id3v2_->Render(0);
}

void Id3File::AddId3v1Edit(std::vector<Edit>& edits) const {
  if (!id3v1Changed_) return;
  const auto& bytes = id3v1_->bytes();
  edits.push_back(
      {id3v1Offset_, id3v1Existed_ ? Id3v1Tag::kSize : 0, Bytes(bytes.begin(), bytes.end())});
}

}  // namespace mp3infp
