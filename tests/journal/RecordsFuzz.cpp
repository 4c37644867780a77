// Any bytes as a journal file: reading stops at damage without reading past the data, and every
// record it gives is written back to the same bytes.
#include <cstdlib>
#include <cstring>

#include "journal/Records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<journal::Record> records;
  if (!journal::Decode(data, size, records)) return 0;
  size_t at = 4;
  for (const auto& record : records) {
    const auto bytes = journal::Encode(record);
    if (bytes.size() > size - at || std::memcmp(bytes.data(), data + at, bytes.size()) != 0)
      std::abort();
    at += bytes.size();
  }
  return 0;
}
