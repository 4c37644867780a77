// The property view of mp3infp_ViewPropEx: a modal dialog with the file's path and kind and, for
// each tag it has, the seven fields, read-only.
#pragma once

#include <windows.h>

namespace mp3infp {

// False when the file cannot be read or the dialog cannot be shown.
bool ShowPropertyDialog(HINSTANCE module, HWND owner, const char* path);

}  // namespace mp3infp
