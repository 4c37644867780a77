#include "targets/CellPainter.h"

#include "resources/Texts.h"

namespace {

// What the list view leaves between a cell's edge and its text.
constexpr int kTextMargin = 6;

}  // namespace

CellPainter::~CellPainter() {
  if (boldFont_) DeleteObject(boldFont_);
}

HFONT CellPainter::NormalFont() const {
  return listFont_ ? listFont_ : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

LRESULT CellPainter::Paint(HWND list, NMLVCUSTOMDRAW* draw,
                           const std::function<void(TargetItem*)>& onScreen) {
  NMCUSTOMDRAW& paint = draw->nmcd;
  TargetItem* item = reinterpret_cast<TargetItem*>(paint.lItemlParam);
  switch (paint.dwDrawStage) {
    case CDDS_PREPAINT: {
      const HFONT font = reinterpret_cast<HFONT>(SendMessageA(list, WM_GETFONT, 0, 0));
      if (font != listFont_ || !boldFont_) {
        // The list's font may change with the system's settings: the bold one follows it.
        LOGFONTA face = {};
        GetObjectA(font ? font : GetStockObject(DEFAULT_GUI_FONT), sizeof face, &face);
        face.lfWeight = FW_BOLD;
        if (boldFont_) DeleteObject(boldFont_);
        boldFont_ = CreateFontIndirectA(&face);
        listFont_ = font;
      }
      return CDRF_NOTIFYITEMDRAW;
    }
    case CDDS_ITEMPREPAINT:
      if (!item) return CDRF_DODEFAULT;
      if (item->values.state == RowValues::Current::kUnknown) onScreen(item);
      return CDRF_NOTIFYSUBITEMDRAW | CDRF_NOTIFYPOSTPAINT;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
      if (!item) return CDRF_DODEFAULT;
      const int field = draw->iSubItem - 1;
      const bool change = field >= 0 && field < kTagFieldCount && item->values.IsChange(field);
      // A change is bold, and in the colour of the selection, which every high-contrast theme sets
      // apart from the text: Wine's list view takes the new font for selected rows only.
      if (item->values.state == RowValues::Current::kNotTaggable)
        draw->clrText = GetSysColor(COLOR_GRAYTEXT);
      else
        draw->clrText = GetSysColor(change ? COLOR_HIGHLIGHT : COLOR_WINDOWTEXT);
      SelectObject(paint.hdc, change && boldFont_ ? boldFont_ : NormalFont());
      return CDRF_NEWFONT;
    }
    case CDDS_ITEMPOSTPAINT:
      if (item) DrawStayingValues(list, draw, *item);
      return CDRF_DODEFAULT;
  }
  return CDRF_DODEFAULT;
}

void CellPainter::DrawStayingValues(HWND list, NMLVCUSTOMDRAW* draw, const TargetItem& item) {
  if (item.values.state != RowValues::Current::kRead) return;
  HDC dc = draw->nmcd.hdc;
  const int row = static_cast<int>(draw->nmcd.dwItemSpec);
  const HGDIOBJ oldFont = SelectObject(dc, NormalFont());
  const COLORREF oldColor = SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
  const int oldMode = SetBkMode(dc, TRANSPARENT);
  for (int field = 0; field < kTagFieldCount; ++field) {
    bool staying = false;
    const std::string& value = item.values.Shown(field, &staying);
    if (!staying) continue;
    RECT cell = {};
    cell.top = field + 1;
    cell.left = LVIR_LABEL;
    if (!SendMessageA(list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&cell))) continue;
    cell.left += kTextMargin;
    cell.right -= kTextMargin;
    const std::wstring text = WideFromActive(value);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &cell,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  }
  SetBkMode(dc, oldMode);
  SetTextColor(dc, oldColor);
  SelectObject(dc, oldFont);
}
