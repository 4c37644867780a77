// The thin window-class layer: one static window procedure and one static dialog procedure attach
// a C++ object to its window when the window is created, and hand every message to the object's
// ordered handler table. A message that no entry handles goes to the default handling.
#pragma once

#include <windows.h>

#include <cstddef>

// One entry of a handler table: a message number, a command ID or a notification code, and the
// handler. A handler returns whether it handled the message and writes its result separately.
template <class Owner>
struct Handler {
  enum Kind { kMessage, kCommand, kNotify };
  typedef bool (Owner::*MessageFn)(WPARAM wParam, LPARAM lParam, LRESULT* result);
  typedef bool (Owner::*CommandFn)(UINT notifyCode, UINT id, HWND control);
  typedef bool (Owner::*NotifyFn)(NMHDR* header, LRESULT* result);

  Kind kind;
  UINT key;
  MessageFn onMessage;
  CommandFn onCommand;
  NotifyFn onNotify;
};

template <class Owner>
constexpr Handler<Owner> OnMessage(UINT message, typename Handler<Owner>::MessageFn fn) {
  return {Handler<Owner>::kMessage, message, fn, nullptr, nullptr};
}

template <class Owner>
constexpr Handler<Owner> OnCommand(UINT id, typename Handler<Owner>::CommandFn fn) {
  return {Handler<Owner>::kCommand, id, nullptr, fn, nullptr};
}

// The code is taken as UINT, the type of NMHDR::code. The codes are negative numbers, which a
// header may declare as int or as unsigned; either converts here, at the call, to the value that
// the field holds, so the table compares like with like and no caller needs a cast.
template <class Owner>
constexpr Handler<Owner> OnNotify(UINT code, typename Handler<Owner>::NotifyFn fn) {
  return {Handler<Owner>::kNotify, code, nullptr, nullptr, fn};
}

// Walks `table` top to bottom; the first entry that matches and handles the message wins.
template <class Owner, std::size_t N>
bool DispatchTable(Owner* owner, const Handler<Owner> (&table)[N], UINT message, WPARAM wParam,
                   LPARAM lParam, LRESULT* result) {
  for (const Handler<Owner>& entry : table) {
    switch (entry.kind) {
      case Handler<Owner>::kMessage:
        if (message == entry.key && (owner->*entry.onMessage)(wParam, lParam, result)) return true;
        break;
      case Handler<Owner>::kCommand:
        if (message == WM_COMMAND && LOWORD(wParam) == entry.key &&
            (owner->*entry.onCommand)(HIWORD(wParam), LOWORD(wParam),
                                      reinterpret_cast<HWND>(lParam))) {
          *result = 0;
          return true;
        }
        break;
      case Handler<Owner>::kNotify:
        if (message == WM_NOTIFY && lParam && reinterpret_cast<NMHDR*>(lParam)->code == entry.key &&
            (owner->*entry.onNotify)(reinterpret_cast<NMHDR*>(lParam), result))
          return true;
        break;
    }
  }
  return false;
}

// Base of every window class. The object is attached at WM_NCCREATE (the creation parameter) and
// detached at WM_NCDESTROY, after which the window has no object and gets the default handling.
class Window {
 public:
  Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  HWND hwnd() const { return hwnd_; }

  // The procedure to give a window class whose windows are created with a Window* parameter.
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  virtual ~Window() = default;

  // The class's handler table; true when handled, with the result in *result.
  virtual bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) = 0;
  // Default handling of what the table leaves: DefWindowProc, or the procedure of the system
  // class that a superclass extends.
  virtual LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam);
  // Called after WM_NCDESTROY, when the window is gone.
  virtual void OnFinalMessage() {}

  // For a superclass of a system class: the system class's own procedure.
  WNDPROC baseProc_ = nullptr;

 private:
  HWND hwnd_ = nullptr;
};

// Base of every dialog class, built from a dialog template. The object is attached at
// WM_INITDIALOG (the creation parameter).
class Dialog {
 public:
  Dialog() = default;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  HWND hwnd() const { return hwnd_; }

  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  virtual ~Dialog() = default;
  // As Window::HandleMessage. The result goes back to the dialog manager as the message's result.
  virtual bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) = 0;

 private:
  HWND hwnd_ = nullptr;
};
