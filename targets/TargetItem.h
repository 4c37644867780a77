#pragma once

#include <string>

#include "targets/RowValues.h"
#include "templates/RuleReport.h"

// One file of the target list.
struct TargetItem {
  // The source path exactly as it entered the list (it may be relative); never changed.
  std::string path;
  // The template last applied with success; empty when none.
  std::string rule;
  // Where the values in the row's cells came from: the source of `rule`, or kNone while no rule
  // has filled the row or a rule that did not fit has emptied it since.
  RuleSource source;
  // A rule typed for the row (in the rule box or the dialog) that did not fit and emptied its
  // cells, and where it was typed; empty once a rule fits again.
  std::string missedRule;
  RuleSource missedSource;
  // The row's pending values (a copy of its tag cells, which TargetListView::SetCellText keeps)
  // and the file's own, read in the background by the list's CurrentTagReader.
  RowValues values;
};
