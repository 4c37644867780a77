#include "app/MainWindow.h"

#include <commctrl.h>
#include <shellapi.h>

#include "window/Controls.h"
#include "app/Program.h"
#include "window/ShellModule.h"
#include "resources/Texts.h"
#include "resources/resource.h"
#include "tags/SaveBatch.h"
#include "templates/RuleReport.h"

namespace {

const char kClassName[] = "tagwhirl.MainWindow";
const DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
const DWORD kExStyle = WS_EX_APPWINDOW | WS_EX_WINDOWEDGE;
const DWORD kRebarStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS |
                          RBS_VARHEIGHT | RBS_BANDBORDERS | RBS_AUTOSIZE | CCS_NODIVIDER;
const DWORD kStatusStyle =
    WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | SBARS_SIZEGRIP;
const DWORD kRuleComboStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWN;

const UINT kRebarId = 0xE800;
const UINT kStatusBarId = 0xE801;
const UINT kPanelBandId = 0xEB00;
const UINT kRuleBandId = 0xEB01;
const UINT kRuleComboId = 0;
// Posted to itself when the list's selection has changed; handled after the batch of changes.
const UINT kSelectionSettled = WM_APP + 2;
// Counting the rows a rule typed into the rule box fits waits for a pause in the typing.
const UINT_PTR kRuleCountTimer = 1;
const UINT kRuleCountDelay = 150;

bool RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSEXA existing = {sizeof existing};
  if (GetClassInfoExA(instance, kClassName, &existing)) return true;
  WNDCLASSEXA windowClass = {sizeof windowClass};
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = Window::WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kClassName;
  windowClass.hIcon = static_cast<HICON>(
      LoadImageA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
  windowClass.hIconSm = static_cast<HICON>(
      LoadImageA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
  return RegisterClassExA(&windowClass) != 0;
}

std::string LoadText(UINT id) {
  char text[256] = "";
  LoadStringA(theModule.instance(), id, text, sizeof text);
  return text;
}

int WindowHeight(HWND hwnd) {
  RECT rect;
  GetWindowRect(hwnd, &rect);
  return rect.bottom - rect.top;
}

int WindowWidth(HWND hwnd) {
  RECT rect;
  GetWindowRect(hwnd, &rect);
  return rect.right - rect.left;
}

// Ctrl+Z (or Alt+Backspace) typed into a text field (the output folder, the rule box, a cell
// being edited) undoes the typing there, not the last save.
bool IsTextFieldUndo(const MSG& message) {
  if (message.message != WM_KEYDOWN && message.message != WM_SYSKEYDOWN) return false;
  const bool control = GetKeyState(VK_CONTROL) < 0, alt = GetKeyState(VK_MENU) < 0;
  if (!((message.wParam == 'Z' && control) || (message.wParam == VK_BACK && alt))) return false;
  char name[16] = "";
  GetClassNameA(message.hwnd, name, sizeof name);
  return lstrcmpiA(name, "Edit") == 0;
}

}  // namespace

const Handler<MainWindow> MainWindow::kHandlers[] = {
    OnMessage<MainWindow>(WM_CREATE, &MainWindow::OnCreate),
    OnMessage<MainWindow>(WM_APP_SAVE, &MainWindow::OnSaveRequest),
    OnMessage<MainWindow>(WM_DROPFILES, &MainWindow::OnDropFiles),
    OnCommand<MainWindow>(ID_SELECT_ALL, &MainWindow::OnSelectAll),
    OnCommand<MainWindow>(ID_FILE_NEW, &MainWindow::OnNothing),
    OnCommand<MainWindow>(ID_EDIT_UNDO, &MainWindow::OnUndo),
    OnNotify<MainWindow>(LVN_ITEMCHANGED, &MainWindow::OnListItemChanged),
    OnMessage<MainWindow>(kSelectionSettled, &MainWindow::OnSelectionSettled),
    OnNotify<MainWindow>(CBEN_ENDEDITA, &MainWindow::OnRuleEditEnded),
    OnCommand<MainWindow>(kRuleComboId, &MainWindow::OnRuleBoxChange),
    OnMessage<MainWindow>(WM_TIMER, &MainWindow::OnTimer),
    OnMessage<MainWindow>(WM_SIZE, &MainWindow::OnSize),
    OnNotify<MainWindow>(RBN_AUTOSIZE, &MainWindow::OnRebarAutoSize),
    OnMessage<MainWindow>(WM_ERASEBKGND, &MainWindow::OnEraseBackground),
    OnMessage<MainWindow>(WM_MENUSELECT, &MainWindow::OnMenuSelect),
    OnMessage<MainWindow>(WM_SETFOCUS, &MainWindow::OnSetFocus),
    OnMessage<MainWindow>(WM_DESTROY, &MainWindow::OnDestroy),
};

HWND MainWindow::Create() {
  const HINSTANCE instance = theModule.instance();
  const std::string caption = LoadText(IDR_MAINFRAME);
  if (!RegisterMainWindowClass(instance)) return nullptr;
  HWND hwnd =
      CreateWindowExA(kExStyle, kClassName, caption.c_str(), kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, this);
  if (!hwnd) return nullptr;
  accelerators_ = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
  return hwnd;
}

bool MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  return DispatchTable(this, kHandlers, message, wParam, lParam, result);
}

bool MainWindow::OnCreate(WPARAM, LPARAM, LRESULT* result) {
  SetMenu(hwnd(), nullptr);

  panel_.Create(hwnd());

  // Created without a height: the rebar sizes the box to its edit field, whatever height it is
  // created with, so its drop-down list (which stays empty) never has room to open.
  ruleCombo_ = CreateWindowExA(0, WC_COMBOBOXEXA, "", kRuleComboStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, 0, hwnd(), reinterpret_cast<HMENU>(kRuleComboId),
                               theModule.instance(), nullptr);
  if (HWND edit = GetComboEdit(ruleCombo_))
    SendMessageA(edit, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELONG(5, 0));

  CreateRebar();
  if (rebar_) {
    AddBand(kPanelBandId, panel_.hwnd(), nullptr);
    AddBand(kRuleBandId, ruleCombo_, texts::kRuleBand);
  }

  statusBar_ = CreateStatusWindowA(kStatusStyle, LoadText(IDS_READY).c_str(), hwnd(), kStatusBarId);

  progress_.Attach(statusBar_, LoadText(IDS_READY));
  clientView_ = list_.Create(hwnd());
  list_.progress = &progress_;

  if (MessagePump* pump = theModule.GetMessagePump(GetCurrentThreadId()))
    pump->AddPreDispatchHook(this);

  LockBands();

  if (clientView_) list_.InsertColumns();
  TakeIn(CommandLinePaths);

  DragAcceptFiles(hwnd(), TRUE);
  *result = 0;
  return true;
}

void MainWindow::CreateRebar() {
  rebar_ = CreateWindowExA(0, REBARCLASSNAMEA, nullptr, kRebarStyle, 0, 0, 100, 100, hwnd(),
                           reinterpret_cast<HMENU>(kRebarId), theModule.instance(), nullptr);
  if (!rebar_) return;
  REBARINFO bar = {sizeof bar};
  if (!SendMessageA(rebar_, RB_SETBARINFO, 0, reinterpret_cast<LPARAM>(&bar))) {
    DestroyWindow(rebar_);
    rebar_ = nullptr;
  }
}

void MainWindow::AddBand(UINT id, HWND child, const wchar_t* title) {
  if (!child) return;
  REBARBANDINFOW band = {sizeof band};
  band.fMask = RBBIM_STYLE | RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_SIZE | RBBIM_ID |
               RBBIM_IDEALSIZE | (title ? RBBIM_TEXT : 0);
  band.fStyle = RBBS_CHILDEDGE | RBBS_BREAK;
  band.hwndChild = child;
  band.wID = id;
  band.cx = band.cxIdeal = WindowWidth(child);
  band.cxMinChild = 0;
  band.cyMinChild = WindowHeight(child);
  band.lpText = const_cast<wchar_t*>(title);
  InsertBand(rebar_, &band);
}

void MainWindow::LockBands() {
  if (!rebar_) return;
  const int count = GetBandCount(rebar_);
  for (int index = 0; index < count; ++index) {
    REBARBANDINFOW band = {sizeof band};
    band.fMask = RBBIM_STYLE;
    if (!SendMessageA(rebar_, RB_GETBANDINFOA, index, reinterpret_cast<LPARAM>(&band))) continue;
    band.fStyle |= RBBS_NOGRIPPER;
    SendMessageA(rebar_, RB_SETBANDINFOA, index, reinterpret_cast<LPARAM>(&band));
  }
}

void MainWindow::PlacePanes(bool resizeBars) {
  RECT rest;
  GetClientRect(hwnd(), &rest);
  if (rebar_ && IsWindowVisible(rebar_)) {
    if (resizeBars) SendMessageA(rebar_, WM_SIZE, 0, 0);
    rest.top += WindowHeight(rebar_);
  }
  if (statusBar_ && IsWindowVisible(statusBar_)) {
    if (resizeBars) SendMessageA(statusBar_, WM_SIZE, 0, 0);
    rest.bottom -= WindowHeight(statusBar_);
  }
  if (clientView_) {
    SetWindowPos(clientView_, nullptr, rest.left, rest.top, rest.right - rest.left,
                 rest.bottom - rest.top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

bool MainWindow::OnSaveRequest(WPARAM, LPARAM, LRESULT* result) {
  SaveAllRows();
  *result = 0;
  return true;
}

void MainWindow::SaveAllRows() {
  if (!clientView_) return;
  // The folder is read once, before the first row: every row goes where the panel said then.
  const bool toFolder = panel_.SaveToFolder();
  const std::string folder = toFolder ? panel_.FolderText() : std::string();
  std::vector<EntryToSave> entries;
  entries.reserve(list_.RowCount());
  for (int row = 0; row < list_.RowCount(); ++row) {
    if (!list_.EntryOfRow(row, &entries.emplace_back())) entries.pop_back();
  }
  SaveBatch batch(list_.hwnd(), SaveKind::kSaveAll, list_.RowCount(),
                  toFolder ? folder.c_str() : nullptr, &progress_);
  SaveEntries(batch, entries);
}

bool MainWindow::OnDropFiles(WPARAM wParam, LPARAM, LRESULT* result) {
  HDROP drop = reinterpret_cast<HDROP>(wParam);
  const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
  std::vector<std::string> paths;
  for (UINT index = 0; index < count; ++index) {
    // Sized by the name's own length: in UTF-8 a path of MAX_PATH characters takes more bytes.
    std::wstring name(DragQueryFileW(drop, index, nullptr, 0) + 1, L'\0');
    name.resize(DragQueryFileW(drop, index, name.data(), UINT(name.size())));
    paths.push_back(ActiveFromWide(name));
  }
  DragFinish(drop);
  TakeIn(paths);
  *result = 0;
  return true;
}

bool MainWindow::OnSelectAll(UINT, UINT, HWND) {
  if (!clientView_) return true;
  RedrawFreeze freeze(clientView_);
  list_.SelectAll();
  return true;
}

bool MainWindow::OnNothing(UINT, UINT, HWND) { return true; }

bool MainWindow::OnUndo(UINT, UINT, HWND) {
  if (clientView_) list_.UndoLastSave();
  return true;
}

bool MainWindow::OnListItemChanged(NMHDR* header, LRESULT* result) {
  if (header->hwndFrom != clientView_) return false;
  const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(header);
  if (!(change->uChanged & LVIF_STATE)) return false;
  if (((change->uOldState ^ change->uNewState) & LVIS_SELECTED) == 0) return false;
  if (!selectionUpdatePosted_ && PostMessageA(hwnd(), kSelectionSettled, 0, 0))
    selectionUpdatePosted_ = true;
  *result = 0;
  return true;
}

bool MainWindow::OnSelectionSettled(WPARAM, LPARAM, LRESULT* result) {
  selectionUpdatePosted_ = false;
  ShowRuleOfSelection();
  ShowStatusOfSelection();
  *result = 0;
  return true;
}

void MainWindow::ShowRuleOfSelection() {
  const std::string rule = list_.CommonRule(GetNextSelected(clientView_, -1), -1);
  HWND edit = GetComboEdit(ruleCombo_);
  // Setting the same text again would only move the caret and lose the user's text selection.
  if (edit && GetWindowString(edit) != rule) {
    settingRuleText_ = true;
    SetWindowTextA(edit, rule.c_str());
    settingRuleText_ = false;
  }
}

void MainWindow::ShowStatus(const std::wstring& text) {
  if (!statusBar_) return;
  SendMessageW(statusBar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
  // Kept as the window's own text too, which other processes (the tests) can read.
  DefWindowProcW(statusBar_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void MainWindow::ShowStatusOfSelection() {
  const int first = GetNextSelected(clientView_, -1);
  if (first == -1 || GetNextSelected(clientView_, first) != -1)
    ShowStatus(WideFromActive(LoadText(IDS_READY)));
  else
    ShowStatus(WideFromActive(list_.RowStatus(first)));
}

void MainWindow::ShowIntakeStatus() {
  const TargetListView::IntakeCounts counts = list_.lastIntake();
  ShowStatus(WideFromActive(IntakeText(counts.added, counts.filled, list_.rulesFileName)));
}

bool MainWindow::OnRuleBoxChange(UINT notifyCode, UINT, HWND control) {
  if (control != ruleCombo_ || notifyCode != CBN_EDITCHANGE) return false;
  if (!settingRuleText_) SetTimer(hwnd(), kRuleCountTimer, kRuleCountDelay, nullptr);
  return true;
}

bool MainWindow::OnTimer(WPARAM wParam, LPARAM, LRESULT* result) {
  if (wParam != kRuleCountTimer) return false;
  KillTimer(hwnd(), kRuleCountTimer);
  if (clientView_)
    ShowStatus(WideFromActive(list_.SelectionFitCount(GetWindowString(GetComboEdit(ruleCombo_)))));
  *result = 0;
  return true;
}

bool MainWindow::OnRuleEditEnded(NMHDR* header, LRESULT* result) {
  if (header->idFrom != kRuleComboId || header->hwndFrom != ruleCombo_) return false;
  if (clientView_) {
    KillTimer(hwnd(), kRuleCountTimer);
    list_.ApplyRuleToSelection(GetWindowString(GetComboEdit(ruleCombo_)));
    ShowStatusOfSelection();
  }
  *result = 0;
  return true;
}

bool MainWindow::OnSize(WPARAM wParam, LPARAM, LRESULT*) {
  if (wParam != SIZE_MINIMIZED) PlacePanes(true);
  return false;  // the default handling follows
}

bool MainWindow::OnRebarAutoSize(NMHDR* header, LRESULT* result) {
  if (header->hwndFrom != rebar_) return false;
  PlacePanes(false);
  *result = 0;
  return true;
}

bool MainWindow::OnEraseBackground(WPARAM, LPARAM, LRESULT* result) {
  if (!clientView_) return false;
  // The panes cover the whole client area.
  *result = 1;
  return true;
}

bool MainWindow::OnMenuSelect(WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (!statusBar_) return false;
  const UINT item = LOWORD(wParam);
  const UINT flags = HIWORD(wParam);
  HMENU menu = reinterpret_cast<HMENU>(lParam);
  *result = 0;
  if (flags == 0xFFFF && !menu) {
    SetSimpleMode(statusBar_, false);
    return true;
  }
  std::string help;
  if (!(flags & MF_POPUP)) {
    UINT id = item;
    if (id >= 0xF000 && id < 0xF1F0) id = (id - 0xF000) / 16 + 0xEF00;
    help = LoadText(id);
    const size_t lineBreak = help.find('\n');
    if (lineBreak != std::string::npos) help.resize(lineBreak);
  }
  SetSimpleMode(statusBar_, true);
  SendMessageA(statusBar_, SB_SETTEXTA, SB_SIMPLEID | SBT_NOBORDERS,
               reinterpret_cast<LPARAM>(help.c_str()));
  return true;
}

bool MainWindow::OnSetFocus(WPARAM, LPARAM, LRESULT* result) {
  if (!clientView_) return false;
  SetFocus(clientView_);
  *result = 0;
  return true;
}

bool MainWindow::OnDestroy(WPARAM, LPARAM, LRESULT* result) {
  // The top-level window's end is the program's end.
  const LONG style = GetWindowLongA(hwnd(), GWL_STYLE);
  if (!(style & (WS_CHILD | WS_POPUP))) PostQuitMessage(1);
  *result = 0;
  return true;
}

bool MainWindow::PreDispatch(MSG* message) {
  if (accelerators_ && !IsTextFieldUndo(*message) &&
      TranslateAcceleratorA(hwnd(), accelerators_, message))
    return true;
  HWND panel = panel_.hwnd();
  if (!panel || !message->hwnd || (message->hwnd != panel && !IsChild(panel, message->hwnd)) ||
      message->message < WM_KEYFIRST || message->message > WM_KEYLAST)
    return false;
  // Keyboard input inside the output panel gets the dialog keys Tab and the access keys of its
  // texts with Alt (Alt+S saves, as the button says). Enter presses only the push button that
  // has the focus, never the default button "保存(&S)" from elsewhere: a user who types a folder
  // and presses Enter to confirm it, with "上書き(&W)" still chosen, would otherwise overwrite
  // every file in place. Nor is a letter without Alt an access key: on a radio button, S alone
  // would save too.
  if (message->message == WM_CHAR) return false;
  if ((message->message == WM_KEYDOWN || message->message == WM_KEYUP) &&
      message->wParam == VK_RETURN) {
    HWND focus = GetFocus();
    const LRESULT code = focus ? SendMessageA(focus, WM_GETDLGCODE, 0, 0) : 0;
    if (!(code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON))) return true;
  }
  return IsDialogMessageA(panel, message) != FALSE;
}
