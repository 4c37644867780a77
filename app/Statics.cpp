// The program's statics whose construction order matters, in one translation unit so that the
// order is the order written here: the command-line paths first, then the tag library, whose
// failure ends the process before anything else happens.
#include "app/Program.h"
#include "tags/TagLibrary.h"

std::vector<std::string> CommandLinePaths;

namespace {
const bool tagLibraryLoaded = LoadTagLibrary();
}  // namespace
