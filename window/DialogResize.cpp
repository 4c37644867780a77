#include "window/DialogResize.h"

#include <climits>

#include "window/Controls.h"

void DialogResize::Init(HWND dialog, const std::vector<std::pair<int, unsigned>>& controls) {
  dialog_ = dialog;
  const LONG wanted = WS_CLIPCHILDREN | WS_THICKFRAME | WS_MAXIMIZEBOX;
  const LONG style = GetWindowLongA(dialog, GWL_STYLE);
  if ((style & wanted) != wanted) {
    SetWindowLongA(dialog, GWL_STYLE, style | wanted);
    SetWindowPos(dialog, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  }

  RECT client;
  GetClientRect(dialog, &client);
  initialClient_ = {client.right, client.bottom};

  grip_ = GetDlgItem(dialog, kGripId);
  if (!grip_) {
    const int width = GetSystemMetrics(SM_CXVSCROLL);
    const int height = GetSystemMetrics(SM_CYHSCROLL);
    grip_ = CreateWindowExA(0, "SCROLLBAR", nullptr,
                            WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SBS_SIZEBOX | SBS_SIZEGRIP |
                                SBS_SIZEBOXBOTTOMRIGHTALIGN,
                            client.right - width, client.bottom - height, width, height, dialog,
                            reinterpret_cast<HMENU>(kGripId), nullptr, nullptr);
    gripAdded_ = grip_ != nullptr;
  }

  RECT window;
  GetWindowRect(dialog, &window);
  minimumTrack_ = {window.right - window.left, window.bottom - window.top};

  records_.clear();
  for (const auto& [id, follow] : controls) {
    if (HWND control = GetDlgItem(dialog, id))
      records_.push_back({id, follow, RectInParent(control, dialog)});
  }
  if (grip_) records_.push_back({kGripId, kMoveX | kMoveY, RectInParent(grip_, dialog)});
}

void DialogResize::LimitTracking(MINMAXINFO* limits, bool fixedHeight) const {
  if (!dialog_) return;
  limits->ptMinTrackSize.x = minimumTrack_.cx;
  limits->ptMinTrackSize.y = minimumTrack_.cy;
  limits->ptMaxTrackSize.x = INT_MAX;
  if (fixedHeight) {
    RECT window;
    GetWindowRect(dialog_, &window);
    limits->ptMaxTrackSize.y = window.bottom - window.top;
  }
}

void DialogResize::OnSize(UINT type, int clientWidth, int clientHeight) {
  if (!dialog_) return;
  if (grip_) {
    if (type == SIZE_MAXIMIZED) ShowWindow(grip_, SW_HIDE);
    if (type == SIZE_RESTORED) ShowWindow(grip_, SW_SHOW);
  }
  if (type == SIZE_MINIMIZED) return;

  const int grownX = clientWidth - initialClient_.cx;
  const int grownY = clientHeight - initialClient_.cy;
  for (const Record& record : records_) {
    HWND control = GetDlgItem(dialog_, record.id);
    if (!control) continue;
    RECT rect = record.rect;
    if (record.follow & kMoveX) OffsetRect(&rect, grownX, 0);
    if (record.follow & kMoveY) OffsetRect(&rect, 0, grownY);
    if (record.follow & kWidth) rect.right += grownX;
    if (record.follow & kHeight) rect.bottom += grownY;
    SetWindowPos(control, nullptr, rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  InvalidateRect(dialog_, nullptr, TRUE);
}
