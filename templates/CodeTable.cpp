#include "templates/CodeTable.h"

namespace {
// The default capture texts are read as replacement formats, so every backslash is doubled here:
// "[^\\\\]+" yields the pattern [^\\]+ (anything but a folder separator).
constexpr const char* kNoSeparators = R"([^\\\\]+)";
constexpr const char* kDigits = R"(\\d+)";
constexpr const char* kMaybeNoSeparators = R"([^\\\\]*)";
}  // namespace

// Group 1 of a find pattern is the argument with its escaped parentheses. The run inside is
// greedy, so an argument ends at the last escaped closing parenthesis of the text.
const CodeRow CodeTable[kCodeCount] = {
    {'A', "IART", kNoSeparators, R"re(\$A(\\\((?:[^\/\\]|\\.)*\\\))?)re"},
    {'B', "IPRD", kNoSeparators, R"re(\$B(\\\((?:[^\/\\]|\\.)*\\\))?)re"},
    {'T', "INAM", kNoSeparators, R"re(\$T(\\\((?:[^\/\\]|\\.)*\\\))?)re"},
    {'K', "TRACK", kDigits, R"re(\$K(\\\((?:[^\/\\]|\\.)*\\\))?)re"},
    {'G', "IGNR", kNoSeparators, R"re(\$G(\\\((?:[^\/\\]|\\.)*\\\))?)re"},
    {'Y', "ICRD", kDigits, R"re(\$Y(\\\((?:[^\/\\]|\\.)*\\\))?)re"},
    {'C', "ICMT", kNoSeparators, R"re(\$C(\\\((?:[^\/\\]|\\.)*\\\))?)re"},
    {'I', nullptr, kMaybeNoSeparators, R"re(\$I(\\\((?:[^\/\\]|\\.)*\\\))?)re"},
};
