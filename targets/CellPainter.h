// Draws the list's tag cells from the rows' values (NM_CUSTOMDRAW): a pending value that changes
// the file in bold, in the system's colour of the selection; where no value is pending, the
// file's own value in the system's grey text, as staying as it is; a file that cannot be tagged
// greyed as a whole. Only system colours and the list's own font are used, so that high-contrast
// themes hold.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <functional>

#include "targets/TargetItem.h"

class CellPainter {
 public:
  CellPainter() = default;
  ~CellPainter();
  CellPainter(const CellPainter&) = delete;
  CellPainter& operator=(const CellPainter&) = delete;

  // Answers one custom-draw notification of `list`. `onScreen` is told of every row about to be
  // drawn, so that its values can be read first.
  LRESULT Paint(HWND list, NMLVCUSTOMDRAW* draw, const std::function<void(TargetItem*)>& onScreen);

 private:
  HFONT NormalFont() const;
  void DrawStayingValues(HWND list, NMLVCUSTOMDRAW* draw, const TargetItem& item);

  HFONT boldFont_ = nullptr;
  HFONT listFont_ = nullptr;
};
