// Saving into bytes in memory: parse, set values, plan, carry out the plan.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "mp3infp/TagFile.h"
#include "tests/mp3infp/SampleFiles.h"

namespace samples {

inline mp3infp::TagFile ParseBytes(const Bytes& bytes, std::string_view extension = ".mp3") {
  mp3infp::MemorySource source(bytes);
  return mp3infp::TagFile::Parse(source, extension);
}

inline Bytes Apply(const Bytes& old, const mp3infp::SavePlan& plan) {
  Bytes out;
  for (const auto& piece : plan.pieces) {
    if (piece.kept) {
      out.insert(out.end(), old.begin() + piece.offset, old.begin() + piece.offset + piece.length);
    } else {
      Append(out, piece.bytes);
    }
  }
  return out;
}

using Values = std::vector<std::pair<std::string, std::string>>;

// The file after setting `values` and saving; `inPlace` tells how it would be written. Empty when
// the library would refuse to write.
inline Bytes SaveBytes(const Bytes& old, const Values& values, bool* inPlace = nullptr,
                       std::string_view extension = ".mp3") {
  mp3infp::TagFile file = ParseBytes(old, extension);
  for (const auto& [name, value] : values) {
    const auto parsed = mp3infp::ParseValueName(name);
    if (!parsed || !file.Set(*parsed, value, mp3infp::SystemCodec())) return {};
  }
  const auto plan = file.Plan();
  if (!plan) return {};
  if (inPlace) *inPlace = plan->InPlace();
  return Apply(old, *plan);
}

inline std::string Get(const Bytes& bytes, const char* name, std::string_view extension = ".mp3") {
  const auto parsed = mp3infp::ParseValueName(name);
  return ParseBytes(bytes, extension).Get(*parsed, mp3infp::SystemCodec()).value_or("<none>");
}

}  // namespace samples
