// Resizing for dialogs built from templates: a size grip in the corner, a minimum tracking size
// (the size at the start), and controls that follow the dialog's width or height.
#pragma once

#include <windows.h>

#include <vector>

class DialogResize {
 public:
  enum Follow : unsigned {
    kWidth = 1,   // the control's width grows with the dialog's width
    kHeight = 2,  // the control's height grows with the dialog's height
    kMoveX = 4,   // the control moves right as the dialog widens
    kMoveY = 8,   // the control moves down as the dialog grows taller
  };

  // Called at WM_INITDIALOG with the controls that follow the size. Adds the styles a resizable
  // window needs and the grip, and records the sizes of the start.
  void Init(HWND dialog, const std::vector<std::pair<int, unsigned>>& controls);

  // WM_GETMINMAXINFO: never smaller than at the start; `fixedHeight` keeps the height too.
  void LimitTracking(MINMAXINFO* limits, bool fixedHeight) const;

  // WM_SIZE: hides the grip when maximised, shows it again when restored, lays out the controls.
  void OnSize(UINT type, int clientWidth, int clientHeight);

  HWND grip() const { return grip_; }

  static const int kGripId = 0x2FFF;

 private:
  struct Record {
    int id;
    unsigned follow;
    RECT rect;  // in client coordinates, at the start
  };

  HWND dialog_ = nullptr;
  HWND grip_ = nullptr;
  bool gripAdded_ = false;
  SIZE initialClient_ = {};
  SIZE minimumTrack_ = {};
  std::vector<Record> records_;
};
