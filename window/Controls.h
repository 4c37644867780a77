// Thin typed wrappers over the control messages the program uses, so that handlers read as
// sentences and the casts live in one place.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>

// List view.

inline int GetItemCount(HWND list) {
  return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}

// The next selected row after `row` (-1 to start); -1 when there is none.
inline int GetNextSelected(HWND list, int row) {
  return static_cast<int>(
      SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(row), MAKELPARAM(LVNI_SELECTED, 0)));
}

// Inserts a row at `row` with the text of column 0; returns the row's index or -1.
inline int InsertItem(HWND list, int row, const char* text, LPARAM data) {
  LVITEMA item = {};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = row;
  item.pszText = const_cast<char*>(text);
  item.lParam = data;
  return static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

inline bool SetItemText(HWND list, int row, int column, const char* text) {
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = const_cast<char*>(text);
  return SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row),
                      reinterpret_cast<LPARAM>(&item)) != 0;
}

// The whole text of a cell, however long.
inline std::string GetItemText(HWND list, int row, int column) {
  std::string text(256, '\0');
  for (;;) {
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text.data();
    item.cchTextMax = static_cast<int>(text.size());
    const int length = static_cast<int>(SendMessageA(
        list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
    // A text that filled the buffer may have been cut: try again with more room.
    if (length < static_cast<int>(text.size()) - 1) {
      text.resize(length);
      return text;
    }
    text.resize(text.size() * 2);
  }
}

inline LPARAM GetItemData(HWND list, int row) {
  LVITEMA item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  if (!SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return 0;
  return item.lParam;
}

inline bool SetItemState(HWND list, int row, UINT state, UINT mask) {
  LVITEMA item = {};
  item.state = state;
  item.stateMask = mask;
  return SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                      reinterpret_cast<LPARAM>(&item)) != 0;
}

inline bool DeleteItem(HWND list, int row) {
  return SendMessageA(list, LVM_DELETEITEM, static_cast<WPARAM>(row), 0) != 0;
}

inline int InsertColumn(HWND list, int column, const wchar_t* title, int width) {
  LVCOLUMNW entry = {};
  entry.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
  entry.fmt = LVCFMT_LEFT;
  entry.cx = width;
  entry.pszText = const_cast<wchar_t*>(title);
  entry.iSubItem = column;
  return static_cast<int>(SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column),
                                       reinterpret_cast<LPARAM>(&entry)));
}

inline void SetExtendedListViewStyle(HWND list, DWORD style) {
  SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, style);
}

// Rebar.

inline bool InsertBand(HWND rebar, REBARBANDINFOW* band) {
  return SendMessageW(rebar, RB_INSERTBANDW, static_cast<WPARAM>(-1),
                      reinterpret_cast<LPARAM>(band)) != 0;
}

inline int GetBandCount(HWND rebar) {
  return static_cast<int>(SendMessageA(rebar, RB_GETBANDCOUNT, 0, 0));
}

// Status bar.

inline void SetSimpleMode(HWND status, bool simple) {
  SendMessageA(status, SB_SIMPLE, simple ? TRUE : FALSE, 0);
}

// Extended combo box: its edit field.

inline HWND GetComboEdit(HWND combo) {
  return reinterpret_cast<HWND>(SendMessageA(combo, CBEM_GETEDITCONTROL, 0, 0));
}

// A child window's rectangle in the client coordinates of `parent`.
inline RECT RectInParent(HWND child, HWND parent) {
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// The whole text of a window.
inline std::string GetWindowString(HWND hwnd) {
  const int length = GetWindowTextLengthA(hwnd);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(hwnd, text.data(), length + 1);
  text.resize(copied > 0 ? copied : 0);
  return text;
}
