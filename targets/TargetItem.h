#pragma once

#include <string>

// One file of the target list. The tag values live in the row's cells, not here.
struct TargetItem {
  // The source path exactly as it entered the list (it may be relative); never changed.
  std::string path;
  // The template last applied with success; empty when none.
  std::string rule;
};
