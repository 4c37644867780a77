// The target list: a superclass of the system list view whose rows are the files being tagged.
// Each row's item data refers to its TargetItem; the entries are owned by `items`.
#pragma once

#include <windows.h>

#include <boost/shared_ptr.hpp>
#include <memory>
#include <string>
#include <vector>

#include "window/Window.h"
#include "targets/CellEditor.h"
#include "targets/CellPainter.h"
#include "targets/CurrentTagReader.h"
#include "targets/Progress.h"
#include "targets/TargetItem.h"
#include "tags/SaveBatch.h"
#include "tags/SaveEntry.h"

class TargetListView : public Window {
 public:
  TargetListView();
  ~TargetListView() override;

  // Creates the list control as a child of `parent`; null on failure. Its creation sets the
  // extended style and loads the rules file.
  HWND Create(HWND parent);

  // Inserts the eight columns, "ファイル名" to "コメント".
  void InsertColumns();

  // One intake: the paths of one drop, or of the command line. While the outermost Intake of a
  // list lasts, no folder is entered twice (a link back to a folder already searched would make
  // the search endless), a stored rule that does not compile is reported once and then counts as
  // not fitting, and the names that the ANSI code page cannot hold are counted. When it ends, one
  // box reports those names. AddPath outside an Intake is an intake of its own.
  class Intake {
   public:
    explicit Intake(TargetListView& list);
    ~Intake();
    Intake(const Intake&) = delete;
    Intake& operator=(const Intake&) = delete;

   private:
    TargetListView& list_;
    bool outermost_;
  };

  // Takes a file or folder into the list; folders are searched depth-first.
  void AddPath(std::string path);
  void ScanFolder(std::string folder);

  // Reads tag values out of the row's path by `templateText` into columns 1 to 7 and records the
  // template as the entry's rule, from `source`; false when it does not fit or does not compile
  // (reported in a box owned by the list).
  bool ApplyRule(int row, std::string path, std::string templateText,
                 RuleSource source = {RuleSource::kRuleBox});

  // Empties columns 1 to 7 of the row.
  void ClearTagColumns(int row);
  // For every selected row in ascending order: ClearTagColumns, then ApplyRule. A row that the
  // rule does not fit remembers it (TargetItem::missedRule).
  void ApplyRuleToSelection(const std::string& templateText,
                            RuleSource::Kind from = RuleSource::kRuleBox);

  // The status bar's words for one row: which rule filled it and where that rule came from, or
  // why the rule typed for it, or the closest rule of the rules file, does not fit.
  std::string RowStatus(int row) const;
  // The status bar's words for the selection: for one row whose file has been read, its changes
  // ("アーティスト: unknown → Nils Frahm") before RowStatus; `ready` for none or several rows.
  std::wstring SelectionStatus(const std::string& ready) const;
  // How many of the selected rows `templateText` fits, in words (as it is typed).
  std::string SelectionFitCount(const std::string& templateText) const;
  std::vector<std::string> SelectedPaths() const;

  // What the last intake did: rows added, and rows a rule of the rules file filled.
  struct IntakeCounts {
    int added = 0;
    int filled = 0;
  };
  IntakeCounts lastIntake() const { return lastIntake_; }

  TargetItem* ItemOfRow(int row) const;
  std::vector<int> SelectedRows() const;
  int RowCount() const;
  // Sets a cell's text; a tag column's is the row's pending value too.
  int SetCellText(int row, int column, const std::string& text);
  std::string CellText(int row, int column) const;
  // The rule shared by the selected rows from `firstRow` on (`end` is -1); empty when they differ.
  std::string CommonRule(int firstRow, int end) const;
  // Every row selected.
  void SelectAll();

  // What saving the row needs: the entry's path and the row's cells. False when there is no such
  // row.
  bool EntryOfRow(int row, EntryToSave* entry) const;
  // Saves the row alone with SaveEntry; `folder` null saves in place. False when there is no such
  // row or the save failed (reported in its box).
  bool SaveRow(int row, const char* folder);

  // Saves `rows` in one SaveBatch: a row that changes nothing in its file (judged, where its
  // values are not known yet, on the save's own reading) is passed by when saving in place, and
  // so is a file that cannot be tagged wherever it would go. A file saved in place takes what it
  // now holds, and is read again behind. With a library that cannot read values apart, every row
  // is saved.
  void SaveRows(const std::vector<int>& rows, SaveKind kind, const char* folder);
  // What a save in place of `item`'s file tells of the file's own values now.
  void TakeSavedValues(TargetItem* item, const SaveOutcome& outcome);

  // Opens the in-place editor over a tag cell (column 1 to 7); false when there is no such cell.
  bool EditCell(int row, int column);
  CellEditor& cellEditor() { return editor_; }
  // Answers the list's custom-draw notification, which goes to its parent; false for another one.
  bool PaintCells(NMHDR* header, LRESULT* result);
  // How many entries' files are still to be read (a removed row's too).
  int UnreadRows() const;

  // Posted to the parent when the values of the one selected row may read otherwise.
  static const UINT kRowValuesChanged = WM_APP + 3;

  // The commands of the context menu.
  void ApplyRuleCommand();
  void RemoveSelected();
  void UpdateTags();
  void ShowProperties();
  // 元に戻す: the last save of this instance, or says there is none.
  void UndoLastSave();
  // At start: offers to undo a save that the last run left unfinished.
  void OfferUnfinishedSave();

  // Owns every entry ever made here, in the order made; rows only refer to them.
  std::vector<boost::shared_ptr<TargetItem>> items;
  // The rules file's templates, in file order; their lines in the file (may be left empty); the
  // file's name, as the status bar names it.
  std::vector<std::string> rules;
  std::vector<int> ruleLines;
  std::string rulesFileName = "rules.txt";
  // Told of every file taken in and every row the update command saves; may be null. Its status
  // text tells how many were saved when Esc stopped the update.
  Progress* progress = nullptr;

  static const int kColumnCount = 8;

 private:
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  bool OnCreate(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnContextMenu(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnApplyRule(UINT notifyCode, UINT id, HWND control);
  bool OnRemove(UINT notifyCode, UINT id, HWND control);
  bool OnUpdateTags(UINT notifyCode, UINT id, HWND control);
  bool OnProperties(UINT notifyCode, UINT id, HWND control);
  bool OnUndo(UINT notifyCode, UINT id, HWND control);
  bool OnValuesRead(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnKeyDown(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnButtonDown(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnDoubleClick(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnScroll(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnDestroy(WPARAM wParam, LPARAM lParam, LRESULT* result);
  // Every row's file is to be read again: a save was undone.
  void ForgetCurrentValues();
  // The one selected row, when its values have changed.
  void TellIfSelected(int row);

  struct FolderId;
  // A folder's search, inside an intake; `known` is its identity when the caller knows it.
  void EnterFolder(const std::string& folder, const FolderId* known);
  // An entry of a folder's listing, with its attributes and (for a sub-folder that is no link,
  // when its parent's identity is known) its identity.
  void AddEntry(const std::string& root, const std::wstring& name, DWORD attributes,
                const FolderId* id);
  // A file's row, inside an intake; `path` is known to name a file within the path limit.
  void AddFile(const std::string& path);

  // ApplyRule's work; RuleMatch::kError after the box that reports it.
  int ApplyRuleOutcome(int row, const std::string& path, const std::string& templateText,
                       RuleSource source);

  static const Handler<TargetListView> kHandlers[];

  struct IntakeState;
  std::unique_ptr<IntakeState> intake_;
  IntakeCounts lastIntake_;
  CellPainter painter_;
  CellEditor editor_;
  // The tag column last clicked, which F2 edits.
  int editColumn_ = 1;
  // Declared last: stopped before the items it reads for go.
  std::unique_ptr<CurrentTagReader> reader_;
};
