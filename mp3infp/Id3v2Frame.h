// ID3v2 frames (versions 2.2, 2.3 and 2.4). Every frame keeps the bytes it was read from, its
// flags included, and renders them unchanged unless a value was set into it; only then is it
// encoded anew.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "mp3infp/ByteSource.h"

namespace mp3infp {

class Frame {
 public:
  // `payload` is the frame's content as stored (after removing a whole-tag unsynchronisation of
  // 2.2/2.3, which the renderer does not use); `flags` are the two flag bytes of 2.3/2.4.
  Frame(std::string id, uint16_t flags, Bytes payload)
      : id_(std::move(id)), flags_(flags), payload_(std::move(payload)) {}
  virtual ~Frame() = default;

  const std::string& id() const { return id_; }
  uint16_t flags() const { return flags_; }
  const Bytes& payload() const { return payload_; }
  void SetFlags(uint16_t flags) { flags_ = flags; }

  // The frame's content with the 2.4 per-frame transformations undone (unsynchronisation, data
  // length indicator); nothing when it is compressed or encrypted, which we do not decode.
  std::optional<Bytes> Content(int version) const;

  // Header and payload in the layout of `version` (2, 3 or 4).
  Bytes Render(int version) const;

 protected:
  void Replace(Bytes payload) {
    payload_ = std::move(payload);
    flags_ = 0;
  }

 private:
  std::string id_;
  uint16_t flags_;
  Bytes payload_;
};

// T??? frames other than TXXX: one encoded text.
class TextFrame : public Frame {
 public:
  using Frame::Frame;
  std::optional<std::u16string> Text(int version) const;
  void SetText(std::u16string_view text, int version);
};

// COMM (COM in 2.2): language, short description and text.
class CommentFrame : public Frame {
 public:
  using Frame::Frame;
  struct Parts {
    std::string language;
    std::u16string description;
    std::u16string text;
  };
  std::optional<Parts> Decode(int version) const;
  void Set(std::string_view language, std::u16string_view text, int version);
};

// Makes the frame class that fits the identifier.
std::unique_ptr<Frame> MakeFrame(std::string id, uint16_t flags, Bytes payload);

// Encodes `text` as a text payload: in 2.2/2.3 ISO-8859-1 when it is plain ASCII, otherwise
// UTF-16 with a byte order mark; in 2.4 UTF-8.
Bytes EncodeText(std::u16string_view text, int version, bool terminate, uint8_t* encoding);
// Decodes one string of `encoding` from `data`, up to its terminator; `consumed` gets the bytes
// used including the terminator.
std::u16string DecodeText(uint8_t encoding, std::span<const uint8_t> data, size_t* consumed);

Bytes RemoveUnsynchronisation(std::span<const uint8_t> data);

}  // namespace mp3infp
