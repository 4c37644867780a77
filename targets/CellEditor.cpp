#include "targets/CellEditor.h"

#include <commctrl.h>

#include "resources/Texts.h"
#include "targets/RowValues.h"
#include "window/Controls.h"

namespace {

std::wstring WindowText(HWND hwnd) {
  std::wstring text(GetWindowTextLengthW(hwnd) + 1, L'\0');
  text.resize(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size())));
  return text;
}

}  // namespace

CellEditor::~CellEditor() { Close(false); }

bool CellEditor::Open(HWND list, int row, int column, const std::string& text) {
  Close(true);
  if (column < 1 || column > kTagFieldCount || row < 0 || row >= GetItemCount(list)) return false;
  SendMessageA(list, LVM_ENSUREVISIBLE, row, FALSE);
  RECT cell = {};
  cell.top = column;
  cell.left = LVIR_LABEL;
  if (!SendMessageA(list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&cell))) return false;
  edit_ = CreateWindowExW(
      0, L"Edit", WideFromActive(text).c_str(), WS_CHILD | WS_BORDER | ES_AUTOHSCROLL, cell.left,
      cell.top, cell.right - cell.left, cell.bottom - cell.top, list, nullptr,
      reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(list, GWLP_HINSTANCE)), nullptr);
  if (!edit_) return false;
  row_ = row;
  column_ = column;
  SendMessageA(edit_, WM_SETFONT, SendMessageA(list, WM_GETFONT, 0, 0), FALSE);
  SetWindowSubclass(edit_, EditProc, 0, reinterpret_cast<DWORD_PTR>(this));
  SendMessageA(edit_, EM_SETSEL, 0, -1);
  ShowWindow(edit_, SW_SHOW);
  SetFocus(edit_);
  return true;
}

void CellEditor::Close(bool keep) {
  // Destroying the field takes its focus away, which would close it a second time.
  if (!edit_ || closing_) return;
  closing_ = true;
  const HWND edit = edit_;
  const HWND list = GetParent(edit);
  const std::string text = ActiveFromWide(WindowText(edit));
  const int row = row_, column = column_;
  if (GetFocus() == edit) SetFocus(list);
  RemoveWindowSubclass(edit, EditProc, 0);
  DestroyWindow(edit);
  edit_ = nullptr;
  closing_ = false;
  if (keep && onKeep) onKeep(row, column, text);
}

LRESULT CALLBACK CellEditor::EditProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR, DWORD_PTR data) {
  CellEditor* editor = reinterpret_cast<CellEditor*>(data);
  switch (message) {
    case WM_GETDLGCODE:
      return DLGC_WANTALLKEYS | DefSubclassProc(hwnd, message, wParam, lParam);
    case WM_KEYDOWN:
      if (wParam == VK_RETURN || wParam == VK_ESCAPE) {
        editor->Close(wParam == VK_RETURN);
        return 0;
      }
      break;
    case WM_CHAR:
      // Enter and Esc would beep in a single-line field.
      if (wParam == '\r' || wParam == 27) return 0;
      break;
    case WM_KILLFOCUS:
      editor->Close(true);
      return 0;
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

bool TagCellAt(HWND list, POINT point, int* row, int* column) {
  LVHITTESTINFO hit = {};
  hit.pt = point;
  if (SendMessageA(list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)) < 0 ||
      hit.iItem < 0 || hit.iSubItem < 1 || hit.iSubItem > kTagFieldCount)
    return false;
  *row = hit.iItem;
  *column = hit.iSubItem;
  return true;
}
