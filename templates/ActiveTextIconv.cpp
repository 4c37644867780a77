#include <iconv.h>

#include "templates/ActiveText.h"

std::string ActiveText(std::u16string_view text) {
  std::string out(text.size() * 2, '\0');
  iconv_t convert = iconv_open("CP932", "UTF-16LE");
  if (convert == reinterpret_cast<iconv_t>(-1)) return {};
  char* in = const_cast<char*>(reinterpret_cast<const char*>(text.data()));
  size_t inLeft = text.size() * 2;
  char* outPtr = out.data();
  size_t outLeft = out.size();
  iconv(convert, &in, &inLeft, &outPtr, &outLeft);
  iconv_close(convert);
  out.resize(out.size() - outLeft);
  return out;
}
