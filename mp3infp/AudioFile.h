// What every audio file class offers the library: recognition by content, the seven fields in
// the code page, and a plan to write the file back. Window-free.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "mp3infp/ByteSource.h"
#include "mp3infp/TagFile.h"
#include "mp3infp/TextCodec.h"

namespace mp3infp {

// What the property view shows of the stream; 0 / empty where unknown.
struct StreamInfo {
  std::string format;
  uint32_t sampleRate = 0;  // Hz
  uint32_t channels = 0;
  double seconds = 0;
  uint32_t bitRate = 0;  // bits per second, nominal or average
};

class AudioFile {
 public:
  virtual ~AudioFile() = default;
  virtual FileKind kind() const = 0;
  // Everything we would rewrite was understood to its end; otherwise Plan() gives nothing.
  virtual bool writable() const = 0;
  virtual uint32_t TagFlags() const { return 0; }
  virtual bool Set(ValueName name, std::string_view value, const TextCodec& codec) = 0;
  virtual std::optional<std::string> Get(ValueName name, const TextCodec& codec) const = 0;
  virtual std::optional<SavePlan> Plan() const = 0;
  virtual StreamInfo Stream() const = 0;
};

std::unique_ptr<AudioFile> ParseAudioFile(ByteSource& source, std::string_view extension);

}  // namespace mp3infp
