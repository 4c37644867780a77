// The output panel in the first rebar band: in-place or output-folder saving, the folder field
// with its browser, and the button that saves every row.
#pragma once

#include <windows.h>

#include <string>

#include "window/Window.h"

// The private message the panel's save button sends to the main window (WM_APP + 1).
const UINT WM_APP_SAVE = WM_APP + 1;

class OutputPanel : public Dialog {
 public:
  // Creates the panel from its dialog template as a modeless child of `parent`.
  HWND Create(HWND parent);

  // Whether "出力先を指定(&D)" is chosen.
  bool SaveToFolder() const;
  // The folder field's text, cut to 259 characters as a path buffer holds it.
  std::string FolderText() const;

 private:
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  bool OnInitDialog(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnEraseBackground(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnSave(UINT notifyCode, UINT id, HWND control);
  bool OnBrowse(UINT notifyCode, UINT id, HWND control);

  static const Handler<OutputPanel> kHandlers[];
};
