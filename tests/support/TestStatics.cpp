// The program's statics for test programs, which do not start the program (and so do not load
// the tag library at start).
#include "app/Program.h"

std::vector<std::string> CommandLinePaths;
