// Editing one tag cell in place: an edit field over the cell, opened by F2 or a double click.
// Enter or leaving the field keeps the text, Esc drops it. What is kept becomes the cell's pending
// value, as a rule's value would.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

class CellEditor {
 public:
  CellEditor() = default;
  ~CellEditor();
  CellEditor(const CellEditor&) = delete;
  CellEditor& operator=(const CellEditor&) = delete;

  // Kept text of a cell: (row, column, text).
  std::function<void(int, int, const std::string&)> onKeep;

  // Opens the field over `column` (1 to 7) of `row` in `list`, holding `text`; false when there
  // is no such cell.
  bool Open(HWND list, int row, int column, const std::string& text);
  // Ends the editing: `keep` hands the text to onKeep first.
  void Close(bool keep);
  bool IsOpen() const { return edit_ != nullptr; }
  HWND edit() const { return edit_; }

 private:
  static LRESULT CALLBACK EditProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                   UINT_PTR id, DWORD_PTR data);

  HWND edit_ = nullptr;
  int row_ = -1;
  int column_ = -1;
  bool closing_ = false;
};

// The cell of `list` at a point of its client area: false when the point is on no tag cell.
bool TagCellAt(HWND list, POINT point, int* row, int* column);
