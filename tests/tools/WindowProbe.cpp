// A test tool that looks at the windows of the Wine session from inside, where the X tools
// cannot see: window classes, the texts of a dialog's controls, whether a window exists.
//
//   WindowProbe wait <text> <milliseconds>   waits for a top-level window whose caption or one of
//                                            whose controls shows <text>; prints its caption and
//                                            every control text, one per line, in UTF-8
//   WindowProbe exists <top>                 exit code 0 when the top-level window <top> exists
//   WindowProbe shown <top>                  exit code 0 when it exists and is visible
//   WindowProbe close <top>                  posts WM_CLOSE to the top-level window <top>
//   WindowProbe rect <top> <child>           prints the centre of a descendant of <top> in screen
//                                            coordinates
//   WindowProbe box <top> <child>            prints its left, top, right and bottom edges
//   WindowProbe text <top> <child>           prints the text it shows now
//   WindowProbe count <top> <child>          prints how many rows a list view holds
//   WindowProbe caption <top> <child> <text> exit code 0 when the text the system keeps for it is
//                                            <text>; asks the window nothing, so it answers also
//                                            while the window's thread is busy
//   WindowProbe focus                        prints the class and caption of the active window,
//                                            then the class and control id of the focused one
//
// <top> is the first top-level window of a class, or "caption:TEXT" for the one with that caption;
// <child> is "id:N", "class:NAME" or "text:TEXT".
//
// Arguments arrive in the ANSI code page; output is UTF-8 so that the shell can compare it.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string ToUtf8(const char* ansi) {
  int wide = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
  std::wstring w(wide, L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi, -1, w.data(), wide);
  int bytes = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(bytes, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, out.data(), bytes, nullptr, nullptr);
  if (!out.empty() && out.back() == 0) out.pop_back();
  return out;
}

std::string TextOf(HWND hwnd) {
  char text[1024] = "";
  GetWindowTextA(hwnd, text, sizeof text);
  return text;
}

// For a window of another process GetWindowText answers with the text the system keeps for it,
// which an edit control does not update; WM_GETTEXT asks the control itself.
std::string ShownTextOf(HWND hwnd) {
  char text[1024] = "";
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                      SMTO_ABORTIFHUNG, 5000, &copied);
  return text;
}

struct Search {
  std::string wanted;
  HWND found = nullptr;
};

BOOL CALLBACK CheckChild(HWND child, LPARAM context) {
  auto* search = reinterpret_cast<Search*>(context);
  if (TextOf(child).find(search->wanted) != std::string::npos) {
    search->found = child;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK CheckTopLevel(HWND hwnd, LPARAM context) {
  auto* search = reinterpret_cast<Search*>(context);
  if (!IsWindowVisible(hwnd)) return TRUE;
  if (TextOf(hwnd).find(search->wanted) != std::string::npos) {
    search->found = hwnd;
    return FALSE;
  }
  Search inner{search->wanted};
  EnumChildWindows(hwnd, CheckChild, reinterpret_cast<LPARAM>(&inner));
  if (inner.found) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
  char className[256] = "";
  GetClassNameA(child, className, sizeof className);
  // A thread that has not taken messages for a while counts as hung, and is not asked (a box
  // just shown on a busy machine): the text the system keeps for a button or a label is the same.
  std::string text = ShownTextOf(child);
  if (text.empty()) text = TextOf(child);
  std::printf("%s: %s\n", className, ToUtf8(text.c_str()).c_str());
  return TRUE;
}

int Wait(const char* text, int milliseconds) {
  Search search{text};
  for (int waited = 0; waited <= milliseconds; waited += 100) {
    search.found = nullptr;
    EnumWindows(CheckTopLevel, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      char className[256] = "";
      GetClassNameA(search.found, className, sizeof className);
      std::printf("%s: %s\n", className, ToUtf8(TextOf(search.found).c_str()).c_str());
      EnumChildWindows(search.found, PrintChild, 0);
      return 0;
    }
    Sleep(100);
  }
  std::printf("no window shows the text\n");
  return 1;
}

struct WantedChild {
  std::string kind, value;
  HWND found = nullptr;
};

BOOL CALLBACK MatchChild(HWND child, LPARAM context) {
  auto* wanted = reinterpret_cast<WantedChild*>(context);
  char className[256] = "";
  GetClassNameA(child, className, sizeof className);
  const bool match =
      (wanted->kind == "id" && GetDlgCtrlID(child) == std::atoi(wanted->value.c_str())) ||
      (wanted->kind == "class" && wanted->value == className) ||
      (wanted->kind == "text" && wanted->value == TextOf(child));
  if (match && IsWindowVisible(child)) {
    wanted->found = child;
    return FALSE;
  }
  return TRUE;
}

HWND FindTop(const std::string& top) {
  const std::string byCaption = "caption:";
  if (top.compare(0, byCaption.size(), byCaption) == 0)
    return FindWindowA(nullptr, top.c_str() + byCaption.size());
  return FindWindowA(top.c_str(), nullptr);
}

HWND FindChild(const std::string& top, const std::string& child) {
  HWND topWindow = FindTop(top);
  const size_t colon = child.find(':');
  if (!topWindow || colon == std::string::npos) return nullptr;
  WantedChild wanted{child.substr(0, colon), child.substr(colon + 1)};
  EnumChildWindows(topWindow, MatchChild, reinterpret_cast<LPARAM>(&wanted));
  return wanted.found;
}

int Rect(const std::string& top, const std::string& child, bool edges) {
  HWND found = FindChild(top, child);
  if (!found) return 1;
  RECT rect;
  GetWindowRect(found, &rect);
  if (edges)
    std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
  else
    std::printf("%ld %ld\n", (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  return 0;
}

int Text(const std::string& top, const std::string& child, bool kept) {
  HWND found = FindChild(top, child);
  if (!found) return 1;
  std::printf("%s\n", ToUtf8((kept ? TextOf(found) : ShownTextOf(found)).c_str()).c_str());
  return 0;
}

int Count(const std::string& top, const std::string& child) {
  HWND found = FindChild(top, child);
  DWORD_PTR rows = 0;
  if (!found || !SendMessageTimeoutA(found, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &rows))
    return 1;
  std::printf("%lu\n", static_cast<unsigned long>(rows));
  return 0;
}

// Where keyboard input goes now: the foreground thread's active and focused windows.
int Focus() {
  GUITHREADINFO info = {sizeof info};
  if (!GetGUIThreadInfo(0, &info) || !info.hwndActive) return 1;
  char className[256] = "";
  GetClassNameA(info.hwndActive, className, sizeof className);
  std::printf("%s: %s\n", className, ToUtf8(TextOf(info.hwndActive).c_str()).c_str());
  className[0] = 0;
  if (info.hwndFocus) GetClassNameA(info.hwndFocus, className, sizeof className);
  std::printf("%s: %d\n", className, info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "wait") == 0) return Wait(argv[2], std::atoi(argv[3]));
  if (argc >= 3 && std::strcmp(argv[1], "exists") == 0) return FindTop(argv[2]) ? 0 : 1;
  if (argc >= 3 && std::strcmp(argv[1], "shown") == 0)
    return IsWindowVisible(FindTop(argv[2])) ? 0 : 1;
  if (argc >= 3 && std::strcmp(argv[1], "close") == 0) {
    HWND hwnd = FindTop(argv[2]);
    return hwnd && PostMessageA(hwnd, WM_CLOSE, 0, 0) ? 0 : 1;
  }
  if (argc >= 4 && std::strcmp(argv[1], "rect") == 0) return Rect(argv[2], argv[3], false);
  if (argc >= 4 && std::strcmp(argv[1], "box") == 0) return Rect(argv[2], argv[3], true);
  if (argc >= 4 && std::strcmp(argv[1], "text") == 0) return Text(argv[2], argv[3], false);
  // The text the system keeps, readable while the window's thread is busy (a status bar).
  if (argc >= 4 && std::strcmp(argv[1], "kept") == 0) return Text(argv[2], argv[3], true);
  if (argc >= 4 && std::strcmp(argv[1], "count") == 0) return Count(argv[2], argv[3]);
  if (argc >= 2 && std::strcmp(argv[1], "focus") == 0) return Focus();
  if (argc >= 5 && std::strcmp(argv[1], "caption") == 0) {
    HWND found = FindChild(argv[2], argv[3]);
    return found && TextOf(found) == argv[4] ? 0 : 1;
  }
  std::fprintf(stderr,
               "usage: WindowProbe wait <text> <ms> | exists <top> | shown <top> | close <top>"
               " | rect <top> <child> | box <top> <child> | text <top> <child> | count <top> <child>"
               " | focus"
               " | caption <top> <child> <text>\n");
  return 2;
}
