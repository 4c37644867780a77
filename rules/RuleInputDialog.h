// The small modal dialog that asks for a template, offering the rule the selected rows share.
#pragma once

#include <windows.h>

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

 private:
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  bool OnInitDialog(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnShowWindow(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnGetMinMaxInfo(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnSize(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnOk(UINT notifyCode, UINT id, HWND control);
  bool OnCancel(UINT notifyCode, UINT id, HWND control);

  void CentreOverOwner();
  void EndWith(int result);

  static const Handler<RuleInputDialog> kHandlers[];

  std::wstring caption_;
  std::string rule_;
  HWND edit_ = nullptr;
  DialogResize resize_;
};
