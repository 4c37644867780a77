// Splitting the program's command line into paths. Window-free, so it builds natively too.
#pragma once

#include <string>
#include <vector>

// Appends to `paths` every path of `commandLine` (the text after the program's own name), in
// order. Paths are separated by white space; a path in double quotes may contain blanks. No path
// is tested for existence here.
void TokeniseCommandLine(const std::string& commandLine, std::vector<std::string>& paths);
