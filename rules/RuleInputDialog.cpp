#include "rules/RuleInputDialog.h"

#include <algorithm>

#include "window/Controls.h"
#include "window/ShellModule.h"
#include "resources/Texts.h"
#include "resources/resource.h"

const Handler<RuleInputDialog> RuleInputDialog::kHandlers[] = {
    OnMessage<RuleInputDialog>(WM_INITDIALOG, &RuleInputDialog::OnInitDialog),
    OnMessage<RuleInputDialog>(WM_SHOWWINDOW, &RuleInputDialog::OnShowWindow),
    OnMessage<RuleInputDialog>(WM_GETMINMAXINFO, &RuleInputDialog::OnGetMinMaxInfo),
    OnMessage<RuleInputDialog>(WM_SIZE, &RuleInputDialog::OnSize),
    OnCommand<RuleInputDialog>(IDOK, &RuleInputDialog::OnOk),
    OnCommand<RuleInputDialog>(IDCANCEL, &RuleInputDialog::OnCancel),
    OnCommand<RuleInputDialog>(IDC_RULE_EDIT, &RuleInputDialog::OnEditChange),
    OnMessage<RuleInputDialog>(WM_TIMER, &RuleInputDialog::OnTimer),
};

namespace {
const UINT_PTR kCountTimer = 1;
}  // namespace

INT_PTR RuleInputDialog::DoModal(HWND owner) {
  return DialogBoxParamA(theModule.instance(), MAKEINTRESOURCEA(IDD_RULE_INPUT), owner,
                         Dialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

bool RuleInputDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  return DispatchTable(this, kHandlers, message, wParam, lParam, result);
}

bool RuleInputDialog::OnInitDialog(WPARAM, LPARAM, LRESULT* result) {
  CentreOverOwner();
  edit_ = GetDlgItem(hwnd(), IDC_RULE_EDIT);
  if (!edit_ || !SetWindowTextA(edit_, rule_.c_str())) {
    MessageBeep(MB_OK);
    if (edit_) SetFocus(edit_);
  }
  if (!caption_.empty()) SetWindowTextW(hwnd(), caption_.c_str());
  if (fitCount) AddCountLine();
  resize_.Init(hwnd(), {{IDC_RULE_EDIT, DialogResize::kWidth}, {kCountId, DialogResize::kWidth}});
  if (count_) SetTimer(hwnd(), kCountTimer, 0, nullptr);
  *result = TRUE;  // the default focus; the edit takes it when the dialog shows
  return true;
}

void RuleInputDialog::CentreOverOwner() {
  HWND owner = GetWindow(hwnd(), GW_OWNER);
  RECT self, area, around;
  GetWindowRect(hwnd(), &self);
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  if (owner && IsWindowVisible(owner) && !IsIconic(owner))
    GetWindowRect(owner, &around);
  else
    around = area;
  const int width = self.right - self.left, height = self.bottom - self.top;
  int left = (around.left + around.right - width) / 2;
  int top = (around.top + around.bottom - height) / 2;
  // Wholly inside the work area.
  left = std::max<int>(area.left, std::min<int>(left, area.right - width));
  top = std::max<int>(area.top, std::min<int>(top, area.bottom - height));
  SetWindowPos(hwnd(), nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool RuleInputDialog::OnShowWindow(WPARAM wParam, LPARAM, LRESULT* result) {
  // Typing replaces the offered rule; an arrow key keeps it for editing.
  if (wParam && edit_) {
    SendMessageA(edit_, EM_SETSEL, 0, -1);
    SendMessageA(edit_, EM_SCROLLCARET, 0, 0);
    SetFocus(edit_);
  }
  *result = 0;
  return false;
}

bool RuleInputDialog::OnGetMinMaxInfo(WPARAM, LPARAM lParam, LRESULT* result) {
  resize_.LimitTracking(reinterpret_cast<MINMAXINFO*>(lParam), true);
  *result = 0;
  return true;
}

bool RuleInputDialog::OnSize(WPARAM wParam, LPARAM lParam, LRESULT* result) {
  resize_.OnSize(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
  *result = 0;
  return true;
}

void RuleInputDialog::EndWith(int result) {
  if (edit_) {
    rule_ = GetWindowString(edit_);
  } else {
    MessageBeep(MB_OK);
  }
  EndDialog(hwnd(), result);
}

void RuleInputDialog::AddCountLine() {
  // Under the buttons, as wide as the edit; the dialog grows by the line's height.
  RECT edit, ok, client, window;
  GetWindowRect(edit_, &edit);
  GetWindowRect(GetDlgItem(hwnd(), IDOK), &ok);
  MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&edit), 2);
  MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&ok), 2);
  GetClientRect(hwnd(), &client);
  GetWindowRect(hwnd(), &window);
  const int gap = ok.top - edit.bottom;
  const int height = edit.bottom - edit.top;
  count_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP, edit.left,
                           ok.bottom + gap / 2, edit.right - edit.left, height, hwnd(),
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(kCountId)),
                           theModule.instance(), nullptr);
  if (!count_) return;
  SendMessageW(count_, WM_SETFONT, SendMessageW(hwnd(), WM_GETFONT, 0, 0), FALSE);
  SetWindowPos(hwnd(), nullptr, 0, 0, window.right - window.left,
               window.bottom - window.top + height + gap / 2, SWP_NOMOVE | SWP_NOZORDER);
}

bool RuleInputDialog::OnEditChange(UINT notifyCode, UINT, HWND) {
  if (notifyCode != EN_CHANGE || !count_) return false;
  SetTimer(hwnd(), kCountTimer, kCountDelay, nullptr);
  return true;
}

bool RuleInputDialog::OnTimer(WPARAM wParam, LPARAM, LRESULT* result) {
  if (wParam != kCountTimer) return false;
  KillTimer(hwnd(), kCountTimer);
  if (count_ && edit_ && fitCount)
    SetWindowTextW(count_, WideFromActive(fitCount(GetWindowString(edit_))).c_str());
  *result = 0;
  return true;
}

bool RuleInputDialog::OnOk(UINT, UINT, HWND) {
  EndWith(IDOK);
  return true;
}

bool RuleInputDialog::OnCancel(UINT, UINT, HWND) {
  EndWith(IDCANCEL);
  return true;
}
