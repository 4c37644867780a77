// The native build stands in for a Japanese system: code page 932, as the tests' texts are.
#include "paths/PathText.h"

const LeadBytes& AnsiLeadBytes() {
  static const LeadBytes leadBytes = LeadBytes::CodePage932();
  return leadBytes;
}

bool AnsiIsUtf8() { return false; }
