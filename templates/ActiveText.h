// Fixed texts of the window-free code in the code page the program runs in: code page 932 on
// older systems, UTF-8 where Windows lets the program choose it. The texts are written as UTF-16
// literals, which mean the same characters whatever the compiler's character sets; a narrow
// literal would hold the bytes of one code page only.
#pragma once

#include <string>
#include <string_view>

// `text` in the ANSI code page (CP_ACP on Windows, CP932 in the native build, as its tests are).
std::string ActiveText(std::u16string_view text);
