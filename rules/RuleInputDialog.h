// The small modal dialog that asks for a template, offering the rule the selected rows share.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "window/DialogResize.h"
#include "window/Window.h"

class RuleInputDialog : public Dialog {
 public:
  RuleInputDialog(std::wstring caption, std::string rule)
      : caption_(std::move(caption)), rule_(std::move(rule)) {}

  // Runs the dialog modally over `owner`; IDOK (1) or IDCANCEL (2).
  INT_PTR DoModal(HWND owner);

  // Before: the text offered. After: the edit's final text, for OK and Cancel alike.
  const std::string& ruleText() const { return rule_; }

  // When set, a line under the buttons shows what it says of the rule in the edit (how many
  // rows it fits), brought up to date kCountDelay milliseconds after the last change: typing
  // itself never waits for a count.
  std::function<std::string(const std::string&)> fitCount;
  static const UINT kCountDelay = 150;
  static const int kCountId = 1100;

 private:
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  bool OnInitDialog(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnShowWindow(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnGetMinMaxInfo(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnSize(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnOk(UINT notifyCode, UINT id, HWND control);
  bool OnCancel(UINT notifyCode, UINT id, HWND control);
  bool OnEditChange(UINT notifyCode, UINT id, HWND control);
  bool OnTimer(WPARAM wParam, LPARAM lParam, LRESULT* result);

  void AddCountLine();

  void CentreOverOwner();
  void EndWith(int result);

  static const Handler<RuleInputDialog> kHandlers[];

  std::wstring caption_;
  std::string rule_;
  HWND edit_ = nullptr;
  HWND count_ = nullptr;
  DialogResize resize_;
};
