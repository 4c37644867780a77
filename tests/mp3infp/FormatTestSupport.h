// Saving into bytes in memory: parse, set values, plan, carry out the plan.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mp3infp/AudioFile.h"
#include "mp3infp/Id3File.h"
#include "tests/mp3infp/SampleFiles.h"

namespace samples {

// Null for bytes of no format we know.
inline std::unique_ptr<mp3infp::AudioFile> ParseBytes(const Bytes& bytes,
                                                      std::string_view extension = ".mp3") {
  mp3infp::MemorySource source(bytes);
  return mp3infp::ParseAudioFile(source, extension);
}

// An MPEG or RIFF file, with its ID3 side; null for anything else.
inline std::unique_ptr<mp3infp::Id3File> ParseId3(const Bytes& bytes,
                                                  std::string_view extension = ".mp3") {
  auto file = ParseBytes(bytes, extension);
  if (!dynamic_cast<mp3infp::Id3File*>(file.get())) return nullptr;
  return std::unique_ptr<mp3infp::Id3File>(static_cast<mp3infp::Id3File*>(file.release()));
}

inline mp3infp::FileKind KindOf(const Bytes& bytes, std::string_view extension = ".mp3") {
  const auto file = ParseBytes(bytes, extension);
  return file ? file->kind() : mp3infp::FileKind::kUnknown;
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
  const auto file = ParseBytes(old, extension);
  if (!file) return {};
  for (const auto& [name, value] : values) {
    const auto parsed = mp3infp::ParseValueName(name);
    if (!parsed || !file->Set(*parsed, value, mp3infp::SystemCodec())) return {};
  }
  const auto plan = file->Plan();
  if (!plan) return {};
  if (inPlace) *inPlace = plan->InPlace();
  return Apply(old, *plan);
}

inline std::string Get(const Bytes& bytes, const char* name, std::string_view extension = ".mp3") {
  const auto parsed = mp3infp::ParseValueName(name);
  const auto file = ParseBytes(bytes, extension);
  if (!file) return "<unknown format>";
  return file->Get(*parsed, mp3infp::SystemCodec()).value_or("<none>");
}

}  // namespace samples
