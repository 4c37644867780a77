#include "mp3infp/Id3v1Tag.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace mp3infp {
namespace {

// The genres of ID3v1 with the Winamp extensions (0 to 191).
constexpr std::string_view kGenres[] = {
    "Blues",
    "Classic Rock",
    "Country",
    "Dance",
    "Disco",
    "Funk",
    "Grunge",
    "Hip-Hop",
    "Jazz",
    "Metal",
    "New Age",
    "Oldies",
    "Other",
    "Pop",
    "R&B",
    "Rap",
    "Reggae",
    "Rock",
    "Techno",
    "Industrial",
    "Alternative",
    "Ska",
    "Death Metal",
    "Pranks",
    "Soundtrack",
    "Euro-Techno",
    "Ambient",
    "Trip-Hop",
    "Vocal",
    "Jazz+Funk",
    "Fusion",
    "Trance",
    "Classical",
    "Instrumental",
    "Acid",
    "House",
    "Game",
    "Sound Clip",
    "Gospel",
    "Noise",
    "AlternRock",
    "Bass",
    "Soul",
    "Punk",
    "Space",
    "Meditative",
    "Instrumental Pop",
    "Instrumental Rock",
    "Ethnic",
    "Gothic",
    "Darkwave",
    "Techno-Industrial",
    "Electronic",
    "Pop-Folk",
    "Eurodance",
    "Dream",
    "Southern Rock",
    "Comedy",
    "Cult",
    "Gangsta",
    "Top 40",
    "Christian Rap",
    "Pop/Funk",
    "Jungle",
    "Native American",
    "Cabaret",
    "New Wave",
    "Psychadelic",
    "Rave",
    "Showtunes",
    "Trailer",
    "Lo-Fi",
    "Tribal",
    "Acid Punk",
    "Acid Jazz",
    "Polka",
    "Retro",
    "Musical",
    "Rock & Roll",
    "Hard Rock",
    "Folk",
    "Folk-Rock",
    "National Folk",
    "Swing",
    "Fast Fusion",
    "Bebob",
    "Latin",
    "Revival",
    "Celtic",
    "Bluegrass",
    "Avantgarde",
    "Gothic Rock",
    "Progressive Rock",
    "Psychedelic Rock",
    "Symphonic Rock",
    "Slow Rock",
    "Big Band",
    "Chorus",
    "Easy Listening",
    "Acoustic",
    "Humour",
    "Speech",
    "Chanson",
    "Opera",
    "Chamber Music",
    "Sonata",
    "Symphony",
    "Booty Bass",
    "Primus",
    "Porn Groove",
    "Satire",
    "Slow Jam",
    "Club",
    "Tango",
    "Samba",
    "Folklore",
    "Ballad",
    "Power Ballad",
    "Rhythmic Soul",
    "Freestyle",
    "Duet",
    "Punk Rock",
    "Drum Solo",
    "A capella",
    "Euro-House",
    "Dance Hall",
    "Goa",
    "Drum & Bass",
    "Club-House",
    "Hardcore",
    "Terror",
    "Indie",
    "BritPop",
    "Negerpunk",
    "Polsk Punk",
    "Beat",
    "Christian Gangsta Rap",
    "Heavy Metal",
    "Black Metal",
    "Crossover",
    "Contemporary Christian",
    "Christian Rock",
    "Merengue",
    "Salsa",
    "Thrash Metal",
    "Anime",
    "JPop",
    "Synthpop",
    "Abstract",
    "Art Rock",
    "Baroque",
    "Bhangra",
    "Big Beat",
    "Breakbeat",
    "Chillout",
    "Downtempo",
    "Dub",
    "EBM",
    "Eclectic",
    "Electro",
    "Electroclash",
    "Emo",
    "Experimental",
    "Garage",
    "Global",
    "IDM",
    "Illbient",
    "Industro-Goth",
    "Jam Band",
    "Krautrock",
    "Leftfield",
    "Lounge",
    "Math Rock",
    "New Romantic",
    "Nu-Breakz",
    "Post-Punk",
    "Post-Rock",
    "Psytrance",
    "Shoegaze",
    "Space Rock",
    "Trop Rock",
    "World Music",
    "Neoclassical",
    "Audiobook",
    "Audio Theatre",
    "Neue Deutsche Welle",
    "Podcast",
    "Indie Rock",
    "G-Funk",
    "Dubstep",
    "Garage Rock",
    "Psybient",
};

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::optional<int> LeadingNumber(std::string_view text) {
  const size_t slash = text.find('/');
  if (slash != std::string_view::npos) text = text.substr(0, slash);
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Where the text fields lie: offset and length (the comment's shrinks by two with a track).
struct TextSlot {
  Field field;
  size_t offset, length;
};
constexpr TextSlot kTextSlots[] = {
    {Field::kTitle, 3, 30}, {Field::kArtist, 33, 30},  {Field::kAlbum, 63, 30},
    {Field::kYear, 93, 4},  {Field::kComment, 97, 30},
};

}  // namespace

std::optional<std::string_view> GenreName(uint8_t genre) {
  if (genre < std::size(kGenres)) return kGenres[genre];
  return std::nullopt;
}

Id3v1Tag::Id3v1Tag() {
  bytes_[0] = 'T', bytes_[1] = 'A', bytes_[2] = 'G';
  bytes_[127] = kUnknownGenre;
}

std::optional<Id3v1Tag> Id3v1Tag::Parse(std::span<const uint8_t> bytes) {
  if (bytes.size() != kSize || bytes[0] != 'T' || bytes[1] != 'A' || bytes[2] != 'G') {
    return std::nullopt;
  }
  Id3v1Tag tag;
  std::copy(bytes.begin(), bytes.end(), tag.bytes_.begin());
  return tag;
}

std::string Id3v1Tag::TextAt(size_t offset, size_t length) const {
  std::string text(reinterpret_cast<const char*>(&bytes_[offset]), length);
  text.resize(std::min(text.size(), text.find('\0')));
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

void Id3v1Tag::SetText(size_t offset, size_t length, std::string_view text,
                       const TextCodec& codec) {
  SetField(offset, length, Recode(text, codec, codec.Legacy()), codec.Legacy());
}

void Id3v1Tag::SetField(size_t offset, size_t length, std::string_view bytes,
                        const TextCodec& legacy) {
  const size_t kept = PrefixAtCharBoundary(bytes, length, legacy);
  std::fill_n(&bytes_[offset], length, 0);
  std::copy_n(bytes.begin(), kept, &bytes_[offset]);
}

void Id3v1Tag::SetComment(std::string_view text, const TextCodec& codec) {
  SetText(97, HasTrack() ? 28 : 30, text, codec);
}

void Id3v1Tag::SetTrack(std::string_view text, const TextCodec& codec) {
  const auto number = LeadingNumber(text);
  if (number && *number >= 1 && *number <= 255) {
    if (!HasTrack()) {
      // The comment gives up its last two bytes; cut it where a character ends.
      const std::string kept = comment();
      SetField(97, 28, kept, codec.Legacy());
    }
    bytes_[125] = 0;
    bytes_[126] = uint8_t(*number);
  } else if (HasTrack()) {
    bytes_[126] = 0;
  }
}

void Id3v1Tag::SetGenre(std::string_view text) {
  const auto number = LeadingNumber(text);
  if (number && *number >= 0 && *number < 256) {
    bytes_[127] = uint8_t(*number);
    return;
  }
  for (size_t i = 0; i < std::size(kGenres); ++i) {
    if (EqualNoCase(kGenres[i], text)) {
      bytes_[127] = uint8_t(i);
      return;
    }
  }
  bytes_[127] = kUnknownGenre;
}

std::string Id3v1Tag::Get(mp3infp::Field field) const {
  if (field == Field::kTrack) return track() ? std::to_string(track()) : std::string();
  if (field == Field::kGenre) return std::string(GenreName(genre()).value_or(""));
  if (field == Field::kComment) return comment();
  for (const auto& slot : kTextSlots) {
    if (slot.field == field) return TextAt(slot.offset, slot.length);
  }
  return {};
}

void Id3v1Tag::Set(mp3infp::Field field, std::string_view text, const TextCodec& codec) {
  if (field == Field::kTrack) return SetTrack(text, codec);
  if (field == Field::kGenre) return SetGenre(text);
  if (field == Field::kComment) return SetComment(text, codec);
  for (const auto& slot : kTextSlots) {
    if (slot.field == field) return SetText(slot.offset, slot.length, text, codec);
  }
}

}  // namespace mp3infp
