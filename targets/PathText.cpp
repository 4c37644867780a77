#include "targets/PathText.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

LeadBytes ReadAnsiLeadBytes() {
#ifdef _WIN32
  CPINFO info = {};
  if (!GetCPInfo(CP_ACP, &info)) return LeadBytes();
  std::vector<std::pair<unsigned char, unsigned char>> ranges;
  for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2)
    ranges.emplace_back(info.LeadByte[i], info.LeadByte[i + 1]);
  return LeadBytes(ranges);
#else
  return LeadBytes::CodePage932();
#endif
}

}  // namespace

const LeadBytes& AnsiLeadBytes() {
  static const LeadBytes leadBytes = ReadAnsiLeadBytes();
  return leadBytes;
}

bool IsLeadByte(unsigned char byte) { return AnsiLeadBytes()[byte]; }

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
