// A test tool that looks at the windows of the Wine session from inside, where the X tools
// cannot see: window classes, the texts of a dialog's controls, whether a window exists.
//
//   WindowProbe wait <text> <milliseconds>   waits for a top-level window whose caption or one of
//                                            whose controls shows <text>; prints its caption and
//                                            every control text, one per line, in UTF-8
//   WindowProbe exists <class>               exit code 0 when a top-level window of <class> exists
//   WindowProbe close <class>                posts WM_CLOSE to the first window of <class>
//   WindowProbe rect <class> <child>         prints the centre of a descendant of the first
//                                            window of <class> in screen coordinates; <child> is
//                                            "id:N", "class:NAME" or "text:TEXT"
//
// Arguments arrive in the ANSI code page; output is UTF-8 so that the shell can compare it.
#include <windows.h>

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
  std::printf("%s: %s\n", className, ToUtf8(TextOf(child).c_str()).c_str());
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

int Rect(const char* topClass, const std::string& child) {
  HWND top = FindWindowA(topClass, nullptr);
  if (!top) return 1;
  const size_t colon = child.find(':');
  if (colon == std::string::npos) return 2;
  WantedChild wanted{child.substr(0, colon), child.substr(colon + 1)};
  EnumChildWindows(top, MatchChild, reinterpret_cast<LPARAM>(&wanted));
  if (!wanted.found) return 1;
  RECT rect;
  GetWindowRect(wanted.found, &rect);
  std::printf("%ld %ld\n", (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "wait") == 0) return Wait(argv[2], std::atoi(argv[3]));
  if (argc >= 3 && std::strcmp(argv[1], "exists") == 0)
    return FindWindowA(argv[2], nullptr) ? 0 : 1;
  if (argc >= 3 && std::strcmp(argv[1], "close") == 0) {
    HWND hwnd = FindWindowA(argv[2], nullptr);
    return hwnd && PostMessageA(hwnd, WM_CLOSE, 0, 0) ? 0 : 1;
  }
  if (argc >= 4 && std::strcmp(argv[1], "rect") == 0) return Rect(argv[2], argv[3]);
  std::fprintf(stderr, "usage: WindowProbe wait <text> <ms> | exists <class> | close <class>\n");
  return 2;
}
