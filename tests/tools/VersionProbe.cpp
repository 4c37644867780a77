// A test tool that reads a file's version block the way Explorer's properties do (version.dll):
//
//   VersionProbe <file>   prints "fixed A.B.C.D", "product A.B.C.D", then "Name: value" for each
//                         string of the block's first language; exit code 1 without a block
#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

void PrintNumbers(const char* name, DWORD high, DWORD low) {
  std::printf("%s %lu.%lu.%lu.%lu\n", name, static_cast<unsigned long>(HIWORD(high)),
              static_cast<unsigned long>(LOWORD(high)), static_cast<unsigned long>(HIWORD(low)),
              static_cast<unsigned long>(LOWORD(low)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(argv[1], &ignored);
  if (size == 0) return 1;
  std::vector<char> block(size);
  if (!GetFileVersionInfoA(argv[1], 0, size, block.data())) return 1;

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed)
    return 1;
  PrintNumbers("fixed", fixed->dwFileVersionMS, fixed->dwFileVersionLS);
  PrintNumbers("product", fixed->dwProductVersionMS, fixed->dwProductVersionLS);

  struct Translation {
    WORD language, codePage;
  }* translations = nullptr;
  if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translations), &length) ||
      length < sizeof *translations)
    return 1;
  for (const char* name : {"FileDescription", "FileVersion", "InternalName", "OriginalFilename",
                           "ProductName", "ProductVersion"}) {
    char query[128];
    wsprintfA(query, "\\StringFileInfo\\%04x%04x\\%s", translations->language,
              translations->codePage, name);
    char* value = nullptr;
    if (VerQueryValueA(block.data(), query, reinterpret_cast<void**>(&value), &length) && value)
      std::printf("%s: %s\n", name, value);
  }
  return 0;
}
