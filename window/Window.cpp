#include "window/Window.h"

#include <exception>
#include <string>

#include "resources/Texts.h"

namespace {

// A handler that throws has stopped in the middle of its work (of saving every row, say): the
// user is told, in a box without owner that holds the rest of the program still while it is up,
// and the message then goes on as if no handler had taken it.
// The reason is the exception's text, in the ANSI code page as every text of the program.
void ReportFailure(const std::wstring& reason) {
  const std::wstring text = texts::kStoppedByFailure + std::wstring(L"\n\n") + reason;
  MessageBoxW(nullptr, text.c_str(), texts::kErrorCaption, MB_OK | MB_TASKMODAL);
}

// Called inside a catch block: reports the exception being handled, whatever it is. Throws
// nothing itself (a report without memory for its text is given up).
void ReportCurrentException() noexcept {
  try {
    try {
      throw;
    } catch (const std::exception& failure) {
      ReportFailure(WideFromActive(failure.what()));
    } catch (...) {
      ReportFailure(texts::kUnknownReason);
    }
  } catch (...) {
  }
}

}  // namespace

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
  // No exception may cross into the system; a handler that throws is reported and counts as
  // not handled.
  try {
    if (!self->HandleMessage(message, wParam, lParam, &result))
      result = self->DefaultProc(message, wParam, lParam);
  } catch (...) {
    ReportCurrentException();
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
    ReportCurrentException();
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
