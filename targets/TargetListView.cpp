#include "targets/TargetListView.h"

#include <commctrl.h>
#include <shlwapi.h>

#include <cwchar>
#include <windowsx.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <vector>

#include "window/Controls.h"
#include "window/ShellModule.h"
#include "resources/Texts.h"
#include "resources/resource.h"
#include "rules/RulesFile.h"
#include "paths/PathText.h"
#include "templates/CodeTable.h"
#include "templates/MatchRule.h"
#include "templates/RuleReport.h"

namespace {

const char kClassName[] = "tagwhirl.TargetListView";
const DWORD kStyle =
    WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | LVS_REPORT | LVS_SHOWSELALWAYS;
// Grid lines, header drag and drop, full-row select.
const DWORD kListExStyle = LVS_EX_GRIDLINES | LVS_EX_HEADERDRAGDROP | LVS_EX_FULLROWSELECT;

const int kColumnWidths[TargetListView::kColumnCount] = {190, 100, 100, 100, 100, 100, 100, 150};
static_assert(std::size(texts::kColumnTitles) == TargetListView::kColumnCount);
static_assert(kTagFieldCount == TargetListView::kColumnCount - 1);
// Posted by the list's reader when it has read files.
const UINT kValuesRead = WM_APP + 4;

// The system list view's own procedure, which the superclass passes everything on to.
WNDPROC RegisterSuperclass(HINSTANCE instance) {
  static WNDPROC listProc = nullptr;
  if (listProc) return listProc;
  WNDCLASSEXA list = {sizeof list};
  if (!GetClassInfoExA(nullptr, WC_LISTVIEWA, &list)) return nullptr;
  const WNDPROC systemProc = list.lpfnWndProc;
  list.cbSize = sizeof list;
  list.lpfnWndProc = Window::WindowProc;
  list.hInstance = instance;
  list.lpszClassName = kClassName;
  if (!RegisterClassExA(&list) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
  listProc = systemProc;
  return listProc;
}

}  // namespace

const Handler<TargetListView> TargetListView::kHandlers[] = {
    OnMessage<TargetListView>(WM_CREATE, &TargetListView::OnCreate),
    OnMessage<TargetListView>(WM_CONTEXTMENU, &TargetListView::OnContextMenu),
    OnCommand<TargetListView>(ID_APPLY_RULE, &TargetListView::OnApplyRule),
    OnCommand<TargetListView>(ID_REMOVE_FROM_LIST, &TargetListView::OnRemove),
    OnCommand<TargetListView>(ID_EDIT_UNDO, &TargetListView::OnUndo),
    OnCommand<TargetListView>(ID_UPDATE_TAGS, &TargetListView::OnUpdateTags),
    OnCommand<TargetListView>(ID_PROPERTIES, &TargetListView::OnProperties),
    OnMessage<TargetListView>(kValuesRead, &TargetListView::OnValuesRead),
    OnMessage<TargetListView>(WM_KEYDOWN, &TargetListView::OnKeyDown),
    OnMessage<TargetListView>(WM_LBUTTONDOWN, &TargetListView::OnButtonDown),
    OnMessage<TargetListView>(WM_LBUTTONDBLCLK, &TargetListView::OnDoubleClick),
    OnMessage<TargetListView>(WM_VSCROLL, &TargetListView::OnScroll),
    OnMessage<TargetListView>(WM_HSCROLL, &TargetListView::OnScroll),
    OnMessage<TargetListView>(WM_MOUSEWHEEL, &TargetListView::OnScroll),
    OnMessage<TargetListView>(WM_DESTROY, &TargetListView::OnDestroy),
};

HWND TargetListView::Create(HWND parent) {
  const HINSTANCE instance = theModule.instance();
  baseProc_ = RegisterSuperclass(instance);
  if (!baseProc_) return nullptr;
  return CreateWindowExA(WS_EX_CLIENTEDGE, kClassName, "", kStyle, 0, 0, 0, 0, parent, nullptr,
                         instance, this);
}

bool TargetListView::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  return DispatchTable(this, kHandlers, message, wParam, lParam, result);
}

bool TargetListView::OnCreate(WPARAM wParam, LPARAM lParam, LRESULT* result) {
  // The control completes its own creation first; the rules are in before any row is made.
  *result = DefaultProc(WM_CREATE, wParam, lParam);
  if (*result == -1) return true;
  SetExtendedListViewStyle(hwnd(), kListExStyle);
  LoadRules(rules, &ruleLines, &rulesFileName);
  reader_ = std::make_unique<CurrentTagReader>(hwnd(), kValuesRead);
  editor_.onKeep = [this](int row, int column, const std::string& text) {
    SetCellText(row, column, text);
    TellIfSelected(row);
  };
  return true;
}

bool TargetListView::OnDestroy(WPARAM, LPARAM, LRESULT*) {
  // The reader may be inside the tag library, which is let go after the window.
  editor_.Close(false);
  reader_.reset();
  return false;
}

bool TargetListView::OnValuesRead(WPARAM, LPARAM, LRESULT* result) {
  *result = 0;
  if (!reader_) return true;
  std::vector<TargetItem*> updated;
  reader_->TakeReadings(&updated);
  if (updated.empty()) return true;
  // Only the rows on screen are drawn again; an item's row is found among them, not searched for.
  const int top = static_cast<int>(SendMessageA(hwnd(), LVM_GETTOPINDEX, 0, 0));
  const int end = std::min(
      RowCount(), top + 1 + static_cast<int>(SendMessageA(hwnd(), LVM_GETCOUNTPERPAGE, 0, 0)));
  const std::set<TargetItem*> read(updated.begin(), updated.end());
  for (int row = top; row < end; ++row) {
    if (read.count(ItemOfRow(row))) SendMessageA(hwnd(), LVM_REDRAWITEMS, row, row);
  }
  const int selected = GetNextSelected(hwnd(), -1);
  if (selected != -1 && GetNextSelected(hwnd(), selected) == -1 &&
      read.count(ItemOfRow(selected)) && ItemOfRow(selected)->values.generation == 0)
    TellIfSelected(selected);
  return true;
}

bool TargetListView::PaintCells(NMHDR* header, LRESULT* result) {
  if (header->hwndFrom != hwnd()) return false;
  *result =
      painter_.Paint(hwnd(), reinterpret_cast<NMLVCUSTOMDRAW*>(header), [this](TargetItem* item) {
        if (reader_) reader_->Prefer(item);
      });
  return true;
}

bool TargetListView::OnKeyDown(WPARAM wParam, LPARAM, LRESULT* result) {
  if (wParam != VK_F2) return false;
  const int row = static_cast<int>(SendMessageA(hwnd(), LVM_GETNEXTITEM, -1, LVNI_FOCUSED));
  EditCell(row, editColumn_);
  *result = 0;
  return true;
}

bool TargetListView::OnButtonDown(WPARAM, LPARAM lParam, LRESULT*) {
  int row, column;
  if (TagCellAt(hwnd(), {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, &row, &column))
    editColumn_ = column;
  return false;  // the list selects as it always does
}

bool TargetListView::OnDoubleClick(WPARAM, LPARAM lParam, LRESULT* result) {
  int row, column;
  if (!TagCellAt(hwnd(), {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, &row, &column)) return false;
  editColumn_ = column;
  EditCell(row, column);
  *result = 0;
  return true;
}

bool TargetListView::OnScroll(WPARAM, LPARAM, LRESULT*) {
  editor_.Close(true);
  return false;
}

bool TargetListView::EditCell(int row, int column) {
  const TargetItem* item = ItemOfRow(row);
  if (!item || column < 1 || column > kTagFieldCount) return false;
  bool staying;
  return editor_.Open(hwnd(), row, column, item->values.Shown(column - 1, &staying));
}

void TargetListView::TellIfSelected(int row) {
  const int first = GetNextSelected(hwnd(), -1);
  if (first == row && GetNextSelected(hwnd(), first) == -1)
    PostMessageA(GetParent(hwnd()), kRowValuesChanged, 0, 0);
}

int TargetListView::UnreadRows() const {
  // Over the entries, not the rows: asking the list for 10,000 rows' data took longer than the
  // gap in handling messages that it is used to measure. A removed row's file is read all the same.
  int unread = 0;
  for (const auto& item : items) unread += item->values.state == RowValues::Current::kUnknown;
  return unread;
}

void TargetListView::InsertColumns() {
  for (int column = 0; column < kColumnCount; ++column)
    InsertColumn(hwnd(), column, texts::kColumnTitles[column], kColumnWidths[column]);
}

bool TargetListView::ApplyRule(int row, std::string path, std::string templateText,
                               RuleSource source) {
  return ApplyRuleOutcome(row, path, templateText, source) == RuleMatch::kFits;
}

int TargetListView::ApplyRuleOutcome(int row, const std::string& path,
                                     const std::string& templateText, RuleSource source) {
  const RuleMatch match = MatchRule(path, templateText, AnsiLeadBytes());
  if (match.outcome == RuleMatch::kError) {
    MessageBoxW(hwnd(), WideFromActive(match.error).c_str(), WideFromActive(templateText).c_str(),
                MB_OK);
    return match.outcome;
  }
  if (match.outcome != RuleMatch::kFits) return match.outcome;
  for (int code = 0; code < kCodeCount; ++code) {
    if (CodeTable[code].fieldKey && match.values[code])
      SetCellText(row, code + 1, *match.values[code]);
  }
  if (TargetItem* item = ItemOfRow(row)) {
    item->rule = templateText;
    item->source = source;
    item->missedRule.clear();
  }
  return match.outcome;
}

void TargetListView::ClearTagColumns(int row) {
  for (int code = 0; code < kCodeCount; ++code) {
    if (CodeTable[code].fieldKey) SetCellText(row, code + 1, std::string());
  }
}

void TargetListView::ApplyRuleToSelection(const std::string& templateText, RuleSource::Kind from) {
  for (int row = GetNextSelected(hwnd(), -1); row != -1; row = GetNextSelected(hwnd(), row)) {
    ClearTagColumns(row);
    TargetItem* item = ItemOfRow(row);
    if (!ApplyRule(row, item ? item->path : std::string(), templateText, {from}) && item) {
      item->source = RuleSource();
      item->missedRule = templateText;
      item->missedSource = {from};
    }
  }
}

std::string TargetListView::RowStatus(int row) const {
  const TargetItem* item = ItemOfRow(row);
  if (!item) return std::string();
  if (item->source.kind != RuleSource::kNone)
    return FilledText(item->rule, item->source, rulesFileName);
  if (!item->missedRule.empty()) {
    return MissedText(item->missedRule, item->missedSource,
                      ClosestRule(item->path, {item->missedRule}, AnsiLeadBytes()));
  }
  return NoStoredFitText(rules, ruleLines, ClosestRule(item->path, rules, AnsiLeadBytes()),
                         rulesFileName);
}

std::vector<std::string> TargetListView::SelectedPaths() const {
  std::vector<std::string> paths;
  for (int row = GetNextSelected(hwnd(), -1); row != -1; row = GetNextSelected(hwnd(), row)) {
    if (const TargetItem* item = ItemOfRow(row)) paths.push_back(item->path);
  }
  return paths;
}

std::string TargetListView::SelectionFitCount(const std::string& templateText) const {
  const std::vector<std::string> paths = SelectedPaths();
  const FitCount count = CountFits(paths, templateText, AnsiLeadBytes());
  return FitCountText(count.fits, static_cast<int>(paths.size()), count.error);
}

TargetItem* TargetListView::ItemOfRow(int row) const {
  if (row < 0 || row >= RowCount()) return nullptr;
  return reinterpret_cast<TargetItem*>(GetItemData(hwnd(), row));
}

std::vector<int> TargetListView::SelectedRows() const {
  std::vector<int> rows;
  for (int row = GetNextSelected(hwnd(), -1); row != -1; row = GetNextSelected(hwnd(), row))
    rows.push_back(row);
  return rows;
}

int TargetListView::RowCount() const { return GetItemCount(hwnd()); }

int TargetListView::SetCellText(int row, int column, const std::string& text) {
  TargetItem* item = ItemOfRow(row);
  if (item && column >= 1 && column <= kTagFieldCount) {
    item->values.pending[column - 1] = text;
  }
  return ::SetItemText(hwnd(), row, column, text.c_str()) ? row : -1;
}

std::string TargetListView::CellText(int row, int column) const {
  return GetItemText(hwnd(), row, column);
}

std::string TargetListView::CommonRule(int firstRow, int end) const {
  // An entry without a rule counts as the empty rule wherever it stands: the result is a rule
  // that every selected entry carries, or empty.
  std::string common;
  bool first = true;
  for (int row = firstRow; row != end && row != -1; row = GetNextSelected(hwnd(), row)) {
    const TargetItem* item = ItemOfRow(row);
    const std::string& rule = item ? item->rule : std::string();
    if (first) {
      common = rule;
      first = false;
    } else if (rule != common) {
      return std::string();
    }
  }
  return common;
}

void TargetListView::SelectAll() {
  // One message per row. Rows already selected stay so and the focus does not move. What costs
  // is the list repainting itself after each row, which the caller holds back
  // (MainWindow::OnSelectAll).
  for (int row = 0; row < RowCount(); ++row)
    SetItemState(hwnd(), row, LVIS_SELECTED, LVIS_SELECTED);
}
