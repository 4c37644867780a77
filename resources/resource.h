// Resource IDs shared by the resource script and the code.
#pragma once

// Window caption (string), program icon and accelerator table.
#define IDR_MAINFRAME 128

// Status-bar idle text "Ready".
#define IDS_READY 57345

// Dialog template of the output panel, the list's context menu, the rule input dialog.
#define IDD_OUTPUT_PANEL 202
#define IDR_TARGET_MENU 204
#define IDD_RULE_INPUT 205

// Controls of the output panel and of the rule input dialog.
#define IDC_SAVE_IN_PLACE 1002
#define IDC_SAVE_TO_FOLDER 1003
#define IDC_FOLDER 1004
#define IDC_BROWSE 1005
#define IDC_RULE_EDIT 1004

// Commands. The accelerator keys that only have to be swallowed carry the command numbers of the
// usual edit and file commands.
#define ID_APPLY_RULE 32772
#define ID_REMOVE_FROM_LIST 32773
#define ID_PROPERTIES 32776
#define ID_SELECT_ALL 32778
#define ID_FILE_NEW 57600
#define ID_FILE_OPEN 57601
#define ID_FILE_SAVE 57603
#define ID_FILE_PRINT 57607
#define ID_EDIT_COPY 57634
#define ID_EDIT_CUT 57635
#define ID_EDIT_PASTE 57637
#define ID_EDIT_UNDO 57643  // 元に戻す: the last save
#define ID_NEXT_PANE 57680
#define ID_PREV_PANE 57681
#define ID_UPDATE_TAGS ID_FILE_SAVE
