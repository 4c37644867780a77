#include "mp3infp/Mp4Box.h"

#include <algorithm>
#include <cstring>

namespace mp3infp::mp4 {
namespace {

// Boxes are opened only along known paths, so the nesting stays shallow whatever the input.
constexpr int kMaxDepth = 8;

bool IsContainer(const FourCc& type) {
  for (const char* name : {"moov", "trak", "mdia", "minf", "stbl", "udta", "meta", "ilst"}) {
    if (std::memcmp(type.data(), name, 4) == 0) return true;
  }
  return false;
}

void AppendBigEndian64(Bytes& out, uint64_t v) {
  AppendBigEndian32(out, uint32_t(v >> 32));
  AppendBigEndian32(out, uint32_t(v));
}

}  // namespace

std::optional<Header> ReadHeader(const uint8_t* p, uint64_t available) {
  if (available < 8) return std::nullopt;
  uint64_t size = ReadBigEndian32(p);
  uint32_t headerSize = 8;
  if (size == 1) {
    if (available < 16) return std::nullopt;
    size = ReadBigEndian64(p + 8);
    headerSize = 16;
  } else if (size == 0) {
    size = available;
  }
  if (size < headerSize || size > available) return std::nullopt;
  return Header{size, headerSize};
}

void AppendHeader(Bytes& out, const FourCc& type, uint64_t payload, bool large) {
  if (!large && payload + 8 <= UINT32_MAX) {
    AppendBigEndian32(out, uint32_t(payload + 8));
    out.insert(out.end(), type.begin(), type.end());
  } else {
    AppendBigEndian32(out, 1);
    out.insert(out.end(), type.begin(), type.end());
    AppendBigEndian64(out, payload + 16);
  }
}

Bytes MakeBox(const FourCc& type, const Bytes& payload) {
  Bytes out;
  AppendHeader(out, type, payload.size());
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

Bytes FreeHeader(uint64_t size) {
  Bytes out;
  if (size <= UINT32_MAX) {
    AppendHeader(out, Cc("free"), size - 8);
  } else {
    AppendHeader(out, Cc("free"), size - 16, true);
  }
  return out;
}

Bytes FreeBox(uint64_t size) {
  Bytes out = FreeHeader(size);
  out.resize(size, 0);
  return out;
}

const Box* Child(const Box& parent, const FourCc& type) {
  for (const Box& child : parent.children) {
    if (!child.made && child.type == type) return &child;
  }
  return nullptr;
}

Box* Child(Box& parent, const FourCc& type) {
  return const_cast<Box*>(Child(std::as_const(parent), type));
}

std::pair<size_t, size_t> WithFreeAround(const std::vector<Box>& children, size_t at) {
  const auto free = [&](size_t i) { return !children[i].made && IsFree(children[i].type); };
  size_t first = at, last = at + 1;
  while (first > 0 && free(first - 1)) --first;
  while (last < children.size() && free(last)) ++last;
  return {first, last};
}

bool Moov::Read(Bytes bytes, uint32_t headerSize) {
  bytes_ = std::move(bytes);
  root_ = Box{};
  root_.type = Cc("moov");
  root_.size = bytes_.size();
  root_.headerSize = headerSize;
  root_.container = true;
  return ReadChildren(root_, headerSize, bytes_.size(), 0);
}

bool Moov::ReadChildren(Box& parent, uint64_t begin, uint64_t end, int depth) {
  bool sound = true;
  for (uint64_t offset = begin; offset < end;) {
    const uint8_t* p = bytes_.data() + offset;
    if (end - offset < 8) {
      Box tail;
      tail.made = Bytes(p, p + (end - offset));
      tail.tail = true;
      parent.children.push_back(std::move(tail));
      return sound;
    }
    const auto header = ReadHeader(p, end - offset);
    // A size of 0 inside a box is not allowed; a wrong size leaves the rest unplaceable.
    if (!header || ReadBigEndian32(p) == 0) return false;
    Box box;
    box.type = TypeAt(p + 4);
    box.offset = offset;
    box.size = header->size;
    box.headerSize = header->headerSize;
    const uint64_t payload = offset + header->headerSize;
    const uint64_t boxEnd = offset + header->size;
    if (parent.type == Cc("ilst")) {
      // An item: its data boxes are read when asked for.
    } else if (IsContainer(box.type) && depth < kMaxDepth) {
      box.container = true;
      uint64_t childrenBegin = payload;
      // meta is a full box in ISO files and a plain one in some QuickTime files.
      if (box.type == Cc("meta") &&
          !(boxEnd - payload >= 8 && TypeAt(bytes_.data() + payload + 4) == Cc("hdlr"))) {
        if (boxEnd - payload < 4) return false;
        childrenBegin += 4;
      }
      box.prefix.assign(bytes_.begin() + payload, bytes_.begin() + childrenBegin);
      sound = ReadChildren(box, childrenBegin, boxEnd, depth + 1) && sound;
    } else if (box.type == Cc("stco") || box.type == Cc("co64")) {
      const uint64_t entrySize = box.type == Cc("stco") ? 4 : 8;
      if (boxEnd - payload < 8 ||
          ReadBigEndian32(bytes_.data() + payload + 4) > (boxEnd - payload - 8) / entrySize) {
        sound = false;  // offsets we cannot all see cannot all be moved
      }
    }
    parent.children.push_back(std::move(box));
    offset = boxEnd;
  }
  return sound;
}

bool Moov::Render(const Box& box, int64_t shift, uint64_t shiftFrom, Bytes& out) const {
  if (box.made) {
    out.insert(out.end(), box.made->begin(), box.made->end());
    return true;
  }
  if (box.container) {
    const size_t start = out.size();
    out.resize(start + box.headerSize);
    out.insert(out.end(), box.prefix.begin(), box.prefix.end());
    for (const Box& child : box.children) {
      if (!Render(child, shift, shiftFrom, out)) return false;
    }
    Bytes header;
    const uint64_t payload = out.size() - start - box.headerSize;
    AppendHeader(header, box.type, payload, box.headerSize == 16);
    if (header.size() != box.headerSize) out.insert(out.begin() + start, 8, 0);  // grew past 4 GiB
    std::copy(header.begin(), header.end(), out.begin() + start);
    return true;
  }
  const size_t start = out.size();
  out.insert(out.end(), Begin(box), End(box));
  const bool stco = box.type == Cc("stco");
  if (shift == 0 || (!stco && box.type != Cc("co64"))) return true;
  uint8_t* p = out.data() + start + box.headerSize;
  const uint32_t count = ReadBigEndian32(p + 4);
  p += 8;
  for (uint32_t i = 0; i < count; ++i) {
    Bytes bytes;
    if (stco) {
      const uint64_t offset = ReadBigEndian32(p + 4 * i);
      if (offset < shiftFrom) continue;
      const int64_t moved = int64_t(offset) + shift;
      if (moved < 0 || moved > int64_t(UINT32_MAX)) return false;
      AppendBigEndian32(bytes, uint32_t(moved));
      std::copy(bytes.begin(), bytes.end(), p + 4 * i);
    } else {
      const uint64_t offset = ReadBigEndian64(p + 8 * i);
      if (offset < shiftFrom) continue;
      AppendBigEndian64(bytes, offset + uint64_t(shift));
      std::copy(bytes.begin(), bytes.end(), p + 8 * i);
    }
  }
  return true;
}

}  // namespace mp3infp::mp4
