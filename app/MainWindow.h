// The program's only top-level window. It owns and places the panes (the rebar with the output
// panel and the rule box, the status bar, the target list), takes the command-line paths into
// the list while it is created, accepts dropped files, and ends the program when destroyed.
#pragma once

#include <windows.h>

#include <iterator>
#include <string>

#include "window/MessagePump.h"
#include "app/StatusProgress.h"
#include "window/Window.h"
#include "panel/OutputPanel.h"
#include "resources/Texts.h"
#include "targets/TargetListView.h"

// Holds back a window's painting for one scope and repaints it whole at the end: a list that
// cannot paint while a handler runs need not invalidate itself once per row (under Wine that
// costs more than the work itself).
class RedrawFreeze {
 public:
  explicit RedrawFreeze(HWND hwnd) : hwnd_(hwnd) { SendMessageA(hwnd_, WM_SETREDRAW, FALSE, 0); }
  ~RedrawFreeze() {
    SendMessageA(hwnd_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(hwnd_, nullptr, TRUE);
  }
  RedrawFreeze(const RedrawFreeze&) = delete;
  RedrawFreeze& operator=(const RedrawFreeze&) = delete;

 private:
  HWND hwnd_;
};

class MainWindow : public Window, private PreDispatchHook {
 public:
  // Creates the window; null when it cannot be created.
  HWND Create();

  TargetListView& list() { return list_; }
  OutputPanel& panel() { return panel_; }
  HWND rebar() const { return rebar_; }
  HWND statusBar() const { return statusBar_; }
  HWND ruleCombo() const { return ruleCombo_; }
  StatusProgress& progress() { return progress_; }

  // Places the panes: rebar on top, status bar at the bottom, the list in between.
  void PlacePanes(bool resizeBars);

  // Takes every path into the list, as one intake (TargetListView::Intake), with the list's
  // painting held back until the end.
  template <class Paths>
  void TakeIn(const Paths& paths);

 private:
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  bool PreDispatch(MSG* message) override;

  bool OnCreate(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnSaveRequest(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnDropFiles(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnSelectAll(UINT notifyCode, UINT id, HWND control);
  bool OnNothing(UINT notifyCode, UINT id, HWND control);
  bool OnUndo(UINT notifyCode, UINT id, HWND control);
  bool OnListItemChanged(NMHDR* header, LRESULT* result);
  bool OnSelectionSettled(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnRuleEditEnded(NMHDR* header, LRESULT* result);
  bool OnListCustomDraw(NMHDR* header, LRESULT* result);
  bool OnRuleBoxChange(UINT notifyCode, UINT id, HWND control);
  bool OnTimer(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnSize(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnRebarAutoSize(NMHDR* header, LRESULT* result);
  bool OnEraseBackground(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnMenuSelect(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnSetFocus(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnDestroy(WPARAM wParam, LPARAM lParam, LRESULT* result);

  void CreateRebar();
  void AddBand(UINT id, HWND child, const wchar_t* title);
  void LockBands();
  void ShowRuleOfSelection();
  // The status bar's text: a fixed one, or one of the active code page.
  void ShowStatus(const std::wstring& text);
  // What the rule did to the one selected row; "Ready" for none or several.
  void ShowStatusOfSelection();
  void SaveAllRows();
  void ShowIntakeStatus();

  static const Handler<MainWindow> kHandlers[];

  HWND rebar_ = nullptr;
  HWND statusBar_ = nullptr;
  HWND clientView_ = nullptr;
  HACCEL accelerators_ = nullptr;
  TargetListView list_;
  OutputPanel panel_;
  HWND ruleCombo_ = nullptr;
  StatusProgress progress_;
  // A selection change of many rows notifies once per row; the rule box is brought up to date once,
  // when the batch is over, instead of walking the whole selection for every row.
  bool selectionUpdatePosted_ = false;
  // The program, not the user, is setting the rule box's text: no count of the rows it fits.
  bool settingRuleText_ = false;
};

template <class Paths>
void MainWindow::TakeIn(const Paths& paths) {
  if (!clientView_) return;
  {
    // The intake's closing box comes after the list has been painted again.
    TargetListView::Intake intake(list_);
    RedrawFreeze freeze(clientView_);
    ProgressScope progress(&progress_, ActiveFromWide(texts::kLoading).c_str(), 0);
    for (const auto& path : paths) list_.AddPath(std::string(path));
  }
  // Once the intake has ended, its counts are in. A start without paths keeps "Ready".
  if (std::begin(paths) != std::end(paths)) ShowIntakeStatus();
}
