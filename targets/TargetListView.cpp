#include "targets/TargetListView.h"

#include <commctrl.h>
#include <shlwapi.h>

#include <boost/make_shared.hpp>
#include <cwchar>
#include <iterator>
#include <set>
#include <tuple>

#include "window/Controls.h"
#include "window/ShellModule.h"
#include "resources/Texts.h"
#include "resources/resource.h"
#include "rules/RulesFile.h"
#include "paths/PathText.h"
#include "templates/CodeTable.h"
#include "templates/MatchRule.h"

namespace {

const char kClassName[] = "tagwhirl.TargetListView";
const DWORD kStyle =
    WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | LVS_REPORT | LVS_SHOWSELALWAYS;
// Grid lines, header drag and drop, full-row select.
const DWORD kListExStyle = LVS_EX_GRIDLINES | LVS_EX_HEADERDRAGDROP | LVS_EX_FULLROWSELECT;

const int kColumnWidths[TargetListView::kColumnCount] = {190, 100, 100, 100, 100, 100, 100, 150};
static_assert(std::size(texts::kColumnTitles) == TargetListView::kColumnCount);

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

// The names the box after an intake that left some out lists at most.
const size_t kListedNames = 5;

// A folder's identity: its volume's serial number and its file index. A link (a junction, a
// symbolic link) to a folder has the identity of the folder it leads to.
typedef std::tuple<DWORD, DWORD, DWORD> FolderId;

bool IdentityOf(const std::string& folder, FolderId* id) {
  HANDLE handle =
      CreateFileA(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info = {};
  const bool known = GetFileInformationByHandle(handle, &info) != FALSE;
  CloseHandle(handle);
  if (known) *id = FolderId(info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow);
  return known;
}

// `name` in the ANSI code page, when the code page holds every one of its characters: converted
// back, it gives the same name.
bool ToAnsi(const wchar_t* name, std::string* ansi) {
  const int size = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  std::string text(size, '\0');
  WideCharToMultiByte(CP_ACP, 0, name, -1, &text[0], size, nullptr, nullptr);
  text.resize(size - 1);
  *ansi = text;
  const int wideSize = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (wideSize <= 0) return false;
  std::wstring back(wideSize, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &back[0], wideSize);
  back.resize(wideSize - 1);
  return back == name;
}

class FindHandle {
 public:
  explicit FindHandle(HANDLE handle) : handle_(handle) {}
  ~FindHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

struct TargetListView::IntakeState {
  std::set<FolderId> folders;
  std::set<std::string> brokenRules;
  int unwritableNames = 0;
  // As the code page shows them (characters it lacks as question marks); at most kListedNames.
  std::vector<std::string> listedNames;
};

TargetListView::TargetListView() = default;
TargetListView::~TargetListView() = default;

TargetListView::Intake::Intake(TargetListView& list) : list_(list), outermost_(!list.intake_) {
  if (outermost_) list_.intake_ = std::make_unique<IntakeState>();
}

TargetListView::Intake::~Intake() {
  if (!outermost_) return;
  const std::unique_ptr<IntakeState> state = std::move(list_.intake_);
  if (state->unwritableNames == 0) return;
  wchar_t count[256];
  wsprintfW(count, texts::kUnwritableNames, state->unwritableNames);
  std::wstring text = count;
  for (const std::string& name : state->listedNames) text += L"\n" + WideFromActive(name);
  if (state->unwritableNames > static_cast<int>(state->listedNames.size())) {
    wsprintfW(count, texts::kMoreNames,
              state->unwritableNames - static_cast<int>(state->listedNames.size()));
    text += L"\n";
    text += count;
  }
  // No owner, but task-modal: nothing else of the program takes input while it is up.
  MessageBoxW(nullptr, text.c_str(), texts::kErrorCaption, MB_OK | MB_TASKMODAL);
}

const Handler<TargetListView> TargetListView::kHandlers[] = {
    OnMessage<TargetListView>(WM_CREATE, &TargetListView::OnCreate),
    OnMessage<TargetListView>(WM_CONTEXTMENU, &TargetListView::OnContextMenu),
    OnCommand<TargetListView>(ID_APPLY_RULE, &TargetListView::OnApplyRule),
    OnCommand<TargetListView>(ID_REMOVE_FROM_LIST, &TargetListView::OnRemove),
    OnCommand<TargetListView>(ID_UPDATE_TAGS, &TargetListView::OnUpdateTags),
    OnCommand<TargetListView>(ID_PROPERTIES, &TargetListView::OnProperties),
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
  LoadRules(rules);
  return true;
}

void TargetListView::InsertColumns() {
  for (int column = 0; column < kColumnCount; ++column)
    InsertColumn(hwnd(), column, texts::kColumnTitles[column], kColumnWidths[column]);
}

void TargetListView::AddPath(std::string path) {
  Intake intake(*this);
  // The system's path limit counts characters: in UTF-8 a path may take more bytes than that.
  if (path.empty() || PathLength(path) >= MAX_PATH || !PathFileExistsA(path.c_str())) return;
  if (PathIsDirectoryA(path.c_str())) {
    ScanFolder(path);
    return;
  }

  boost::shared_ptr<TargetItem> item = boost::make_shared<TargetItem>();
  item->path = path;
  items.push_back(item);

  const int row = InsertItem(hwnd(), RowCount(), LastComponent(path).c_str(),
                             reinterpret_cast<LPARAM>(item.get()));
  if (row < 0) return;
  if (progress) progress->Advance();
  for (const std::string& rule : rules) {
    if (intake_->brokenRules.count(rule)) continue;
    const int outcome = ApplyRuleOutcome(row, path, rule);
    if (outcome == RuleMatch::kFits) break;
    // Reported once: for the rest of this intake the rule does not fit.
    if (outcome == RuleMatch::kError) intake_->brokenRules.insert(rule);
  }
}

void TargetListView::ScanFolder(std::string folder) {
  Intake intake(*this);
  // A folder whose identity cannot be read is searched all the same; the path limit still ends
  // any loop through it.
  FolderId id;
  if (IdentityOf(folder, &id) && !intake_->folders.insert(id).second) return;

  // The wide search, in buffers of the path limit in characters: the narrow one holds a name
  // in 260 bytes, which a name in UTF-8 may exceed, and shows a name the ANSI code page cannot
  // write with stand-ins, so that the path made of it names nothing (or another file).
  wchar_t pattern[MAX_PATH];
  if (!PathCombineW(pattern, WideFromActive(folder).c_str(), L"*.*")) return;
  WIN32_FIND_DATAW found;
  FindHandle search(FindFirstFileW(pattern, &found));
  if (search.get() == INVALID_HANDLE_VALUE) return;

  wchar_t full[MAX_PATH];
  const DWORD length = GetFullPathNameW(pattern, MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH) return;
  const std::string root = CutAtLastSeparator(ActiveFromWide(full));

  do {
    if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0)
      continue;
    std::string name;
    if (!ToAnsi(found.cFileName, &name)) {
      ++intake_->unwritableNames;
      if (intake_->listedNames.size() < kListedNames) intake_->listedNames.push_back(name);
      continue;
    }
    // Each sub-folder is searched whole before the next entry of this one is read.
    AddPath(JoinPath(root, name));
  } while (FindNextFileW(search.get(), &found));
}

bool TargetListView::ApplyRule(int row, std::string path, std::string templateText) {
  return ApplyRuleOutcome(row, path, templateText) == RuleMatch::kFits;
}

int TargetListView::ApplyRuleOutcome(int row, const std::string& path,
                                     const std::string& templateText) {
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
  if (TargetItem* item = ItemOfRow(row)) item->rule = templateText;
  return match.outcome;
}

void TargetListView::ClearTagColumns(int row) {
  for (int code = 0; code < kCodeCount; ++code) {
    if (CodeTable[code].fieldKey) SetCellText(row, code + 1, std::string());
  }
}

void TargetListView::ApplyRuleToSelection(const std::string& templateText) {
  for (int row = GetNextSelected(hwnd(), -1); row != -1; row = GetNextSelected(hwnd(), row)) {
    ClearTagColumns(row);
    const TargetItem* item = ItemOfRow(row);
    ApplyRule(row, item ? item->path : std::string(), templateText);
  }
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
