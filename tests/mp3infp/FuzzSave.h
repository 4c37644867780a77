// What the fuzz targets of the tag formats share: values set into a parsed file, the save planned
// and carried out in memory, and the result parsed again with the values read back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mp3infp/AudioFile.h"

// Names the failed condition's line before stopping, for the crash report.
#define Check(condition) \
  ((condition) ? void() : (std::fprintf(stderr, "check failed, line %d\n", __LINE__), std::abort()))

namespace fuzzing {

using mp3infp::Bytes;
using Values = std::vector<std::pair<std::string, std::string>>;

// "表示テスト" in code page 932, written as bytes: the fuzz build's literals are UTF-8.
inline const std::string kJapanese = "\x95\x5C\x8E\xA6\x83\x65\x83\x58\x83\x67";

// The saved file, or nothing when a value found no place (`mustTake`: which may not happen) or
// the file is not to be written. A file that calls itself unwritable must get no plan; the plan
// may only keep bytes that the input has, and must come out at the size it announced.
inline std::optional<Bytes> SaveInMemory(mp3infp::AudioFile& file, const Bytes& input,
                                         const Values& values, bool mustTake,
                                         bool* inPlace = nullptr) {
  for (const auto& [name, value] : values) {
    const bool taken = file.Set(*mp3infp::ParseValueName(name), value, mp3infp::SystemCodec());
    Check(taken || !mustTake);
    if (!taken) return std::nullopt;
  }
  const auto plan = file.Plan();
  if (!file.writable()) Check(!plan);
  if (!plan) return std::nullopt;
  Bytes output;
  for (const auto& piece : plan->pieces) {
    if (piece.kept) {
      Check(piece.offset <= input.size() && piece.length <= input.size() - piece.offset);
      output.insert(output.end(), input.begin() + piece.offset,
                    input.begin() + piece.offset + piece.length);
    } else {
      output.insert(output.end(), piece.bytes.begin(), piece.bytes.end());
    }
  }
  Check(output.size() == plan->NewSize());
  if (inPlace) *inPlace = plan->InPlace();
  return output;
}

// Whether `got` is what reading back the value `set` under `name` should give.
using Expect = std::function<bool(mp3infp::ValueName name, const std::string& set,
                                  const std::optional<std::string>& got)>;

inline bool SameValue(mp3infp::ValueName, const std::string& set,
                      const std::optional<std::string>& got) {
  return got == set;
}

// `output` parsed again by the format's own `parse`: a writable file of the kind `before` was,
// giving back every value set.
template <class Parse>
auto Reread(const Bytes& output, const mp3infp::AudioFile& before, const Values& values,
            Parse parse, const Expect& expect = SameValue) {
  mp3infp::MemorySource source(output);
  auto reread = parse(source);
  Check(reread != nullptr);
  Check(reread->writable());
  Check(reread->kind() == before.kind());
  for (const auto& [name, value] : values) {
    const auto parsed = *mp3infp::ParseValueName(name);
    Check(expect(parsed, value, reread->Get(parsed, mp3infp::SystemCodec())));
  }
  return reread;
}

}  // namespace fuzzing
