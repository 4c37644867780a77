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
