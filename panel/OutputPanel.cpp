#include "panel/OutputPanel.h"

#include <shlobj.h>

#include "resources/Texts.h"
#include "window/ShellModule.h"
#include "resources/resource.h"

const Handler<OutputPanel> OutputPanel::kHandlers[] = {
    OnMessage<OutputPanel>(WM_INITDIALOG, &OutputPanel::OnInitDialog),
    OnMessage<OutputPanel>(WM_ERASEBKGND, &OutputPanel::OnEraseBackground),
    OnCommand<OutputPanel>(IDOK, &OutputPanel::OnSave),
    OnCommand<OutputPanel>(IDC_BROWSE, &OutputPanel::OnBrowse),
};

HWND OutputPanel::Create(HWND parent) {
  return CreateDialogParamA(theModule.instance(), MAKEINTRESOURCEA(IDD_OUTPUT_PANEL), parent,
                            Dialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

bool OutputPanel::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  return DispatchTable(this, kHandlers, message, wParam, lParam, result);
}

bool OutputPanel::OnInitDialog(WPARAM, LPARAM, LRESULT* result) {
  CheckRadioButton(hwnd(), IDC_SAVE_IN_PLACE, IDC_SAVE_TO_FOLDER, IDC_SAVE_IN_PLACE);
  // No default focus: creating the panel must not take the focus from the list.
  *result = FALSE;
  return true;
}

bool OutputPanel::OnEraseBackground(WPARAM, LPARAM, LRESULT* result) {
  // The rebar band's background shows through (the panel is transparent).
  *result = TRUE;
  return true;
}

bool OutputPanel::OnSave(UINT, UINT, HWND) {
  // The panel's parent is the rebar; the main window is the rebar's parent.
  SendMessageA(GetParent(GetParent(hwnd())), WM_APP_SAVE, 0, 0);
  return true;
}

bool OutputPanel::OnBrowse(UINT, UINT, HWND) {
  IMalloc* allocator = nullptr;
  if (FAILED(SHGetMalloc(&allocator))) return true;
  LPITEMIDLIST desktop = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(hwnd(), CSIDL_DESKTOP, &desktop))) {
    allocator->Release();
    return true;
  }

  BROWSEINFOA browse = {};
  browse.hwndOwner = hwnd();
  browse.pidlRoot = desktop;
  LPITEMIDLIST chosen = SHBrowseForFolderA(&browse);
  allocator->Free(desktop);

  if (chosen) {
    // Wide: the narrow call fills at most MAX_PATH bytes, which a UTF-8 path may exceed.
    wchar_t path[MAX_PATH] = L"";
    if (!SHGetPathFromIDListW(chosen, path)) path[0] = 0;
    allocator->Free(chosen);
    SetDlgItemTextW(hwnd(), IDC_FOLDER, path);
  }
  allocator->Release();
  return true;
}

bool OutputPanel::SaveToFolder() const {
  return IsDlgButtonChecked(hwnd(), IDC_SAVE_TO_FOLDER) == BST_CHECKED;
}

std::string OutputPanel::FolderText() const {
  // At most the path limit, counted in characters: in UTF-8 they may take up to three bytes each.
  wchar_t folder[MAX_PATH] = L"";
  GetDlgItemTextW(hwnd(), IDC_FOLDER, folder, MAX_PATH);
  return ActiveFromWide(folder);
}
