// Helper of LoadRulesTest: loads the rules beside itself, as the program does, and writes them to
// the file named by its argument, one rule per line in hexadecimal.
#include <cstdio>
#include <string>
#include <vector>

#include "rules/RulesFile.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::vector<std::string> rules;
  LoadRules(rules);
  FILE* out = std::fopen(argv[1], "wb");
  if (!out) return 3;
  for (const std::string& rule : rules) {
    for (const unsigned char byte : rule) std::fprintf(out, "%02X", byte);
    std::fputc('\n', out);
  }
  std::fclose(out);
  return 0;
}
