#include "app/Window.h"

LRESULT CALLBACK Window::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* self = reinterpret_cast<Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!self && message == WM_NCCREATE) {
    self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    if (self) {
      self->hwnd_ = hwnd;
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
  }
  if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);

  LRESULT result = 0;
  // No exception may cross into the system; a handler that throws counts as not handled.
  try {
    if (!self->HandleMessage(message, wParam, lParam, &result))
      result = self->DefaultProc(message, wParam, lParam);
  } catch (...) {
    result = self->DefaultProc(message, wParam, lParam);
  }

  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    self->OnFinalMessage();
  }
  return result;
}

LRESULT Window::DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (baseProc_) return CallWindowProcA(baseProc_, hwnd_, message, wParam, lParam);
  return DefWindowProcA(hwnd_, message, wParam, lParam);
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Dialog* self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (!self && message == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(lParam);
    if (self) {
      self->hwnd_ = hwnd;
      SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    }
  }
  if (!self) return FALSE;

  LRESULT result = 0;
  bool handled = false;
  try {
    handled = self->HandleMessage(message, wParam, lParam, &result);
  } catch (...) {
    handled = false;
  }

  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
  }
  if (!handled) return FALSE;
  // WM_INITDIALOG answers about the focus directly; other messages go through DWLP_MSGRESULT.
  if (message == WM_INITDIALOG) return static_cast<INT_PTR>(result);
  SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}
