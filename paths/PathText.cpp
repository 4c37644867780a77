#include "paths/PathText.h"

bool IsLeadByte(unsigned char byte) { return AnsiLeadBytes()[byte]; }

namespace {

// Calls `visit(offset, byte)` for the first byte of every character.
template <class Visit>
void ForEachCharacter(std::string_view text, Visit visit) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    visit(i, byte);
    // A lead byte at the very end stands alone.
    i += (IsLeadByte(byte) && i + 1 < text.size() && text[i + 1] != 0) ? 2 : 1;
  }
}

bool IsSeparator(unsigned char byte) { return byte == '\\' || byte == '/'; }

// The UTF-16 units of UTF-8 text. A sequence that breaks off counts as one stand-in for the part
// read so far (the largest part that could have begun a character), as the system converts it.
size_t Utf8Units(std::string_view text) {
  size_t units = 0;
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i++]);
    int following = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the byte after the lead byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      following = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      following = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      following = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    }
    int read = 0;
    while (read < following && i < text.size()) {
      const unsigned char next = static_cast<unsigned char>(text[i]);
      if (next < low || next > high) break;
      low = 0x80, high = 0xBF;
      ++i, ++read;
    }
    // Four bytes make a character outside the basic plane: a surrogate pair.
    units += read == 3 ? 2 : 1;
  }
  return units;
}

}  // namespace

size_t EndOfLastSeparator(std::string_view path, bool withDriveColon) {
  size_t end = 0;
  ForEachCharacter(path, [&](size_t offset, unsigned char byte) {
    if (IsSeparator(byte) || (withDriveColon && byte == ':')) end = offset + 1;
  });
  return end;
}

std::string LastComponent(const std::string& path) {
  return path.substr(EndOfLastSeparator(path, true));
}

std::string CutAtLastSeparator(const std::string& path) {
  const size_t end = EndOfLastSeparator(path, false);
  return end == 0 ? path : path.substr(0, end - 1);
}

std::string FolderOfPath(const std::string& path) {
  return path.substr(0, EndOfLastSeparator(path, false));
}

bool EndsWithSeparator(const std::string& path) {
  bool last = false;
  ForEachCharacter(path, [&](size_t, unsigned char byte) { last = IsSeparator(byte); });
  return last;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || EndsWithSeparator(folder)) return folder + name;
  return folder + "\\" + name;
}

std::string ExtensionOf(std::string_view path) {
  size_t dot = std::string_view::npos;
  ForEachCharacter(path, [&](size_t offset, unsigned char byte) {
    if (IsSeparator(byte)) dot = std::string_view::npos;
    if (byte == '.') dot = offset;
  });
  return dot == std::string_view::npos ? std::string() : std::string(path.substr(dot));
}

size_t Utf16Length(std::string_view text, const LeadBytes& leadBytes, bool utf8) {
  if (utf8) return Utf8Units(text);
  // Every character of a double-byte code page has its UTF-16 form in the basic plane.
  size_t units = 0;
  const std::vector<bool> starts = leadBytes.CharacterStarts(std::string(text));
  for (size_t i = 0; i < text.size(); ++i) units += starts[i];
  return units;
}

size_t PathLength(std::string_view text) {
  return Utf16Length(text, AnsiLeadBytes(), AnsiIsUtf8());
}
