#include "targets/PathText.h"

#ifdef _WIN32
#include <windows.h>
#endif

bool IsLeadByte(unsigned char byte) {
#ifdef _WIN32
  return IsDBCSLeadByte(byte) != FALSE;
#else
  // Code page 932, the one the program is written for.
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
#endif
}

namespace {

// Calls `visit(offset, byte)` for the first byte of every character.
template <class Visit>
void ForEachCharacter(const std::string& text, Visit visit) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    visit(i, byte);
    // A lead byte at the very end stands alone.
    i += (IsLeadByte(byte) && i + 1 < text.size() && text[i + 1] != 0) ? 2 : 1;
  }
}

}  // namespace

size_t EndOfLastSeparator(const std::string& path, bool withDriveColon) {
  size_t end = 0;
  ForEachCharacter(path, [&](size_t offset, unsigned char byte) {
    if (byte == '\\' || byte == '/' || (withDriveColon && byte == ':')) end = offset + 1;
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

bool EndsWithSeparator(const std::string& path) {
  bool last = false;
  ForEachCharacter(path, [&](size_t, unsigned char byte) { last = byte == '\\' || byte == '/'; });
  return last;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || EndsWithSeparator(folder)) return folder + name;
  return folder + "\\" + name;
}
