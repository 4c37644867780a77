// The eight codes of the template language, in the fixed order that decides the list column of
// each value (column = row + 1) and the order in which saving walks the tag fields.
#pragma once

struct CodeRow {
  char code;                   // the letter after the dollar sign
  const char* fieldKey;        // the tag library's value name; null for $I, which yields nothing
  const char* defaultCapture;  // a replacement-format text: it loses one level of backslashes
  const char* findPattern;     // finds the code and its optional argument in escaped template text
};

constexpr int kCodeCount = 8;

// Rows in the order A B T K G Y C I.
extern const CodeRow CodeTable[kCodeCount];
