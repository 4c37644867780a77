// The target list's context menu and the commands it carries.
#include <windowsx.h>

#include <new>

#include "window/Controls.h"
#include "window/ShellModule.h"
#include "resources/Texts.h"
#include "resources/resource.h"
#include "rules/RuleInputDialog.h"
#include "tags/SaveBatch.h"
#include "tags/SaveEntry.h"
#include "tags/SaveJournal.h"
#include "tags/TagLibrary.h"
#include "targets/TargetListView.h"
#include "paths/PathText.h"
#include "templates/CodeTable.h"
#include "templates/RuleReport.h"

bool TargetListView::OnContextMenu(WPARAM, LPARAM lParam, LRESULT* result) {
  *result = 0;
  const int first = GetNextSelected(hwnd(), -1);
  if (first == -1) return true;

  // Signed 16-bit coordinates: a monitor left of or above the primary one gives negative ones.
  POINT at = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  if (at.x == -1 && at.y == -1) {
    // From the keyboard (Shift+F10, the menu key): the centre of the list.
    RECT rect;
    GetWindowRect(hwnd(), &rect);
    at.x = (rect.left + rect.right) / 2;
    at.y = (rect.top + rect.bottom) / 2;
  }

  HMENU menu = LoadMenuA(theModule.instance(), MAKEINTRESOURCEA(IDR_TARGET_MENU));
  if (!menu) return true;
  const bool single = GetNextSelected(hwnd(), first) == -1;
  HMENU popup = GetSubMenu(menu, single ? 1 : 0);
  EnableMenuItem(popup, ID_EDIT_UNDO,
                 MF_BYCOMMAND | (TheSaveJournal().CanUndo() ? MF_ENABLED : MF_GRAYED));
  SetForegroundWindow(GetParent(hwnd()));
  TrackPopupMenu(popup, 0, at.x, at.y, 0, hwnd(), nullptr);
  PostMessageA(hwnd(), WM_NULL, 0, 0);
  DestroyMenu(menu);
  return true;
}

bool TargetListView::OnApplyRule(UINT, UINT, HWND) {
  ApplyRuleCommand();
  return true;
}

bool TargetListView::OnRemove(UINT, UINT, HWND) {
  RemoveSelected();
  return true;
}

bool TargetListView::OnUpdateTags(UINT, UINT, HWND) {
  UpdateTags();
  return true;
}

bool TargetListView::OnUndo(UINT, UINT, HWND) {
  UndoLastSave();
  return true;
}

bool TargetListView::OnProperties(UINT, UINT, HWND) {
  ShowProperties();
  return true;
}

void TargetListView::ApplyRuleCommand() {
  RuleInputDialog dialog(texts::kRulePrompt, CommonRule(GetNextSelected(hwnd(), -1), -1));
  // The selection stays while the dialog is up: its paths are read once, not at every count.
  const std::vector<std::string> paths = SelectedPaths();
  dialog.fitCount = [&paths](const std::string& rule) {
    const FitCount count = CountFits(paths, rule, AnsiLeadBytes());
    return FitCountText(count.fits, static_cast<int>(paths.size()), count.error);
  };
  if (dialog.DoModal(GetActiveWindow()) == IDOK && !dialog.ruleText().empty())
    ApplyRuleToSelection(dialog.ruleText(), RuleSource::kDialog);
}

void TargetListView::RemoveSelected() {
  // The field names its row by index: kept now, before the rows below it move up.
  editor_.Close(true);
  const std::vector<int> rows = SelectedRows();
  // From the highest index down, so that the indices still to go keep their meaning.
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) DeleteItem(hwnd(), *row);
}

void TargetListView::UpdateTags() { SaveRows(SelectedRows(), SaveKind::kUpdateTags, nullptr); }

void TargetListView::SaveRows(const std::vector<int>& rows, SaveKind kind, const char* folder) {
  // No file is read in the background while one is written. What is passed by is never decided
  // on an old reading: a row saved in place whose values are not known yet is judged on the
  // save's own reading of its file, which costs no second parse.
  editor_.Close(true);
  CurrentTagReader::Pause pause(reader_.get());
  SaveBatch batch(hwnd(), kind, static_cast<int>(rows.size()), folder, progress);
  // What the journal will keep is judged on every row asked for: a row found unchanged below
  // only makes the estimate safer.
  std::vector<std::string> sources;
  for (int row : rows) {
    if (const TargetItem* item = ItemOfRow(row)) sources.push_back(item->path);
  }
  if (batch.Begin(sources)) {
    const bool judgedBySave = reader_ && CurrentTagReader::Available() && !folder;
    std::vector<EntryToSave> entries;
    std::vector<TargetItem*> items;
    for (int row : rows) {
      TargetItem* item = ItemOfRow(row);
      EntryToSave entry;
      if (!item || !EntryOfRow(row, &entry)) continue;
      RowValues& values = item->values;
      if (reader_ && !judgedBySave) reader_->ReadNow(item);
      entry.passUnchanged = judgedBySave && values.state == RowValues::Current::kUnknown;
      // A copy into a folder is wanted whatever its tags; a file that cannot be tagged is not. A
      // file whose values could not be read is saved as it always was, and says why it fails.
      const bool unchanged = values.state == RowValues::Current::kRead && !values.HasChange();
      if (values.state == RowValues::Current::kNotTaggable || (!folder && unchanged)) {
        batch.PassBy();
        continue;
      }
      entries.push_back(std::move(entry));
      items.push_back(item);
    }
    batch.SaveEach(entries, [&](size_t index, const SaveOutcome& outcome) {
      if (!folder) TakeSavedValues(items[index], outcome);
    });
  }
  batch.Finish();
  InvalidateRect(hwnd(), nullptr, FALSE);
}

void TargetListView::TakeSavedValues(TargetItem* item, const SaveOutcome& outcome) {
  RowValues& values = item->values;
  TagValues own = values.current;
  if (outcome.found) {
    for (int field = 0; field < kTagFieldCount; ++field) own[field] = outcome.current[field];
  }
  const bool known = outcome.found || values.state == RowValues::Current::kRead;
  if (outcome.notTaggable) {
    values.TakeReading(values.generation, RowValues::Current::kNotTaggable, {});
  } else if (outcome.unchanged) {
    values.TakeReading(values.generation, RowValues::Current::kRead, own);
  } else if (outcome.saved && known) {
    // The file now holds what was pending where there was a value, and its own elsewhere. The
    // reader reads it again behind, in case the file keeps a value otherwise than it was given
    // (an ID3v1 tag cuts a long one).
    for (int field = 0; field < kTagFieldCount; ++field) {
      if (!values.pending[field].empty()) own[field] = values.pending[field];
    }
    values.TakeReading(values.generation, RowValues::Current::kRead, own);
    if (reader_) reader_->Add(item);
  } else if (outcome.saved || outcome.found) {
    values.Forget();
    if (reader_) reader_->Add(item);
  }
}

std::wstring TargetListView::SelectionStatus(const std::string& ready) const {
  const int row = GetNextSelected(hwnd(), -1);
  if (row == -1 || GetNextSelected(hwnd(), row) != -1) return WideFromActive(ready);
  const TargetItem* item = ItemOfRow(row);
  std::wstring text;
  if (item && item->values.state == RowValues::Current::kRead) {
    for (const RowValues::Change& change : item->values.Changes()) {
      if (!text.empty()) text += texts::kChangeSeparator;
      text += std::wstring(texts::kColumnTitles[change.field + 1]) + L": " +
              (change.from.empty() ? texts::kNoValue : WideFromActive(change.from)) +
              texts::kChangeArrow + WideFromActive(change.to);
    }
    // The rule's words follow the changes: both stay in reach.
    if (!text.empty()) text += texts::kChangesEnd;
  }
  return text + WideFromActive(RowStatus(row));
}

bool TargetListView::EntryOfRow(int row, EntryToSave* entry) const {
  const TargetItem* item = ItemOfRow(row);
  if (!item) return false;
  entry->path = item->path;
  entry->fileName = CellText(row, 0);
  for (int code = 0; code < kCodeCount; ++code) {
    if (CodeTable[code].fieldKey) entry->values[code] = CellText(row, code + 1);
  }
  return true;
}

bool TargetListView::SaveRow(int row, const char* folder) {
  EntryToSave entry;
  return EntryOfRow(row, &entry) && SaveEntry(entry, folder, hwnd());
}

void TargetListView::ShowProperties() {
  const TargetItem* item = ItemOfRow(GetNextSelected(hwnd(), -1));
  if (item) theTagLibrary.ViewPropEx(hwnd(), item->path.c_str());
}

namespace {

// One box naming the files undo or keep left alone, with where their originals now lie.
void ReportLeftAlone(const journal::Journal::Outcome& outcome) {
  if (outcome.failed.empty()) return;
  wchar_t text[256];
  const int count = static_cast<int>(outcome.failed.size());
  constexpr int kListed = 20;
  wsprintfW(text, texts::kUndoFailed, count);
  std::wstring box = text;
  for (int i = 0; i < count && i < kListed; ++i) {
    box += L"\n" + outcome.failed[i];
    for (const auto& [file, aside] : outcome.keptAside) {
      if (file == outcome.failed[i]) box += L"\n" + std::wstring(texts::kKeptAside) + aside;
    }
  }
  if (count > kListed) {
    wsprintfW(text, texts::kMoreNames, count - kListed);
    box += L"\n";
    box += text;
  }
  MessageBoxW(nullptr, box.c_str(), texts::kUndoCaption, MB_OK | MB_ICONWARNING | MB_TASKMODAL);
}

// A journal refused as damaged: nothing was changed, and where the originals it kept now lie.
void ReportDamaged(const journal::Journal::Outcome& outcome) {
  std::wstring box = texts::kJournalDamaged;
  for (const std::wstring& folder : outcome.damagedAside)
    box += L"\n" + std::wstring(texts::kKeptAside) + folder;
  MessageBoxW(nullptr, box.c_str(), texts::kUndoCaption, MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

// The status bar's text after an undo, and one box naming the files left alone.
void ReportUndo(const journal::Journal::Outcome& outcome, Progress* progress) {
  if (outcome.busy) {
    MessageBoxW(nullptr, texts::kUndoBusy, texts::kUndoCaption,
                MB_OK | MB_ICONINFORMATION | MB_TASKMODAL);
    return;
  }
  if (outcome.damaged) {
    ReportDamaged(outcome);
    return;
  }
  wchar_t text[256];
  wsprintfW(text, texts::kUndone, outcome.restored);
  std::wstring said = text;
  if (outcome.removed) {
    wsprintfW(text, texts::kUndoneCopies, outcome.removed);
    said += text;
  }
  if (progress) progress->EndWith(ActiveFromWide(said));
  ReportLeftAlone(outcome);
}

// An undo whose memory ran out (a journal's steps are kept while it runs) is reported here, at
// the edge of the window procedure.
template <typename Run>
void UndoAndReport(Run run, Progress* progress) {
  try {
    ReportUndo(run(), progress);
  } catch (const std::bad_alloc&) {
    MessageBoxW(nullptr, texts::kUndoNoMemory, texts::kUndoCaption,
                MB_OK | MB_ICONERROR | MB_TASKMODAL);
  }
}

}  // namespace

void TargetListView::UndoLastSave() {
  if (!TheSaveJournal().CanUndo()) {
    MessageBoxW(nullptr, texts::kNothingToUndo, texts::kUndoCaption,
                MB_OK | MB_ICONINFORMATION | MB_TASKMODAL);
    return;
  }
  {
    CurrentTagReader::Pause pause(reader_.get());
    UndoAndReport([] { return TheSaveJournal().Undo(); }, progress);
  }
  ForgetCurrentValues();
}

void TargetListView::ForgetCurrentValues() {
  for (int row = 0; row < RowCount(); ++row) {
    if (TargetItem* item = ItemOfRow(row)) {
      item->values.Forget();
      if (reader_) reader_->Add(item);
    }
  }
  InvalidateRect(hwnd(), nullptr, FALSE);
}

void TargetListView::OfferUnfinishedSave() {
  SaveJournal& journal = TheSaveJournal();
  if (!journal.FoundUnfinished()) return;
  // An undo that was stopped is finished: keeping half of it is no state the user chose.
  if (journal.FoundStoppedUndo()) {
    MessageBoxW(nullptr, texts::kUnfinishedUndo, texts::kUndoCaption,
                MB_OK | MB_ICONWARNING | MB_TASKMODAL);
    UndoAndReport([&] { return journal.UndoUnfinished(); }, progress);
    return;
  }
  if (MessageBoxW(nullptr, texts::kUnfinishedSave, texts::kUndoCaption,
                  MB_YESNO | MB_ICONWARNING | MB_TASKMODAL) == IDYES) {
    {
      CurrentTagReader::Pause pause(reader_.get());
      UndoAndReport([&] { return journal.UndoUnfinished(); }, progress);
    }
    ForgetCurrentValues();
  } else {
    try {
      const journal::Journal::Outcome outcome = journal.KeepUnfinished();
      if (outcome.damaged)
        ReportDamaged(outcome);
      else
        ReportLeftAlone(outcome);
    } catch (const std::bad_alloc&) {
      MessageBoxW(nullptr, texts::kUndoNoMemory, texts::kUndoCaption,
                  MB_OK | MB_ICONERROR | MB_TASKMODAL);
    }
  }
}
